#pragma once
// The `quorvel` command: verbs over the engine for scripts and terminals.

#include <iosfwd>
#include <string>

namespace qv::app {
class MainApp;
}

namespace qv::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;  // bad arguments, unreadable or refused documents

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

// Opens the document of --document in place of the template read at start-up ("" keeps the
// template); false after saying why on err.
bool OpenDocument(app::MainApp& app, const std::string& document, std::ostream& err);
// Without --document the verbs work on the template: it is written when missing, so that the
// user finds the two default sessions there.
void EnsureTemplateOnDisk(app::MainApp& app, std::ostream& err);

}  // namespace qv::cli
