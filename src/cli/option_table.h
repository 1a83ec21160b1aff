#pragma once
// The options of the command's verbs, declared by table, and the one parser that reads a command
// line by such a table: which words are options, their values, the operands, and what is wrong.
// Each verb then takes the options it knows into its own arguments struct (Take, Fill).

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace qv::cli {

struct OptionRow {
    const char* name;   // "--document"
    char shortName;     // 'h' for "-h"; 0 when it has none
    const char* value;  // nullptr for a switch; else the value as "--name needs a file" names it
    bool attached;      // the value may also follow "=" in the same word: --name=VALUE
    const char* help;   // the line --help gives the option when it lists it on its own
};

enum class Attach { kNo, kYes };  // whether the value may follow "=" in the option's own word

constexpr OptionRow Switch(const char* name, const char* help = nullptr, char shortName = 0) {
    return {name, shortName, nullptr, false, help};
}
constexpr OptionRow WithValue(const char* name, const char* value, Attach attach) {
    return {name, 0, value, attach == Attach::kYes, nullptr};
}

// How a group of verbs reads its words.
struct Grammar {
    std::span<const OptionRow* const> options;
    bool endMarker = true;           // "--" ends the options: every later word is an operand
    bool strangersAreWords = false;  // a word that is none of the options is an operand, even
                                     // when it begins with "-" (a value may)
    bool splitEveryEquals = false;   // every "--name=..." is a name and a value, so that a
                                     // stranger or a switch given so is told by its name alone
};

// A command line read by a grammar.
struct ParsedLine {
    struct Given {
        const OptionRow* option;
        std::string value;  // "" for a switch
    };
    std::vector<Given> given;  // in the order of the words
    std::vector<std::string> operands;

    bool Has(const OptionRow& option) const;
};

// Whether the word names the option: its name, or "-" and its short name.
bool Names(const OptionRow& option, const std::string& word);

// Reads the words; "" when they parse, otherwise what is wrong ("unknown option '-x'", "--document
// needs a file"): the first mistake from the left.
std::string ParseLine(const Grammar& grammar, std::span<const std::string> words, ParsedLine* line);

// The lines --help gives the options that have one: "  -h, --help     Show this text."
std::string OptionHelpLines(std::span<const OptionRow* const> options);

template <class Member>
struct MemberOf;
template <class Class, class Type>
struct MemberOf<Type Class::*> {
    using Arguments = Class;
    using Field = Type;
};

// Keeps an option of the line in a field of a verb's arguments: a switch in a bool, a value in a
// string (the last one given) or in an optional string, which also tells whether it was given.
template <auto field>
void StoreInto(typename MemberOf<decltype(field)>::Arguments& args, const std::string& value) {
    if constexpr (std::is_same_v<typename MemberOf<decltype(field)>::Field, bool>) {
        args.*field = true;
    } else {
        args.*field = value;
    }
}

// A row of a verb's options table: the option, and where it goes: {&kForce, Into<&A::force>}.
template <class Arguments>
struct Take {
    const OptionRow* option;
    void (*store)(Arguments& args, const std::string& value);
};
template <auto field>
constexpr auto Into = &StoreInto<field>;

template <class Arguments, std::size_t N>
bool Takes(const Take<Arguments> (&table)[N], const OptionRow& option) {
    for (const Take<Arguments>& take : table) {
        if (take.option == &option) return true;
    }
    return false;
}

// The verb's arguments from the options of the line that its table takes; it ignores others.
template <class Arguments, std::size_t N>
void Fill(const Take<Arguments> (&table)[N], const ParsedLine& line, Arguments* args) {
    for (const ParsedLine::Given& given : line.given) {
        for (const Take<Arguments>& take : table) {
            if (take.option == given.option) take.store(*args, given.value);
        }
    }
}

}  // namespace qv::cli
