#include "sessions/trigger_options.h"

#include <algorithm>

#include "platform/localization.h"

namespace qv::sessions {

using platform::FormatText;
using platform::GLS;

plist::Value DefaultTriggerDict() {
    return plist::Dict{{kTriggerOnMountKey, 0},
                       {kTriggerOnChangeKey, 0},
                       {kTriggerQuietKey, kDefaultTriggerQuietSeconds},
                       {kTriggerMinMinutesKey, kDefaultTriggerMinMinutes}};
}

TriggerOptions ReadTriggerOptions(const plist::Value& triggerDict) {
    TriggerOptions options;
    if (!triggerDict.isDict()) return options;
    options.onMount = triggerDict.intAt(kTriggerOnMountKey, 0) != 0;
    options.onChange = triggerDict.intAt(kTriggerOnChangeKey, 0) != 0;
    options.quietSeconds =
        std::clamp(triggerDict.intAt(kTriggerQuietKey, kDefaultTriggerQuietSeconds),
                   kMinTriggerQuietSeconds, kMaxTriggerQuietSeconds);
    options.minMinutes =
        std::clamp(triggerDict.intAt(kTriggerMinMinutesKey, kDefaultTriggerMinMinutes),
                   kMinTriggerMinMinutes, kMaxTriggerMinMinutes);
    return options;
}

TriggerOptions SessionTriggerOptions(const plist::Value* session) {
    const plist::Value* dict = session != nullptr ? session->dictAt(kTriggerDictKey) : nullptr;
    return dict != nullptr ? ReadTriggerOptions(*dict) : TriggerOptions{};
}

std::string CheckTriggerQuietSeconds(std::int64_t seconds) {
    if (seconds >= kMinTriggerQuietSeconds && seconds <= kMaxTriggerQuietSeconds) return {};
    return GLS("The quiet time must be from 1 to 86400 seconds (a day).");
}

std::string CheckTriggerMinMinutes(std::int64_t minutes) {
    if (minutes >= kMinTriggerMinMinutes && minutes <= kMaxTriggerMinMinutes) return {};
    return GLS("The minimum interval must be from 1 to 10080 minutes (a week).");
}

std::string TriggerDescription(const TriggerOptions& options) {
    if (!options.any()) return GLS("No triggers.");
    std::string text;
    if (options.onMount) text = GLS("Runs when a volume of the session appears.");
    if (options.onChange) {
        if (!text.empty()) text += " ";
        text += FormatText(GLS("Runs when its source has changed and then stayed quiet for %@ "
                               "seconds."),
                           {std::to_string(options.quietSeconds)});
    }
    return text + " " +
           FormatText(GLS("At most one run every %@ minutes."),
                      {std::to_string(options.minMinutes)});
}

std::string GetTriggersLog(const plist::Value& triggerDict) {
    const TriggerOptions options = ReadTriggerOptions(triggerDict);
    if (!options.any()) return {};
    std::string log = "\r" + GLS("• Triggers: ") + "\r";
    log += "\t" + GLS("Run when a volume of the session appears") + ": " +
           platform::YesNo(options.onMount) + "\r";
    log += "\t" + GLS("Run when the source has changed") + ": " +
           platform::YesNo(options.onChange) + "\r";
    if (options.onChange) {
        log +=
            "\t" + GLS("Quiet time (seconds):") + " " + std::to_string(options.quietSeconds) + "\r";
    }
    log += "\t" + GLS("At most one run every (minutes):") + " " +
           std::to_string(options.minMinutes) + "\r";
    return log;
}

}  // namespace qv::sessions
