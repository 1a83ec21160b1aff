// Creating a folder on the other side.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fileops/executor.h"
#include "fileops/executor_internal.h"

namespace qv::fileops {

// The operations share their helpers and names.
using namespace executor_internal;

bool Executor::CreateFolder(const Place& folder, bool aToB, bool destExists) {
    if (destExists) {
        // Something took the name since the scan found it free: it is nobody's to lose, and the
        // folder's copy waits for the next run.
        Report(GLS("Can't create the folder") + " " + Quoted(folder.path) + "\r" +
               GLS("It changed since the scan: the next run will decide."));
        return false;
    }
    // Private while it fills; its final mode comes with its attributes once its content is done.
    bool chainUsed = false;
    if (sys().mkdirat(folder.fd(), folder.name->c_str(), items::kFillingMode) != 0) {
        chainUsed = true;
        if (!metadata_.UnlockChain(folder.at(), Chain(aToB, true), kCheckCreateFolder,
                                   state_->config.flags.gIsUnlockOn, current_)) {
            Report(GLS("Can't create the folder") + " " + Quoted(folder.path));
            return false;
        }
        // The chain created it open to all.
        sys().chmodat(folder.fd(), folder.name->c_str(), items::kFillingMode);
    }
    // Until its attributes are set, a later run must not take the private mode and the date of
    // an interrupted copy for the folder's own.
    sys().setxattrat(folder.fd(), folder.name->c_str(), items::kFillingXattr, "1", 1, 0);
    ++(aToB ? state_->task.copy.gBFoldersCreated : state_->task.copy.gAFoldersCreated);
    LogAction(phrases_.createdFolder + " " + Quoted(folder.path));
    if (chainUsed) RemoveItemOKFromRestore(current_, folder.path);
    return true;
}

}  // namespace qv::fileops
