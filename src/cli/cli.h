#pragma once
// The `quorvel` command: verbs over the engine for scripts and terminals.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/run_lock.h"
#include "sessions/option_text.h"

namespace qv::app {
class MainApp;
}
namespace qv::sessions {
class SessionDocument;
}

namespace qv::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;  // bad arguments, unreadable or refused documents

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

// Says on err what is wrong with the command line, and where to look; returns kExitUsage.
int SayUsage(std::ostream& err, const std::string& message);
// Says on err why a valid command line is refused (no usage hint); returns kExitUsage.
int Refuse(std::ostream& err, const std::string& message);

// Starts the application core for a verb; false after saying why on err. What the start had
// to say (a damaged settings file kept aside) goes to err as warnings. With `hold`, the verb
// changes the template or the preferences: it first waits for any other command doing so and
// keeps them waiting until *hold is released, so that two of them never undo each other.
bool StartApp(app::MainApp& app, std::ostream& err,
              std::optional<platform::RunLock>* hold = nullptr);

// Opens the document of --document in place of the template read at start-up ("" keeps the
// template); false after saying why on err. A failure in place of the template leaves no
// sessions open: the command ends there. In place of a named document, that one stays open.
bool OpenDocument(app::MainApp& app, const std::string& document, std::ostream& err);
// Without --document the verbs work on the template: it is written when missing, so that the
// user finds the two default sessions there.
void EnsureTemplateOnDisk(app::MainApp& app, std::ostream& err);

// A path given on the command line as a session stores it: absolute, without a trailing "/",
// and one a document can hold. One that is not there now (a folder when `folder`) is stored
// with a warning, since it may lie on a volume that is not mounted. Nothing, after saying why
// on err (emptyMessage for an empty path), otherwise.
std::optional<std::string> StoredPath(const std::string& given, bool folder,
                                      const std::string& emptyMessage, std::ostream& err);

using sessions::ParseInteger;
// The session named by --session-index when given, else by name; -1 after saying on err why
// there is none (no such index or name, or a name two sessions share).
std::int64_t SelectSession(const sessions::SessionDocument& doc,
                           const std::optional<std::string>& sessionIndex, const std::string& name,
                           std::ostream& err);

}  // namespace qv::cli
