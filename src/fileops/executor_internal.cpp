#include "fileops/executor_internal.h"

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

#include "fileops/trash.h"
#include "platform/file_copy.h"
#include "platform/file_io.h"
#include "platform/folder_digest.h"
#include "platform/localization.h"
#include "platform/unique_fd.h"
#include "platform/volumes.h"
#include "run/log_name.h"

namespace qv::fileops::executor_internal {

// Whether an item still is the one the scan saw: the same type and inode and, but for a folder
// (whose date moves as its content is copied or deleted), the same size and modification time.
bool IsAsSeen(const ItemAttributes& a, const run::SeenItem& seen) {
    if (!a.exists() || static_cast<std::uint8_t>(a.type) != seen.type || a.ino != seen.ino) {
        return false;
    }
    return a.isDirectory() ||
           (a.size == seen.size && a.mtime.sec == seen.mtimeSec && a.mtime.nsec == seen.mtimeNsec);
}

std::string SystemError(const std::string& errorWord, int error) {
    return "\r" + errorWord + " " + std::strerror(error);
}

std::pair<dev_t, ino_t> Identity(const FolderHandle& folder) {
    return {folder.dev(), folder.ino()};
}

// The n-th name a temporary may take: "QVTempFile", then "QVTempFile 1", "QVTempFile 2"...
std::string TemporaryName(const char* base, int n) {
    return n == 0 ? std::string(base) : std::string(base) + " " + std::to_string(n);
}

bool MarkOpen(int fd) { return sys().fsetxattr(fd, items::kTemporaryXattr, "1", 1, 0) == 0; }

bool Mark(int dirFd, const std::string& name) {
    return sys().setxattrat(dirFd, name.c_str(), items::kTemporaryXattr, "1", 1, 0) == 0;
}

void Unmark(int dirFd, const std::string& name) {
    sys().removexattrat(dirFd, name.c_str(), items::kTemporaryXattr);
}

std::optional<std::string> ReadLinkAt(int dirFd, const std::string& name) {
    std::vector<char> target(4096);
    for (;;) {
        const ssize_t n = sys().readlinkat(dirFd, name.c_str(), target.data(), target.size());
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) < target.size()) {
            return std::string(target.data(), static_cast<std::size_t>(n));
        }
        target.resize(target.size() * 2);
    }
}

// Copies what lies inside the folder fromFd into the empty folder toFd, each item with its
// metadata (paths for messages only).
bool CopyFolderContent(const FolderHandle& from, const FolderHandle& to, const Metadata& metadata,
                       std::int64_t backupDate, std::string* error);

// Copies the item name of `from` to the same name in `to`, where nothing stands, with its
// metadata.
bool CopyEntry(const FolderHandle& from, const FolderHandle& to, const std::string& name,
               const Metadata& metadata, std::int64_t backupDate, std::string* error) {
    const std::string fromPath = from.PathOf(name), toPath = to.PathOf(name);
    const platform::StatResult st = StatAt(from.fd(), name);
    if (!st.ok()) {
        *error = std::strerror(st.error);
        return false;
    }
    switch (st.attributes.type) {
        case platform::ItemType::SymbolicLink: {
            const auto target = ReadLinkAt(from.fd(), name);
            if (!target || sys().symlinkat(target->c_str(), to.fd(), name.c_str()) != 0) {
                *error = std::strerror(errno);
                return false;
            }
            break;
        }
        case platform::ItemType::RegularFile: {
            platform::UniqueFd src(sys().openat(from.fd(), name.c_str(),
                                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
            if (!src.valid()) {
                *error = std::strerror(errno);
                return false;
            }
            platform::UniqueFd dst(sys().openat(to.fd(), name.c_str(),
                                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
            if (!dst.valid()) {
                *error = std::strerror(errno);
                return false;
            }
            struct statx stx {};
            if (sys().statx(src.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) !=
                0) {
                *error = std::strerror(errno);
                return false;
            }
            if (!platform::CopyFileContent(src.get(), dst.get(), stx.stx_size, error)) return false;
            const OpenCopyAttrs attrs = metadata.SetAttrsOnOpenCopy(src.get(), stx, dst.get(),
                                                                    fromPath, toPath, backupDate);
            const bool finished = metadata.FinishOpenCopy(src.get(), dst.get(), stx, attrs, toPath);
            if (dst.Close() != 0) {
                *error = std::strerror(errno);
                return false;
            }
            if (attrs.failed || !finished) {
                *error = "Can't set the attributes of " + Quoted(toPath);
                return false;
            }
            return true;
        }
        case platform::ItemType::Directory: {
            if (sys().mkdirat(to.fd(), name.c_str(), 0700) != 0) {
                *error = std::strerror(errno);
                return false;
            }
            int openError = 0;
            const FolderHandle fromChild = from.OpenChild(name, &openError);
            const FolderHandle toChild =
                fromChild.valid() ? to.OpenChild(name, &openError) : FolderHandle();
            if (!toChild.valid()) {
                *error = std::strerror(openError);
                return false;
            }
            if (!CopyFolderContent(fromChild, toChild, metadata, backupDate, error)) return false;
            break;
        }
        default:
            *error = "not a file, a folder or a symbolic link";
            return false;
    }
    if (!metadata.CopyAttributes(ItemAt(from, name, fromPath), ItemAt(to, name, toPath),
                                 backupDate)) {
        *error = "Can't set the attributes of " + Quoted(toPath);
        return false;
    }
    return true;
}

bool CopyFolderContent(const FolderHandle& from, const FolderHandle& to, const Metadata& metadata,
                       std::int64_t backupDate, std::string* error) {
    std::vector<platform::FolderEntry> entries;
    // A folder that cannot be read to its end is not copied as if that were all of it.
    if (const int err = sys().readfolder(from.fd(), entries); err != 0) {
        *error = std::strerror(err);
        return false;
    }
    for (const auto& entry : entries) {
        if (!CopyEntry(from, to, entry.name, metadata, backupDate, error)) return false;
    }
    return true;
}

// A folder to be replaced whole that no longer holds what the scan saw in it.
bool TreeChanged(const run::SeenItem& seen, int dirFd, const std::string& name) {
    if (seen.tree == 0) return false;
    const int fd =
        sys().openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return true;
    const std::uint64_t now = platform::FolderTreeDigest(fd);
    sys().close(fd);
    return now != seen.tree;
}

// Every item below the folder name of dirFd, deepest first, with whether it is a folder.
void CollectTree(const FolderHandle& parent, const std::string& name, const std::string& path,
                 std::vector<std::pair<std::string, bool>>& items) {
    const FolderHandle folder = parent.OpenChild(name);
    std::vector<platform::FolderEntry> entries;
    if (folder.valid() && sys().readfolder(folder.fd(), entries) == 0) {
        for (const platform::FolderEntry& e : entries) {
            const platform::StatResult st = StatAt(folder.fd(), e.name);
            if (st.attributes.isDirectory()) {
                CollectTree(folder, e.name, platform::JoinPath(path, e.name), items);
            } else if (st.ok()) {
                items.emplace_back(platform::JoinPath(path, e.name), false);
            }
        }
    }
    items.emplace_back(path, true);
}

}  // namespace qv::fileops::executor_internal
