#pragma once
// Open folders, and the items named relative to them: how a run reaches what it acts on.
//
// A run opens its two top folders once; every folder below is opened from its parent's handle,
// without following a link (O_NOFOLLOW | O_DIRECTORY), so that a folder swapped for a link
// between the scan and the copy makes that one action fail instead of sending it elsewhere.
// Path strings are kept beside the handles only to be shown to people.

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/item_attributes.h"
#include "platform/unique_fd.h"

namespace qv::platform {

class FolderHandle {
  public:
    FolderHandle() = default;

    // A top folder, by the path the user chose (links on the way to it are followed: they are
    // the user's own choice). Invalid, with *error set to an errno, when it cannot be opened.
    static FolderHandle OpenTop(const std::string& path, int* error = nullptr);
    // A task's top folder, by the path the checks resolved, reached from "/" one component at
    // a time: a link is followed only when root or this process's user owns it, so that a
    // link another user puts on the way (or in the folder's place) fails with ELOOP.
    static FolderHandle OpenTaskTop(const std::string& path, int* error = nullptr);
    // The folder name inside the open folder dirFd (path: the item's, for people), never through
    // a link.
    static FolderHandle OpenAt(int dirFd, const std::string& name, const std::string& path,
                               int* error = nullptr);
    // The folder name inside this one, never through a link. Invalid with *error otherwise
    // (ELOOP or ENOTDIR for a link or a file at that name).
    FolderHandle OpenChild(const std::string& name, int* error = nullptr) const;
    // The folder `relative` ("x/y/z", "" for this one) below this one, one component at a time.
    FolderHandle OpenBelow(std::string_view relative, int* error = nullptr) const;
    // The folder that holds this one ("..": at the root, the root itself).
    FolderHandle OpenParent(int* error = nullptr) const;
    // A second handle on the same folder.
    FolderHandle Duplicate() const;

    bool valid() const { return fd_ && fd_->valid(); }
    int fd() const { return fd_ ? fd_->get() : -1; }
    const std::string& path() const { return path_; }  // for people, never to be opened
    dev_t dev() const { return attributes_.dev; }
    ino_t ino() const { return attributes_.ino; }
    // The folder's own attributes, as read just after it was opened.
    const ItemAttributes& attributes() const { return attributes_; }
    // The path of an item of this folder, for people.
    std::string PathOf(const std::string& name) const;

  private:
    static FolderHandle Open(int dirFd, const char* name, int flags, std::string path, int* error);

    std::shared_ptr<UniqueFd> fd_;
    std::string path_;
    ItemAttributes attributes_;
};

// What a single stat of an item says, with why it could not be read. ENOENT: the item is not
// there; any other error: it is there (or may be) but cannot be examined.
struct StatResult {
    ItemAttributes attributes;
    int error = 0;
    bool ok() const { return error == 0; }
};
StatResult StatAt(int dirFd, const std::string& name);

// Opens an item for its attributes only (O_PATH, no link followed). Invalid, errno set, on
// failure.
UniqueFd OpenItemPath(int dirFd, const std::string& name);
// "/proc/self/fd/N": the item open as fd, for the few library calls that take only a path
// (ACLs). Resolves to that very item whatever happens to the path it was opened by.
std::string ProcPath(int fd);

}  // namespace qv::platform
