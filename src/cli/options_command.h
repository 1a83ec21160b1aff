#pragma once
// `quorvel settings` and `quorvel conflicts` (and the lists, exclude and multi): show and change a
// session's options through the same editors as the option panels, so that the command refuses what
// the panels refuse.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"

namespace qv::cli {

struct OptionsArguments {
    std::string command;                      // "settings", "conflicts", "exclude", "multi"
    std::vector<std::string> words;           // the verb, then KEY=VALUE for set
    std::optional<std::string> session;       // --session NAME
    std::optional<std::string> sessionIndex;  // --session-index N, as given
    std::string document;                     // --document, or "" for the template
    bool json = false;
};

// Checks what can be checked before the document is read: the verb, one way of naming the
// session. "" when the arguments are usable.
std::string CheckOptionsArguments(const OptionsArguments& args);

// Writes the document (--document, or "" for the template) once, atomically; kExitOk, or
// kExitUsage after saying why on err.
int WriteOptionsDocument(app::MainApp& app, const std::string& document, std::ostream& err);

// Exit statuses: 0 done, 1 subfolder-name found no usable name, 2 a refusal (no such or an
// ambiguous session, unknown key, bad value, a document that cannot be written).
int RunOptionsCommand(app::MainApp& app, const OptionsArguments& args, std::ostream& out,
                      std::ostream& err);

}  // namespace qv::cli
