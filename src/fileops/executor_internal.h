#pragma once
// What the operations of the executor share: the temporary names and their marks, the look
// that tells an item is still the one the scan saw, copying a folder's content, the messages'
// errors. Internal to fileops.

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fileops/executor.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "run/log_name.h"
#include "run/plan_item.h"

namespace qv::fileops::executor_internal {

using platform::FolderHandle;
using platform::GLS;
using platform::ItemAttributes;
using platform::StatAt;
using platform::sys;
using run::PlanItem;

// An open folder, named as itself.
inline const std::string kSelf = ".";
inline constexpr int kMaxTemporaryNames = 10000;
inline const std::string kNoName;
using run::Quoted;

// Whether an item still is the one the scan saw: the same type and inode and, but for a folder
// (whose date moves as its content is copied or deleted), the same size and modification time.
bool IsAsSeen(const ItemAttributes& a, const run::SeenItem& seen);

std::string SystemError(const std::string& errorWord, int error);

std::pair<dev_t, ino_t> Identity(const FolderHandle& folder);

// The n-th name a temporary may take: "QVTempFile", then "QVTempFile 1", "QVTempFile 2"...
std::string TemporaryName(const char* base, int n);

bool MarkOpen(int fd);

bool Mark(int dirFd, const std::string& name);

void Unmark(int dirFd, const std::string& name);

std::optional<std::string> ReadLinkAt(int dirFd, const std::string& name);

// Copies what lies inside the folder fromFd into the empty folder toFd, each item with its
// metadata (paths for messages only).
bool CopyFolderContent(const FolderHandle& from, const FolderHandle& to, const Metadata& metadata,
                       std::int64_t backupDate, std::string* error);

// Copies the item name of `from` to the same name in `to`, where nothing stands, with its
// metadata.
bool CopyEntry(const FolderHandle& from, const FolderHandle& to, const std::string& name,
               const Metadata& metadata, std::int64_t backupDate, std::string* error);

// A folder to be replaced whole that no longer holds what the scan saw in it.
bool TreeChanged(const run::SeenItem& seen, int dirFd, const std::string& name);

// Every item below the folder name of dirFd, deepest first, with whether it is a folder.
void CollectTree(const FolderHandle& parent, const std::string& name, const std::string& path,
                 std::vector<std::pair<std::string, bool>>& items);

// Creates something under the first temporary name of folder that is free and is not `avoid`:
// create(name) makes it exclusively, failing with EEXIST when the name is taken. The name used,
// or nothing with errno set.
template <typename Create>
std::optional<std::string> CreateUnderTemporaryName(const std::string& avoid, Create create,
                                                    const char* base = items::kReplaceTempName) {
    for (int n = 0; n <= kMaxTemporaryNames; ++n) {
        std::string name = TemporaryName(base, n);
        if (name == avoid) continue;
        if (create(name)) return name;
        if (errno != EEXIST) return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

}  // namespace qv::fileops::executor_internal
