#pragma once
// `quorvel exclude` and `quorvel multi`: show and change a session's exclude list and
// multiple list through the panels' editors, rows numbered from 1 as the panels show them.

#include <iosfwd>
#include <string>

#include "app/main_app.h"
#include "cli/options_command.h"

namespace qv::cli {

bool IsListCommand(const std::string& command);  // "exclude" or "multi"

// The verb and its words, before the document is read; "" when usable.
std::string CheckListArguments(const OptionsArguments& args);

// Exit statuses: 0 done, 2 a refusal (no such session or row, a path a document cannot store,
// the panel's own refusal, a document that cannot be written).
int RunListCommand(app::MainApp& app, const OptionsArguments& args, std::ostream& out,
                   std::ostream& err);

}  // namespace qv::cli
