#pragma once
// The triggers of one session being edited: a working copy of its `triggerDict` that the timer
// panel's trigger section shows and `quorvel triggers` changes, with the checks of its two
// numbers and the texts both show.

#include <cstdint>
#include <string>

#include "sessions/plist_value.h"
#include "sessions/trigger_options.h"

namespace qv::sessions {

class TriggerEditor {
  public:
    // SetPanels: the working copy of a session's triggerDict (missing keys take the defaults,
    // numbers outside their ranges the nearest end).
    explicit TriggerEditor(const plist::Value& triggerDict);

    TriggerOptions options() const { return ReadTriggerOptions(dict_); }
    void setOnMount(bool on);
    void setOnChange(bool on);
    // A number as typed in its field or given to the command: "" when taken; otherwise the
    // refusal, and the working copy keeps its value.
    std::string SetQuietSeconds(const std::string& text);
    std::string SetMinMinutes(const std::string& text);
    // One KEY=VALUE of the command, by the dictionary's own keys; "" when taken.
    std::string Set(const std::string& key, const std::string& value);

    // The quiet time matters only with the change trigger on, the minimum with either.
    bool QuietFieldEnabled() const { return options().onChange; }
    bool MinMinutesFieldEnabled() const { return options().any(); }

    std::string Description() const { return TriggerDescription(options()); }
    std::string GetLog() const { return GetTriggersLog(dict_); }
    bool IconOn() const { return options().any(); }
    const plist::Value& CurrentTriggerDict() const { return dict_; }
    // GetPanels: the working copy becomes the session's triggerDict, except that a session
    // without one is left without one while the triggers are as a new session has them (so
    // that looking at the panel changes no document). Never refuses a session dictionary.
    bool GetPanels(plist::Value& session, std::string* message) const;

  private:
    plist::Value dict_;
};

}  // namespace qv::sessions
