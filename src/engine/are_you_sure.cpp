#include "engine/are_you_sure.h"

#include <climits>

#include "items/alias_files.h"
#include "items/tw_utilities.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "sessions/script_options.h"
#include "sessions/settings_options.h"

namespace qv::engine {

using platform::GLS;

namespace {

bool ScriptRuns(const plist::Value* scripts, const char* onKey, const char* textKey) {
    return scripts != nullptr && scripts->intAt(onKey, 0) == 1 &&
           !sessions::IsEmptyScript(scripts->stringAt(textKey));
}

// " and run its before-script", and the like: the scripts the run will start, said before
// the question mark.
std::string WithScripts(std::string message, const plist::Value& session) {
    const plist::Value* scripts = session.dictAt("appleScriptDict");
    const bool before = ScriptRuns(scripts, "asStartOn", "asStartText");
    const bool after = ScriptRuns(scripts, "asEndOn", "asEndText");
    if (!before && !after) return message;
    const std::string phrase = before && after ? GLS(" and run its before- and after-scripts")
                               : before        ? GLS(" and run its before-script")
                                               : GLS(" and run its after-script");
    message.insert(message.size() - 1, phrase);
    return message;
}

}  // namespace

std::optional<Confirmation> AreYouSure(const sessions::SessionDocument& document,
                                       std::int64_t sessionIndex, const plist::Value& preferences,
                                       bool startedByUser, bool exactAsks) {
    if (!startedByUser) return std::nullopt;
    if (preferences.intAt("prefAskConfirmation", 1) == 0) {
        const auto exact = [&document](std::int64_t index) {
            const plist::Value* session = document.GetSessionDict(index);
            const plist::Value* settings = session ? session->dictAt("settingsDict") : nullptr;
            return settings != nullptr && settings->intAt("settExact") == 1;
        };
        bool anyExact = false;
        if (document.IsAllSessions(sessionIndex)) {
            for (std::int64_t i = 0; i < document.SessionCount(); ++i)
                anyExact = anyExact || exact(i);
        } else {
            anyExact = exact(sessionIndex);
        }
        if (!exactAsks || !anyExact) return std::nullopt;
    }
    Confirmation c{GLS("Starting task:"), "", GLS("OK"), GLS("Cancel")};
    if (document.IsAllSessions(sessionIndex)) {
        c.message = GLS("Are you sure you want to execute the tasks defined in all the sessions?");
        for (std::int64_t i = 0; i < document.SessionCount(); ++i) {
            const plist::Value* session = document.GetSessionDict(i);
            const plist::Value* scripts = session ? session->dictAt("appleScriptDict") : nullptr;
            if (ScriptRuns(scripts, "asStartOn", "asStartText") ||
                ScriptRuns(scripts, "asEndOn", "asEndText")) {
                c.message.insert(c.message.size() - 1, GLS(" and run their scripts"));
                break;
            }
        }
        return c;
    }
    static const plist::Value kEmpty;
    const plist::Value* found = document.GetSessionDict(sessionIndex);
    const plist::Value& session = found ? *found : kEmpty;
    const plist::Value* settings = session.dictAt("settingsDict");
    const bool sync = settings && settings->intAt("settTask") == sessions::kTaskSynchronize;
    const std::string q = "\"";
    const std::string verb = (sync ? GLS("synchronize") : GLS("backup")) + " ";
    const std::string link = q + " " + (sync ? GLS("with the") : GLS("to the")) + " ";
    // Not translated: the word is part of the task's name.
    const std::string exact = settings && settings->intAt("settExact") == 1 ? "exactly " : "";
    const plist::Value* multi = session.dictAt("multiDict");
    if (multi && multi->intAt("multiOn") == 1) {
        c.message = WithScripts(
            GLS("Are you sure you want to") + " " + verb + exact + GLS("from the multiple list?"),
            session);
        return c;
    }
    const plist::Value* console = session.dictAt("consoleDict");
    const std::string source = console ? console->stringAt("topFolder") : "";
    const std::string dest = console ? console->stringAt("bottomFolder") : "";
    // The kind is that of what the run will use; the names stay the session's.
    std::string used = source;
    if (settings && settings->intAt("settResolveAlias") == 1) items::ResolveTheAlias(used);
    if (settings && settings->intAt("settResolveSymLink") == 1) {
        char real[PATH_MAX];
        if (platform::sys().realpath(used.c_str(), real) != nullptr) used = real;
    }
    const items::TWUtilities tw;
    const std::string kind = (tw.IsReallyFolder(used) ? GLS("folder") : GLS("file")) + " " + q;
    c.message = WithScripts(GLS("Are you sure you want to") + " " + verb + exact + GLS("the") +
                                " " + kind + platform::LastPathComponent(source) + link + kind +
                                platform::LastPathComponent(dest) + q + "?",
                            session);
    return c;
}

}  // namespace qv::engine
