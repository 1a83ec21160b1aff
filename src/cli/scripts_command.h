#pragma once
// `quorvel scripts`: the shell scripts a session runs before and after itself, shown, set,
// switched on and off, checked and tried through the editor the scripts panel uses.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"

namespace qv::cli {

struct ScriptsArguments {
    // show | set before|after | on before|after | off before|after | check | try before|after
    std::vector<std::string> words;
    std::optional<std::string> session;       // --session NAME
    std::optional<std::string> sessionIndex;  // --session-index N
    std::string document;                     // --document, or "" for the template
    std::optional<std::string> file;          // --file FILE: set takes the text from it
    std::optional<std::string> text;          // --text TEXT: or as given
};

// "" when the words and options make a command; otherwise what is wrong.
std::string CheckScriptsArguments(const ScriptsArguments& args);

// Exit statuses: 0 done; 1 check found a switched-on script that does not pass; 2 a refusal
// (no such session, a text that does not pass, a file that cannot be read, a document that
// cannot be written); try: the script's own status (128 + the signal that ended it, 124 when
// it ran past its time limit).
int RunScriptsCommand(app::MainApp& app, const ScriptsArguments& args, std::ostream& out,
                      std::ostream& err);

}  // namespace qv::cli
