#include "sessions/preferences_editor.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include "platform/localization.h"
#include "sessions/email_settings.h"
#include "sessions/option_text.h"
#include "sessions/preference_labels.h"
#include "sessions/well.h"

namespace qv::sessions {

using platform::GLS;

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Refusal(std::string_view key, const std::string& text, const std::string& takes) {
    return "'" + std::string(key) + "' takes " + takes + ", not '" + text + "'";
}

// A preference that only matters while others are on: the keys it waits for.
struct EnablingRule {
    const char* key;
    const char* needs[2];
};
constexpr EnablingRule kEnablingRules[] = {
    {"prefSaveLogFileWhen", {"prefSaveLogFile", nullptr}},
    {"prefLogFileFormat", {"prefSaveLogFile", nullptr}},
    {"prefDeleteLogsOn", {"prefSaveLogFile", nullptr}},
    {"prefDeleteLogsPop", {"prefSaveLogFile", "prefDeleteLogsOn"}},
    {"prefDeleteLogsField", {"prefSaveLogFile", "prefDeleteLogsOn"}},
    {"prefSendEmailWhen", {"prefSendEmail", nullptr}},
    {"prefModificationDeltaField", {"prefModificationDelta", nullptr}},
};

}  // namespace

PreferencesEditor::PreferencesEditor(const plist::Value& prefDict)
    : dict_(prefDict.isDict() ? prefDict : plist::Value(plist::Dict{})) {
    const plist::Value* stored = dict_.find("prefSendEmailDict");
    std::optional<plist::Value> email;
    if (stored != nullptr && stored->isData()) email = GetWellDict(stored->data());
    email_ = email && email->isDict() ? *email : SendEmailDefaultSettings();
}

std::vector<std::string> PreferencesEditor::SettableKeys() {
    std::vector<std::string> keys;
    for (const PreferenceLabel& row : PreferenceLabels()) keys.emplace_back(row.key);
    return keys;
}

bool PreferencesEditor::IsSettable(std::string_view key) {
    return FindPreferenceLabel(key) != nullptr;
}

namespace {
// The keys of the e-mail settings, kept scrambled in prefSendEmailDict.
bool IsEmailKey(std::string_view key) { return key.rfind("mSendEmail", 0) == 0; }
}  // namespace

std::int64_t PreferencesEditor::value(std::string_view key) const {
    const PreferenceLabel* row = FindPreferenceLabel(key);
    if (row == nullptr) return 0;
    if (IsEmailKey(key)) return email_.intAt(key, -1);
    const std::int64_t stored = dict_.intAt(key);
    return row->control == PreferenceControl::Checkbox ? (stored != 0 ? 1 : 0) : stored;
}

void PreferencesEditor::setValue(std::string_view key, std::int64_t value) {
    const PreferenceLabel* row = FindPreferenceLabel(key);
    if (row == nullptr) return;
    if (IsEmailKey(key)) {
        email_.set(key, value);
        emailEdited_ = true;
        return;
    }
    if (row->control == PreferenceControl::Checkbox) {
        // Checkboxes whose stored default is a boolean stay booleans; the others are 0 or 1.
        const plist::Value* stored = dict_.find(key);
        if (stored != nullptr && stored->isBoolean()) {
            dict_.set(key, value != 0);
        } else {
            dict_.set(key, value != 0 ? 1 : 0);
        }
        return;
    }
    dict_.set(key, value);
}

std::string PreferencesEditor::text(std::string_view key) const {
    if (IsEmailKey(key)) return email_.stringAt(key);
    return dict_.stringAt(key);
}

void PreferencesEditor::setText(std::string_view key, const std::string& text) {
    if (IsEmailKey(key)) {
        email_.set(key, text);
        emailEdited_ = true;
    } else if (IsSettable(key)) {
        dict_.set(key, text);
    }
}

