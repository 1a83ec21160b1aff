#pragma once
// Names (paths, session names) as the run's texts carry them: the log, the alerts and the
// report. Those texts end their lines with carriage returns, so a carriage return inside a
// name is written "\r", two characters; otherwise a name could end a line of the log and
// forge the next one ("√ Can't read ..."). Every other byte stays as it is.

#include <string>
#include <string_view>

namespace qv::run {

inline std::string LogName(std::string_view name) {
    std::string text;
    text.reserve(name.size());
    for (const char c : name) {
        if (c == '\r') {
            text += "\\r";
        } else {
            text.push_back(c);
        }
    }
    return text;
}

// A name between double quotes, as most messages show it.
inline std::string Quoted(std::string_view name) { return "\"" + LogName(name) + "\""; }

}  // namespace qv::run
