#pragma once
// The shell scripts a session runs before and after itself (`appleScriptDict`): their texts,
// how they are checked and run, and the working copy the scripts panel and the command edit.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "sessions/plist_value.h"

namespace qv::sessions {

class SessionDocument;

inline constexpr const char* kDefaultScriptText = "# Write or paste here your shell script";
// What sessions made before scripts were shell scripts hold: it counts as no script.
inline constexpr const char* kFormerDefaultScriptText = "-- Write or paste here your AppleScript";
// The name the running script gets as its $0.
inline constexpr const char* kScriptArgumentZero = "quorvel-script";
// The default of the preference `prefScriptTimeout`, in seconds (0: no time limit).
inline constexpr std::int64_t kDefaultScriptTimeout = 3600;

plist::Value DefaultAppleScriptDict();

enum class ScriptWhen { kBefore, kAfter };

// An empty text, blanks only, or the placeholder a new session is given.
bool IsEmptyScript(std::string_view text);

// Why a text is not a script that can run; line: where the fault is (1-based; 0: unknown).
struct ScriptFault {
    std::string description;
    int line = 0;
};
// Checks the text with the shell's syntax check, without running anything. A text the shell
// cannot take at all (a NUL byte) or one written for another scripting language is refused too.
std::optional<ScriptFault> CheckScript(platform::ChildRunner& runner, const std::string& text);

// Runs the text with sh, standard input /dev/null, the given variables added to ours. Names
// and paths reach it only through the variables, never pasted into its text.
platform::ChildResult RunScript(platform::ChildRunner& runner, const std::string& text,
                                std::vector<std::pair<std::string, std::string>> environment,
                                std::chrono::seconds timeout, const std::atomic<bool>* stop);

using ScriptVariables = std::vector<std::pair<std::string, std::string>>;
// What a script of the session is told: QUORVEL_SESSION (its name), QUORVEL_SOURCE and
// QUORVEL_DESTINATION (the folders of its first task) and QUORVEL_WHEN (before or after).
ScriptVariables ScriptEnvironment(const SessionDocument& document, std::int64_t sessionIndex,
                                  ScriptWhen when);

// Whether a run with root privileges may run the scripts of the document: the file it was read
// from was owned by root or by the user the run is for (invokingUser), and no one else could
// write it. False, with the reason, otherwise.
bool ScriptsMayRunAsRoot(const SessionDocument& document, uid_t invokingUser, std::string* why);
// The time limit of a script from the preference's value (seconds, 0: none), within bounds a
// clock can count.
std::chrono::seconds ScriptTimeout(std::int64_t preference);

// How a run ended, for an error message: "\rError: 3.\r" and what it wrote.
std::string ScriptErrorDescription(const platform::ChildResult& result);

// Removes the full stop that ends an error text, if any.
std::string WithoutFinalFullStop(std::string text);

// The working copy of one session's scripts.
class ScriptEditor {
  public:
    explicit ScriptEditor(const plist::Value& appleScriptDict);

    bool on(ScriptWhen when) const { return on_[Index(when)]; }
    const std::string& text(ScriptWhen when) const { return text_[Index(when)]; }
    void setOn(ScriptWhen when, bool on) { on_[Index(when)] = on; }
    void setText(ScriptWhen when, std::string text) { text_[Index(when)] = std::move(text); }

    bool IconOn() const { return on_[0] || on_[1]; }
    // Checks each switched-on script that is not empty and stores all four keys. False, with
    // the message, which script and the faulty line, when one does not pass: nothing stored.
    struct Failure {
        std::string message;
        ScriptWhen when = ScriptWhen::kBefore;
        int line = 0;
    };
    bool GetPanels(plist::Value& session, platform::ChildRunner& runner, Failure* failure) const;
    // Checks and runs the text of one script now, as the panel's Try buttons do. False, with the
    // message, when it does not check or does not end well.
    // environment: what the script is told (ScriptEnvironment).
    bool Try(ScriptWhen when, platform::ChildRunner& runner, ScriptVariables environment,
             std::chrono::seconds timeout, const std::atomic<bool>* stop, Failure* failure,
             platform::ChildResult* ran = nullptr) const;

  private:
    static std::size_t Index(ScriptWhen when) { return when == ScriptWhen::kBefore ? 0 : 1; }
    bool on_[2] = {false, false};
    std::string text_[2];
};

}  // namespace qv::sessions
