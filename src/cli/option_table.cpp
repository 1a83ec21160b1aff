#include "cli/option_table.h"

#include <iomanip>
#include <sstream>

namespace qv::cli {

namespace {

constexpr int kHelpNameWidth = 15;  // the names column of the option lines of --help

const OptionRow* FindOption(const Grammar& grammar, const std::string& word) {
    for (const OptionRow* option : grammar.options) {
        if (Names(*option, word)) return option;
    }
    return nullptr;
}

// The option part of a word and its attached value: "--name=value" when the grammar splits every
// such word or the name is an option whose value may be attached; otherwise the whole word.
std::string OptionName(const Grammar& grammar, const std::string& word,
                       std::optional<std::string>* attached) {
    const std::size_t equals = word.find('=');
    if (!word.starts_with("--") || equals == std::string::npos) return word;
    std::string name = word.substr(0, equals);
    const OptionRow* option = FindOption(grammar, name);
    if (!grammar.splitEveryEquals &&
        (option == nullptr || option->value == nullptr || !option->attached)) {
        return word;
    }
    *attached = word.substr(equals + 1);
    return name;
}

}  // namespace

bool ParsedLine::Has(const OptionRow& option) const {
    for (const Given& one : given) {
        if (one.option == &option) return true;
    }
    return false;
}

bool Names(const OptionRow& option, const std::string& word) {
    if (word == option.name) return true;
    return option.shortName != 0 && word.size() == 2 && word[0] == '-' &&
           word[1] == option.shortName;
}

std::string ParseLine(const Grammar& grammar, std::span<const std::string> words,
                      ParsedLine* line) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (grammar.endMarker && word == "--") {
            line->operands.insert(line->operands.end(), words.begin() + i + 1, words.end());
            break;
        }
        std::optional<std::string> attached;
        const std::string name = OptionName(grammar, word, &attached);
        const OptionRow* option = FindOption(grammar, name);
        if (option == nullptr) {
            if (!grammar.strangersAreWords && word.size() > 1 && word[0] == '-') {
                return "unknown option '" + name + "'";
            }
            line->operands.push_back(word);
        } else if (option->value == nullptr) {
            if (attached) return "unknown option '" + name + "'";
            line->given.push_back({option, {}});
        } else if (attached) {
            line->given.push_back({option, *attached});
        } else if (i + 1 < words.size()) {
            line->given.push_back({option, words[++i]});
        } else {
            return name + " needs " + option->value;
        }
    }
    return {};
}

std::string OptionHelpLines(std::span<const OptionRow* const> options) {
    std::ostringstream lines;
    for (const OptionRow* option : options) {
        if (option->help == nullptr) continue;
        std::string names = option->name;
        if (option->shortName != 0) names = std::string("-") + option->shortName + ", " + names;
        lines << "  " << std::left << std::setw(kHelpNameWidth) << names << option->help << "\n";
    }
    return lines.str();
}

}  // namespace qv::cli
