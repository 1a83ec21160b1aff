#pragma once
// The triggers of a session (`triggerDict`): run it by itself when a volume its folders lie on
// appears, or when its source has changed and then stayed quiet for a while, at most once in
// a given number of minutes. A session without the dictionary has both triggers off, and
// reading it never adds one.

#include <cstdint>
#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr const char* kTriggerDictKey = "triggerDict";
inline constexpr const char* kTriggerOnMountKey = "triggerOnMountOn";
inline constexpr const char* kTriggerOnChangeKey = "triggerOnChangeOn";
inline constexpr const char* kTriggerQuietKey = "triggerQuietSeconds";
inline constexpr const char* kTriggerMinMinutesKey = "triggerMinMinutes";

inline constexpr std::int64_t kDefaultTriggerQuietSeconds = 60;
inline constexpr std::int64_t kDefaultTriggerMinMinutes = 15;
// Quiet: a second to a day. Minimum interval: a minute to a week.
inline constexpr std::int64_t kMinTriggerQuietSeconds = 1;
inline constexpr std::int64_t kMaxTriggerQuietSeconds = 86400;
inline constexpr std::int64_t kMinTriggerMinMinutes = 1;
inline constexpr std::int64_t kMaxTriggerMinMinutes = 10080;

struct TriggerOptions {
    bool onMount = false;
    bool onChange = false;
    std::int64_t quietSeconds = kDefaultTriggerQuietSeconds;
    std::int64_t minMinutes = kDefaultTriggerMinMinutes;
    bool any() const { return onMount || onChange; }
};

// Both triggers off, the default quiet time and minimum interval.
plist::Value DefaultTriggerDict();

// What a triggerDict says (a missing or non-dictionary value: the defaults). A number outside
// its range, which only a document edited by hand can hold, is brought to the nearest end of
// it: a run every second is never what was meant.
TriggerOptions ReadTriggerOptions(const plist::Value& triggerDict);
// The same from a whole session dictionary.
TriggerOptions SessionTriggerOptions(const plist::Value* session);

// The refusal of a quiet time or minimum interval ("" when taken).
std::string CheckTriggerQuietSeconds(std::int64_t seconds);
std::string CheckTriggerMinMinutes(std::int64_t minutes);

// "Runs when a volume of the session appears, or 60 seconds after its source has changed; at
// most once every 15 minutes."; "No triggers." when both are off.
std::string TriggerDescription(const TriggerOptions& options);
// The triggers section of a session's log; "" when both triggers are off.
std::string GetTriggersLog(const plist::Value& triggerDict);

}  // namespace qv::sessions
