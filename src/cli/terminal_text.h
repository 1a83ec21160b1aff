#pragma once
// Texts of alerts and logs keep carriage returns as line ends; a terminal wants line feeds.

#include <string>

namespace qv::cli {

inline std::string ForTerminal(std::string text) {
    for (char& c : text) {
        if (c == '\r') c = '\n';
    }
    return text;
}

}  // namespace qv::cli
