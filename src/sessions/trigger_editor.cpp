#include "sessions/trigger_editor.h"

#include "platform/localization.h"
#include "sessions/option_text.h"

namespace qv::sessions {

using platform::GLS;

namespace {

// The number a field holds, or the refusal `check` gives for it. A text that is no whole
// number gets the same refusal, which tells the range.
std::string ParseChecked(const std::string& text, std::string (*check)(std::int64_t),
                         std::int64_t* value) {
    const std::optional<std::int64_t> n = ParseInteger(text);
    std::string refusal = check(n.value_or(-1));
    if (!refusal.empty()) return refusal;
    *value = *n;
    return {};
}

}  // namespace

TriggerEditor::TriggerEditor(const plist::Value& triggerDict) : dict_(DefaultTriggerDict()) {
    if (triggerDict.isDict()) {
        for (const auto& [key, value] : triggerDict.dict()) dict_.set(key, value);
    }
    // The controls hold integers in range, whatever the document stored.
    const TriggerOptions read = ReadTriggerOptions(triggerDict);
    dict_.set(kTriggerOnMountKey, read.onMount ? 1 : 0);
    dict_.set(kTriggerOnChangeKey, read.onChange ? 1 : 0);
    dict_.set(kTriggerQuietKey, read.quietSeconds);
    dict_.set(kTriggerMinMinutesKey, read.minMinutes);
}

void TriggerEditor::setOnMount(bool on) { dict_.set(kTriggerOnMountKey, on ? 1 : 0); }
void TriggerEditor::setOnChange(bool on) { dict_.set(kTriggerOnChangeKey, on ? 1 : 0); }

std::string TriggerEditor::SetQuietSeconds(const std::string& text) {
    std::int64_t seconds = 0;
    std::string refusal = ParseChecked(text, CheckTriggerQuietSeconds, &seconds);
    if (refusal.empty()) dict_.set(kTriggerQuietKey, seconds);
    return refusal;
}

std::string TriggerEditor::SetMinMinutes(const std::string& text) {
    std::int64_t minutes = 0;
    std::string refusal = ParseChecked(text, CheckTriggerMinMinutes, &minutes);
    if (refusal.empty()) dict_.set(kTriggerMinMinutesKey, minutes);
    return refusal;
}

std::string TriggerEditor::Set(const std::string& key, const std::string& value) {
    if (key == kTriggerQuietKey) return SetQuietSeconds(value);
    if (key == kTriggerMinMinutesKey) return SetMinMinutes(value);
    if (key != kTriggerOnMountKey && key != kTriggerOnChangeKey) {
        return platform::FormatText(GLS("Unknown trigger key \"%@\"."), {key});
    }
    const std::optional<bool> on = ParseBool(value);
    if (!on) {
        return platform::FormatText(GLS("\"%@\" takes 1 or 0 (on/off, yes/no)."), {key});
    }
    key == kTriggerOnMountKey ? setOnMount(*on) : setOnChange(*on);
    return {};
}

bool TriggerEditor::GetPanels(plist::Value& session, std::string* message) const {
    if (!session.isDict()) {
        if (message != nullptr) *message = "the session is not a dictionary";
        return false;
    }
    if (session.dictAt(kTriggerDictKey) == nullptr &&
        plist::EqualByValue(dict_, DefaultTriggerDict())) {
        return true;
    }
    session.set(kTriggerDictKey, dict_);
    return true;
}

}  // namespace qv::sessions
