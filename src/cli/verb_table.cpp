#include "cli/verb_table.h"

#include <cstdint>
#include <ostream>

#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"

namespace qv::cli {

const Verb* FindVerb(std::span<const Verb> verbs, const std::string& name) {
    for (const Verb& verb : verbs) {
        if (name == verb.name) return &verb;
    }
    return nullptr;
}

std::string CheckVerbWords(std::span<const Verb> verbs, const std::string& command,
                           const std::vector<std::string>& words) {
    const Verb* verb = words.empty() ? nullptr : FindVerb(verbs, words.front());
    if (verb == nullptr) {
        return "unknown " + command + " verb '" + (words.empty() ? "" : words.front()) + "'";
    }
    const std::size_t after = words.size() - 1;
    if (after < verb->minWords || after > verb->maxWords) {
        return std::string("usage: quorvel ") + verb->usage;
    }
    return {};
}

std::optional<std::size_t> RowIndex(const std::string& word, std::size_t rows, const char* what,
                                    std::ostream& err) {
    const std::optional<std::int64_t> n = ParseInteger(word);
    const auto count = static_cast<std::int64_t>(rows);
    if (!n || *n < 1 || *n > count) {
        err << "quorvel: no " << what << " '" << TerminalName(word)
            << "': the rows are numbered 1 to " << count << "\n";
        return std::nullopt;
    }
    return static_cast<std::size_t>(*n - 1);
}

void SayRowRefused(const std::string& message, const std::string& field, std::ostream& err) {
    err << "quorvel: " << platform::GLS("Warning:") << " " << ForTerminal(message)
        << (field.empty() ? "" : " (" + field + ")") << "\n";
}

}  // namespace qv::cli
