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

constexpr PreferenceChoice kTlsChoices[] = {
    {-1, "Use TLS when the server offers it"},
    {0, "Never use TLS"},
    {1, "Always use TLS"},
};

constexpr PreferenceChoice kDeleteLogsChoices[] = {
    {0, "Delete logs older than (days)"},
    {1, "Keep only the most recent (logs)"},
};

using enum PreferenceControl;

constexpr const char* kGeneral = "General";
constexpr const char* kLog = "Log";
constexpr const char* kEmail = "E-mail";

constexpr PreferenceLabel kLabels[] = {
    {"prefSyncAndQuit", Checkbox, "Sync and Quit", {}, kGeneral},
    {"prefAskConfirmation", Checkbox, "Ask for confirmation before a run", {}, kGeneral},
    {"prefPreview", Checkbox, "Preview the actions before performing them", {}, kGeneral},
    {"prefPreviewExpanded", Checkbox, "Open the preview expanded", {}, kGeneral},
    {"prefBeepWhenDone", Checkbox, "Beep when done", {}, kGeneral},
    {"prefShutDown", Checkbox, "Shut down the computer when done", {}, kGeneral},
    {"prefConfirmEmptySideDeletion",
     Checkbox,
     "Ask before an exact task empties a folder because the other one is empty",
     {},
     kGeneral},
    {"prefOnError", PopUp, "On error:", kOnErrorChoices, kGeneral},
    {"prefRoot", Checkbox, "Run with root permissions", {}, kGeneral},
    {"prefModificationDelta",
     Checkbox,
     "Tolerate modification date differences (seconds):",
     {},
     kGeneral},
    {"prefModificationDeltaField", Number, "Tolerance in seconds:", {}, kGeneral, 0},
    {"prefMountTimeout",
     Number,
     "Time limit of a volume's mount (seconds, 0: none):",
     {},
     kGeneral,
     0},
    {"prefScriptTimeout",
     Number,
     "Time limit of a session's script (seconds, 0: none):",
     {},
     kGeneral,
     0},
    {"prefSaveLogFile", Checkbox, "Save the log to a file", {}, kLog},
    {"prefSaveLogFileWhen", PopUp, "Save it:", kWhenChoices, kLog},
    {"prefLogFileFormat", PopUp, "Log file format:", kLogFileFormatChoices, kLog},
    {"prefDeleteLogsOn", Checkbox, "Delete old log files", {}, kLog},
    {"prefDeleteLogsPop", PopUp, "Which logs:", kDeleteLogsChoices, kLog},
    {"prefDeleteLogsField", Number, "Days or logs:", {}, kLog, 1},
    {"prefLogKind", PopUp, "Log kind:", kLogKindChoices, kLog},
    {"prefPathLogFolder", Path, "Log folder:", {}, kLog},
    {"prefSendEmail", Checkbox, "Send the log by e-mail", {}, kEmail},
    {"prefSendEmailWhen", PopUp, "Send it:", kWhenChoices, kEmail},
    {kSendEmailToKey, Text, "E-mail address:", {}, kEmail},
    {"mSendEmailFrom", Text, "From:", {}, kEmail},
    {"mSendEmailSMTP", Text, "SMTP server:", {}, kEmail},
    {"mSendEmailPort", Text, "Port:", {}, kEmail},
    {"mSendEmailAccountID", Text, "Account:", {}, kEmail},
    {"mSendEmailUseSSL", PopUp, "TLS:", kTlsChoices, kEmail},
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
