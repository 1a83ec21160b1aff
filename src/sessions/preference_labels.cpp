#include "sessions/preference_labels.h"

#include "platform/localization.h"

namespace qv::sessions {

using platform::GLS;

namespace {

constexpr PreferenceChoice kOnErrorChoices[] = {
    {1, "Stop the task"},
    {2, "Skip and continue"},
    {3, "Ask"},
};
// prefSaveLogFileWhen and prefSendEmailWhen: only 2 (the default) limits when it happens;
// any other value means every run.
constexpr PreferenceChoice kWhenChoices[] = {
    {1, "After every run"},
    {2, "Only when errors occur"},
};
constexpr PreferenceChoice kLogFileFormatChoices[] = {
    {1, "RTF"},
    {2, "Plain text"},
};
constexpr PreferenceChoice kLogKindChoices[] = {
    {1, "Summary only"},
    {2, "Detailed"},
    {3, "Errors only"},
};

using enum PreferenceControl;

constexpr PreferenceLabel kLabels[] = {
    {"prefSyncAndQuit", Checkbox, "Sync and Quit", {}},
    {"prefAskConfirmation", Checkbox, "Ask for confirmation before a run", {}},
    {"prefPreview", Checkbox, "Preview the actions before performing them", {}},
    {"prefPreviewExpanded", Checkbox, "Open the preview expanded", {}},
    {"prefBeepWhenDone", Checkbox, "Beep when done", {}},
    {"prefShutDown", Checkbox, "Shut down the computer when done", {}},
    {"prefOnError", PopUp, "On error:", kOnErrorChoices},
    {"prefSaveLogFile", Checkbox, "Save the log to a file", {}},
    {"prefSaveLogFileWhen", PopUp, "Save it:", kWhenChoices},
    {"prefLogFileFormat", PopUp, "Log file format:", kLogFileFormatChoices},
    {"prefLogKind", PopUp, "Log kind:", kLogKindChoices},
    {"prefPathLogFolder", Path, "Log folder:", {}},
    {"prefSendEmail", Checkbox, "Send the log by e-mail", {}},
    {"prefSendEmailWhen", PopUp, "Send it:", kWhenChoices},
    {kSendEmailToKey, Text, "E-mail address:", {}},
    {"prefRoot", Checkbox, "Run with root permissions", {}},
    {"prefModificationDelta", Checkbox, "Tolerate modification date differences (seconds):", {}},
};

}  // namespace

std::span<const PreferenceLabel> PreferenceLabels() { return kLabels; }

const PreferenceLabel* FindPreferenceLabel(std::string_view key) {
    for (const PreferenceLabel& row : kLabels) {
        if (key == row.key) return &row;
    }
    return nullptr;
}

std::string PreferenceLabelText(std::string_view key) {
    const PreferenceLabel* row = FindPreferenceLabel(key);
    return row ? GLS(row->label) : std::string(key);
}

std::string PreferenceChoiceTitle(std::string_view key, std::int64_t value) {
    if (const PreferenceLabel* row = FindPreferenceLabel(key)) {
        for (const PreferenceChoice& choice : row->choices) {
            if (choice.value == value) return GLS(choice.title);
        }
    }
    return GLS("Unknown Value");
}

}  // namespace qv::sessions
