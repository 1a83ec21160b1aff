#include "sessions/conflict_options.h"

#include "platform/localization.h"
#include "sessions/conflicts_editor.h"

namespace qv::sessions {

using platform::GLS;

namespace {

// The one table of the kinds: the panel, the command, the log and the tests all read it.
constexpr std::array<ConflictKind, 6> kKinds = {{
    {"backup1", "Backup", "conflictBackupRadio", "conflictBackupAsk", 2,
     "Keep the destination item", "Replace the destination item", " 1: "},
    {"backup2", "Backup", "conflictBackupRadio2", "conflictBackupAsk2", 2,
     "Keep the newer destination item", "Replace the newer destination item", " 2: "},
    {"exactBackup", "Exact Backup", "conflictExactBackupRadio", "conflictExactBackupAsk", 2,
     "Keep the destination item", "Delete the destination item", ": "},
    {"sync", "Sync", "conflictSyncRadio", "conflictSyncAsk", 2, "Skip both items",
     "Replace the older item", ": "},
    {"exactSync", "Exact Sync", "conflictExactSyncRadio", "conflictExactSyncAsk", 2,
     "Copy the item back", "Delete the item", ": "},
    {"fileFolder", "File Versus Folder", "conflictFileFolderRadio", "conflictFileFolderAsk", 1,
     "Replace the folder by the file", "Skip the item", ": "},
}};

}  // namespace

const std::array<ConflictKind, 6>& ConflictKinds() { return kKinds; }

plist::Value DefaultConflictsDict() {
    return plist::Dict{
        {"conflictBackupRadio", 2},  {"conflictBackupAsk", 0},        {"conflictBackupRadio2", 1},
        {"conflictBackupAsk2", 0},   {"conflictExactBackupRadio", 2}, {"conflictExactBackupAsk", 0},
        {"conflictSyncRadio", 2},    {"conflictSyncAsk", 0},          {"conflictExactSyncRadio", 1},
        {"conflictExactSyncAsk", 0}, {"conflictFileFolderRadio", 1},  {"conflictFileFolderAsk", 0},
    };
}

bool ConflictsDictIsCustomised(const plist::Value& session) {
    const plist::Value* stored = session.dictAt("conflictsDict");
    return stored == nullptr || !plist::EqualByValue(*stored, DefaultConflictsDict());
}

std::string GetConflictsLog(const plist::Value& conflictsDict) {
    std::string log = "\r" + GLS("• Conflict: ") + "\r";
    for (const ConflictKind& kind : kKinds) {
        const std::int64_t radio = conflictsDict.intAt(kind.radioKey, 0);
        const std::string title = radio == 1   ? GLS(kind.tag1Title)
                                  : radio == 2 ? GLS(kind.tag2Title)
                                               : "";
        log += "\t" + GLS(kind.label) + kind.logSeparator + title + " - " + GLS("Ask each time") +
               ": " + platform::YesNo(conflictsDict.intAt(kind.askKey, 0)) + "\r";
    }
    return log;
}

}  // namespace qv::sessions
