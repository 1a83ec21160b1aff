#include "sessions/conflict_options.h"

#include "platform/localization.h"

namespace qv::sessions {

using platform::GLS;

namespace {

struct Kind {
    const char* label;  // as the log names it, then its separator
    const char* separator;
    const char* radioKey;
    const char* askKey;
    // The titles of the radio cells of tags 1 and 2.
    const char* tag1;
    const char* tag2;
};

constexpr Kind kKinds[] = {
    {"Backup", " 1: ", "conflictBackupRadio", "conflictBackupAsk", "Keep the destination item",
     "Replace the destination item"},
    {"Backup", " 2: ", "conflictBackupRadio2", "conflictBackupAsk2",
     "Keep the newer destination item", "Replace the newer destination item"},
    {"Exact Backup", ": ", "conflictExactBackupRadio", "conflictExactBackupAsk",
     "Keep the destination item", "Delete the destination item"},
    {"Sync", ": ", "conflictSyncRadio", "conflictSyncAsk", "Skip both items",
     "Replace the older item"},
    {"Exact Sync", ": ", "conflictExactSyncRadio", "conflictExactSyncAsk", "Copy the item back",
     "Delete the item"},
    {"File Versus Folder", ": ", "conflictFileFolderRadio", "conflictFileFolderAsk",
     "Replace the folder by the file", "Skip the item"},
};

}  // namespace

plist::Value DefaultConflictsDict() {
    return plist::Dict{
        {"conflictBackupRadio", 2},  {"conflictBackupAsk", 0},        {"conflictBackupRadio2", 1},
        {"conflictBackupAsk2", 0},   {"conflictExactBackupRadio", 2}, {"conflictExactBackupAsk", 0},
        {"conflictSyncRadio", 2},    {"conflictSyncAsk", 0},          {"conflictExactSyncRadio", 2},
        {"conflictExactSyncAsk", 0}, {"conflictFileFolderRadio", 1},  {"conflictFileFolderAsk", 0},
    };
}

bool ConflictsDictIsCustomised(const plist::Value& session) {
    const plist::Value* stored = session.dictAt("conflictsDict");
    return stored == nullptr || !plist::EqualByValue(*stored, DefaultConflictsDict());
}

std::string GetConflictsLog(const plist::Value& conflictsDict) {
    std::string log = "\r" + GLS("• Conflict: ") + "\r";
    for (const Kind& kind : kKinds) {
        const std::int64_t radio = conflictsDict.intAt(kind.radioKey, 0);
        const std::string title = radio == 1 ? GLS(kind.tag1) : radio == 2 ? GLS(kind.tag2) : "";
        log += "\t" + GLS(kind.label) + kind.separator + title + " - " + GLS("Ask each time") +
               ": " + platform::YesNo(conflictsDict.intAt(kind.askKey, 0)) + "\r";
    }
    return log;
}

}  // namespace qv::sessions
