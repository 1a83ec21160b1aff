#pragma once
// The verbs of the commands that edit an option's numbered rows (filter, timers): each verb's
// count of words, the row a word names and how a refused row is told.

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qv::cli {

// A verb and how many words it takes after itself.
struct Verb {
    const char* name;
    std::size_t minWords;
    std::size_t maxWords;  // SIZE_MAX: no limit
    const char* usage;     // the words after "quorvel", shown when the count is wrong
};

const Verb* FindVerb(std::span<const Verb> verbs, const std::string& name);

// "" when the first word is one of the verbs and as many words as it takes follow; otherwise
// what is wrong ("unknown <command> verb '...'", or the verb's usage).
std::string CheckVerbWords(std::span<const Verb> verbs, const std::string& command,
                           const std::vector<std::string>& words);

// The row a word names (from 1) among `rows`, as an index; nothing after saying on err that
// there is no such <what> ("filter row", "timer row").
std::optional<std::size_t> RowIndex(const std::string& word, std::size_t rows, const char* what,
                                    std::ostream& err);

// Says on err why the row editor refused a row, with the field at fault when it names one.
void SayRowRefused(const std::string& message, const std::string& field, std::ostream& err);

}  // namespace qv::cli
