#pragma once
// `quorvel filter`: shows and changes a session's filters through the same editor as the
// filters panel (rows numbered from 1, as the panel's table), and tells what the filters make
// of one item.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"

namespace qv::cli {

struct FilterArguments {
    std::vector<std::string> words;           // the verb and its words
    std::optional<std::string> session;       // --session NAME
    std::optional<std::string> sessionIndex;  // --session-index N, as given
    std::string document;                     // --document, or "" for the template
};

// What can be checked before the document is read; "" when the arguments are usable.
std::string CheckFilterArguments(const FilterArguments& args);

// Exit statuses: 0 done, 2 a refusal (no such session or row, a bad key or value, a row the
// row editor refuses, a document that cannot be written).
int RunFilterCommand(app::MainApp& app, const FilterArguments& args, std::ostream& out,
                     std::ostream& err);

}  // namespace qv::cli
