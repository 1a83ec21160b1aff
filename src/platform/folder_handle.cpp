#include "platform/folder_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/folder_way.h"

namespace qv::platform {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOCTTY;

FolderHandle Failed(int* error, int value) {
    if (error) *error = value;
    return {};
}

}  // namespace

FolderHandle FolderHandle::Open(int dirFd, const char* name, int flags, std::string path,
                                int* error) {
    FolderHandle h;
    const int fd = sys().openat(dirFd, name, flags, 0);
    if (fd < 0) return Failed(error, errno);
    h.fd_ = std::make_shared<UniqueFd>(fd);
    struct stat st {};
    if (sys().fstat(fd, &st) != 0) return Failed(error, errno);
    h.attributes_ = AttributesFromStat(st);
    h.path_ = std::move(path);
    if (error) *error = 0;
    return h;
}

FolderHandle FolderHandle::OpenTop(const std::string& path, int* error) {
    return Open(AT_FDCWD, path.c_str(), kFolderFlags, path, error);
}

FolderHandle FolderHandle::OpenTaskTop(const std::string& path, int* error) {
    int failure = 0;
    UniqueFd reached = OpenFolderByWay(path, ::geteuid(), &failure);
    if (!reached.valid()) return Failed(error, failure);
    // The handle the way reached, read from itself: the folder at the path now may be another.
    return Open(reached.get(), ".", kFolderFlags, path, error);
}

FolderHandle FolderHandle::OpenAt(int dirFd, const std::string& name, const std::string& path,
                                  int* error) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return Failed(error, EINVAL);
    }
    return Open(dirFd, name.c_str(), kFolderFlags | O_NOFOLLOW, path, error);
}

FolderHandle FolderHandle::OpenChild(const std::string& name, int* error) const {
    if (!valid()) return Failed(error, EBADF);
    return OpenAt(fd_->get(), name, PathOf(name), error);
}

FolderHandle FolderHandle::OpenBelow(std::string_view relative, int* error) const {
    FolderHandle current = Duplicate();
    while (!relative.empty()) {
        const std::size_t slash = relative.find('/');
        const std::string_view part = relative.substr(0, slash);
        relative =
            slash == std::string_view::npos ? std::string_view{} : relative.substr(slash + 1);
        if (part.empty()) continue;
        current = current.OpenChild(std::string(part), error);
        if (!current.valid()) return {};
    }
    if (error) *error = current.valid() ? 0 : EBADF;
    return current;
}

FolderHandle FolderHandle::OpenParent(int* error) const {
    if (!valid()) return Failed(error, EBADF);
    return Open(fd_->get(), "..", kFolderFlags, ParentFolder(path_), error);
}

FolderHandle FolderHandle::Duplicate() const { return *this; }

std::string FolderHandle::PathOf(const std::string& name) const { return JoinPath(path_, name); }

StatResult StatAt(int dirFd, const std::string& name) {
    StatResult r;
    struct statx stx {};
    if (sys().statx(dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS,
                    &stx) != 0) {
        r.error = errno;
        return r;
    }
    struct stat st {};
    st.st_mode = stx.stx_mode;
    st.st_uid = stx.stx_uid;
    st.st_gid = stx.stx_gid;
    st.st_dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    st.st_ino = stx.stx_ino;
    st.st_size = static_cast<off_t>(stx.stx_size);
    st.st_mtim = {stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec};
    st.st_atim = {stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec};
    st.st_ctim = {stx.stx_ctime.tv_sec, stx.stx_ctime.tv_nsec};
    r.attributes = AttributesFromStat(st);
    return r;
}

UniqueFd OpenItemPath(int dirFd, const std::string& name) {
    return UniqueFd(sys().openat(dirFd, name.c_str(), O_PATH | O_NOFOLLOW, 0));
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace qv::platform
