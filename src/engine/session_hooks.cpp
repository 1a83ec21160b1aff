#include "engine/session_hooks.h"

#include "platform/localization.h"
#include "run/log_name.h"

namespace qv::engine {

using platform::GLS;

void SessionHooks::Compile(const std::vector<std::int64_t>& sessions, std::chrono::seconds timeout,
                           bool runAsRoot, uid_t invokingUser) {
    entries_.clear();
    afterStop_ = false;
    timeout_ = timeout;
    bool refused = false;
    for (const std::int64_t index : sessions) {
        const plist::Value* session = document_.GetSessionDict(index);
        const plist::Value* dict = session ? session->dictAt("appleScriptDict") : nullptr;
        if (dict == nullptr) continue;
        const bool beforeOn = dict->intAt("asStartOn", 0) == 1;
        const bool afterOn = dict->intAt("asEndOn", 0) == 1;
        if (!beforeOn && !afterOn) continue;
        std::string why;
        if (runAsRoot && !sessions::ScriptsMayRunAsRoot(document_, invokingUser, &why)) {
            // Said once for the document, counted in the first session it would have run for.
            if (!refused) errors_.Record(index, why);
            refused = true;
            continue;
        }
        Entry& entry = entries_[index];
        const struct {
            bool on;
            const char* textKey;
            const char* message;
            std::string* compiled;
        } kinds[] = {
            {beforeOn, "asStartText", "Error compiling the first AppleScript.", &entry.before},
            {afterOn, "asEndText", "Error compiling the second AppleScript.", &entry.after}};
        for (const auto& kind : kinds) {
            if (!kind.on) continue;
            const std::string& text = dict->stringAt(kind.textKey);
            std::optional<sessions::ScriptFault> fault;
            if (sessions::IsEmptyScript(text)) {
                fault = sessions::ScriptFault{"\r" + GLS("The script is empty."), 0};
            } else {
                fault = sessions::CheckScript(runner_, text);
            }
            if (fault) {
                errors_.Record(index, GLS(kind.message) + fault->description);
            } else {
                *kind.compiled = text;
            }
        }
    }
}

void SessionHooks::RunBefore(std::int64_t sessionIndex) {
    const auto found = entries_.find(sessionIndex);
    if (found == entries_.end() || found->second.before.empty()) return;
    found->second.beforeRan = true;
    const platform::ChildResult result = sessions::RunScript(
        runner_, found->second.before,
        sessions::ScriptEnvironment(document_, sessionIndex, sessions::ScriptWhen::kBefore),
        timeout_, &state_.mUserPressedStop);
    if (result.ok()) return;
    errors_.Record(
        sessionIndex,
        platform::FormatText("Error running the script %@ the session \"%@\".",
                             {"before", run::LogName(document_.GetSessionName(sessionIndex))}) +
            sessions::ScriptErrorDescription(result));
}

void SessionHooks::RunAfter(std::int64_t sessionIndex, std::int64_t errors, bool stopped) {
    const auto found = entries_.find(sessionIndex);
    if (found == entries_.end() || found->second.after.empty() || found->second.afterRan) return;
    Entry& entry = found->second;
    entry.afterRan = true;
    std::vector<std::pair<std::string, std::string>> environment =
        sessions::ScriptEnvironment(document_, sessionIndex, sessions::ScriptWhen::kAfter);
    environment.emplace_back("QUORVEL_ERRORS",
                             std::to_string(errors + errors_.CountOf(sessionIndex)));
    environment.emplace_back("QUORVEL_STOPPED", stopped ? "1" : "0");
    // After a Stop it still runs to its end, its time limit or another Stop: it may be what
    // starts again the service the before-script stopped.
    const platform::ChildResult result =
        sessions::RunScript(runner_, entry.after, std::move(environment), timeout_,
                            stopped ? &afterStop_ : &state_.mUserPressedStop);
    if (result.ok()) return;
    errors_.Record(
        sessionIndex,
        platform::FormatText("Error running the script %@ the session \"%@\".",
                             {"after", run::LogName(document_.GetSessionName(sessionIndex))}) +
            sessions::ScriptErrorDescription(result));
}

std::vector<std::int64_t> SessionHooks::AfterScriptsOwed() const {
    std::vector<std::int64_t> owed;
    for (const auto& [index, entry] : entries_) {
        if (entry.beforeRan && !entry.after.empty() && !entry.afterRan) owed.push_back(index);
    }
    return owed;
}

}  // namespace qv::engine
