// Copying the attributes of an item only.
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

bool Executor::CopySingleMetadataOnly(const Place& from, const Place& to) {
    const FolderHandle& folder = *to.folder;
    if (!state_->config.flags.gIsUnlockOn && tw_.IsLocked(folder.fd(), *to.name)) {
        Report(GLS("Can't copy attributes from the item") + "\r" + Quoted(from.path) + "\r" +
               GLS("to the locked item") + "\r" + Quoted(to.path));
        return false;
    }
    std::string target = *to.name;
    const std::string& fromName = *from.name;
    const std::string& toName = *to.name;
    auto lower = [](std::string s) {
        for (char& c : s) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        }
        return s;
    };
    if (fromName != toName && lower(fromName) == lower(toName)) {
        // A free name to pass through, never one that stands in the folder.
        std::string temp;
        for (int n = 0; n <= kMaxTemporaryNames && temp.empty(); ++n) {
            std::string candidate = TemporaryName(items::kRenameTempName, n);
            if (StatAt(folder.fd(), candidate).error == ENOENT) temp = std::move(candidate);
        }
        const std::string tempPath = folder.PathOf(temp);
        if (temp.empty()) {
            Report("Can't rename the destination item\r" + Quoted(to.path) +
                   "\rbecause I can't find an unique new name on its parent folder " +
                   Quoted(folder.PathOf(items::kRenameTempName)));
        } else if (!metadata_.RenameItem(to.at(), temp)) {
            Report("Can't rename the destination item\r" + Quoted(to.path) + "\rto the new name " +
                   Quoted(tempPath));
        } else if (!metadata_.RenameItem(ItemAt(folder, temp, tempPath), fromName)) {
            Report("Can't rename the destination item\r" + Quoted(to.path) + "\rto the new name " +
                   Quoted(fromName));
            target = temp;
        } else {
            target = fromName;
        }
    }
    const std::string targetPath = folder.PathOf(target);
    if (!metadata_.CopyAttributes(from.at(), ItemAt(folder, target, targetPath),
                                  state_->totals.gStartSyncDateTimeUTC)) {
        Report("Can't copy attributes from the item\r" + Quoted(from.path) + "\rto the item\r" +
               Quoted(targetPath));
        return false;
    }
    return true;
}

}  // namespace qv::fileops
