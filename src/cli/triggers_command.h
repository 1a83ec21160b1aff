#pragma once
// `quorvel triggers`: a session's triggers (run when a volume of the session appears, run when
// its source has changed) shown and changed through the same editor as the timer panel's
// trigger section.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"

namespace qv::cli {

struct TriggersArguments {
    std::vector<std::string> words;           // the verb and its words
    std::optional<std::string> session;       // --session NAME
    std::optional<std::string> sessionIndex;  // --session-index N, as given
    std::string document;                     // --document, or "" for the template
    bool json = false;
};

// What can be checked before the document is read; "" when the arguments are usable.
std::string CheckTriggersArguments(const TriggersArguments& args);
// Whether the verb changes the document (and so waits for other commands doing so).
bool TriggersVerbChanges(const TriggersArguments& args);

// Exit statuses: 0 done, 2 a refusal (no such session, a bad key, kind or value, a document
// that cannot be written); nothing is written unless every word is taken.
int RunTriggersCommand(app::MainApp& app, const TriggersArguments& args, std::ostream& out,
                       std::ostream& err);

}  // namespace qv::cli
