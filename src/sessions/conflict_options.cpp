#include "sessions/conflict_options.h"

namespace qv::sessions {

plist::Value DefaultConflictsDict() {
    return plist::Dict{
        {"conflictBackupRadio", 2},  {"conflictBackupAsk", 0},        {"conflictBackupRadio2", 1},
        {"conflictBackupAsk2", 0},   {"conflictExactBackupRadio", 2}, {"conflictExactBackupAsk", 0},
        {"conflictSyncRadio", 2},    {"conflictSyncAsk", 0},          {"conflictExactSyncRadio", 2},
        {"conflictExactSyncAsk", 0}, {"conflictFileFolderRadio", 1},  {"conflictFileFolderAsk", 0},
    };
}

}  // namespace qv::sessions
