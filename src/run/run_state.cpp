#include "run/run_state.h"

namespace qv::run {

void TaskFigures::ClearLists() {
    gDetailedLogText.clear();
    restoreBackupDateArray.clear();
    skippedConflictArray.clear();
    addToExactIndexArray.clear();
    doneItemArray.clear();
    settledFolders.clear();
}

std::int64_t* CategoryCounters::ForMode(int copyMode) {
    switch (copyMode) {
        case kModeDescend:
            return &gFoldersToDescend;
        case kModeCopyAtoB:
        case kModeReplaceBwithA:
            return &gItemsAtoB;
        case kModeCopyBtoA:
        case kModeReplaceAwithB:
            return &gItemsBtoA;
        case kModeDeleteInA:
        case kModeDeleteInB:
            return &gItemsToDelete;
        case kModeAttrAtoB:
            return &gItemsAttrAtoB;
        case kModeAttrBtoA:
            return &gItemsAttrBtoA;
        default:
            return nullptr;
    }
}

}  // namespace qv::run