std::string PreferencesEditor::SetFromText(std::string_view key, const std::string& text) {
    const PreferenceLabel* row = FindPreferenceLabel(key);
    if (row == nullptr) return "unknown preference '" + std::string(key) + "'";
    switch (row->control) {
        case PreferenceControl::Checkbox: {
            const std::optional<bool> on = ParseBool(text);
            if (!on) return Refusal(key, text, "yes or no (1/0, on/off, true/false)");
            setValue(key, *on ? 1 : 0);
            return {};
        }
        case PreferenceControl::PopUp: {
            const std::optional<std::int64_t> number = ParseInteger(text);
            std::string offered;
            for (const PreferenceChoice& choice : row->choices) {
                if ((number && *number == choice.value) || Lower(text) == Lower(choice.title) ||
                    text == GLS(choice.title)) {
                    setValue(key, choice.value);
                    return {};
                }
                offered += (offered.empty() ? "" : ", ") + std::to_string(choice.value) + " (" +
                           GLS(choice.title) + ")";
            }
            return Refusal(key, text, "one of " + offered);
        }
        case PreferenceControl::Number: {
            const std::optional<std::int64_t> number = ParseInteger(text);
            if (!number) return Refusal(key, text, "a whole number");
            if (*number < row->minimum) {
                if (key == "prefDeleteLogsField") return GLS(kDeleteLogsFieldMessage);
                return Refusal(key, text,
                               "a whole number of at least " + std::to_string(row->minimum));
            }
            setValue(key, *number);
            return {};
        }
        case PreferenceControl::Path:
            if (text.empty() || text.front() != '/') return Refusal(key, text, "an absolute path");
            setText(key, text);
            return {};
        case PreferenceControl::Text:
            setText(key, text);
            return {};
    }
    return {};
}

std::string PreferencesEditor::GetAsText(std::string_view key) const {
    const PreferenceLabel* row = FindPreferenceLabel(key);
    if (row == nullptr) return {};
    if (row->control == PreferenceControl::Path || row->control == PreferenceControl::Text) {
        return text(key);
    }
    if (IsEmailKey(key)) return std::to_string(value(key));
    return std::to_string(value(key));
}

bool PreferencesEditor::IsEnabled(std::string_view key) const {
    for (const EnablingRule& rule : kEnablingRules) {
        if (key != rule.key) continue;
        for (const char* needed : rule.needs) {
            if (needed != nullptr && value(needed) == 0) return false;
        }
        return true;
    }
    return true;
}

bool PreferencesEditor::hasEmailPassword() const {
    return !email_.stringAt("mSendEmailPassword").empty();
}

std::string PreferencesEditor::setEmailPassword(const std::string& password) {
    if (password.find_first_of("\r\n") != std::string::npos) {
        return GLS("The SMTP password can't hold a line break.");
    }
    email_.set("mSendEmailPassword", password);
    emailEdited_ = true;
    return {};
}

const plist::Value& PreferencesEditor::emailSettings() const { return email_; }

std::string PreferencesEditor::CheckForApply() {
    if (value("prefSendEmail") != 0) {
        const std::string problem = CheckSendEmailDict(email_);
        if (!problem.empty()) return problem;
    }
    // What goes into a mail's headers and the SMTP dialogue: no line breaks, a usable port,
    // at most ten recipients.
    if (emailEdited_) {
        if (std::string problem = CheckEmailFields(email_); !problem.empty()) return problem;
    }
    // Checked even while pruning is off: the number is kept for when it is turned on.
    if (dict_.intAt("prefDeleteLogsField") < 1) {
        dict_.set("prefDeleteLogsField", 1);
        return GLS(kDeleteLogsFieldMessage);
    }
    return {};
}

bool PreferencesEditor::Apply(Preferences& preferences, std::string* message) {
    *message = CheckForApply();
    if (!message->empty()) return false;
    plist::Value& target = preferences.mPrefDict;
    if (!target.isDict()) target = plist::Dict{};
    for (const PreferenceLabel& row : PreferenceLabels()) {
        if (row.key == std::string_view(kSendEmailToKey)) continue;
        if (const plist::Value* edited = dict_.find(row.key)) target.set(row.key, *edited);
    }
    if (emailEdited_ || !dict_.contains("prefSendEmailDict")) {
        target.set("prefSendEmailDict", SetWellDict(email_));
    } else {
        target.set("prefSendEmailDict", *dict_.find("prefSendEmailDict"));
    }
    target.set("prefTabViewIdentifier", tab().empty() ? std::string("General") : tab());
    std::string reason;
    if (!preferences.WriteFilePreferences(false, &reason)) {
        *message = GLS("Can't write the file") + " (" + reason + ")";
        return false;
    }
    return true;
}

void PreferencesEditor::Reset(const Preferences& preferences) {
    const plist::Value defaults = preferences.GetDefaultPreferencesDict();
    for (const PreferenceLabel& row : PreferenceLabels()) {
        if (const plist::Value* value = defaults.find(row.key)) dict_.set(row.key, *value);
    }
    email_ = SendEmailDefaultSettings();
    emailEdited_ = true;
}

}  // namespace qv::sessions
