#include "platform/file_system.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace qv::platform {

int FileSystem::mkstemp(char* pathTemplate) { return ::mkostemp(pathTemplate, O_CLOEXEC); }
ssize_t FileSystem::write(int fd, const void* buf, std::size_t count) {
    return ::write(fd, buf, count);
}
int FileSystem::fsync(int fd) { return ::fsync(fd); }
int FileSystem::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileSystem::close(int fd) { return ::close(fd); }
int FileSystem::rename(const char* from, const char* to) { return std::rename(from, to); }
int FileSystem::unlink(const char* path) { return ::unlink(path); }
int FileSystem::chmod(const char* path, mode_t mode) { return ::chmod(path, mode); }
int FileSystem::mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
char* FileSystem::realpath(const char* path, char* resolved) { return ::realpath(path, resolved); }
int FileSystem::ficlone(int dstFd, int srcFd) { return ::ioctl(dstFd, FICLONE, srcFd); }
ssize_t FileSystem::copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                                    std::size_t len) {
    return ::copy_file_range(inFd, inOff, outFd, outOff, len, 0);
}
ssize_t FileSystem::pwrite(int fd, const void* buf, std::size_t count, off_t offset) {
    return ::pwrite(fd, buf, count, offset);
}

ssize_t FileSystem::pread(int fd, void* buf, std::size_t count, off_t offset) {
    return ::pread(fd, buf, count, offset);
}

int FileSystem::openat(int dirFd, const char* name, int flags, mode_t mode) {
    return ::openat(dirFd, name, flags | O_CLOEXEC, mode);
}
int FileSystem::statx(int dirFd, const char* name, int flags, unsigned mask, struct statx* out) {
    return ::statx(dirFd, name, flags, mask, out);
}
int FileSystem::mkdirat(int dirFd, const char* name, mode_t mode) {
    return ::mkdirat(dirFd, name, mode);
}
int FileSystem::unlinkat(int dirFd, const char* name, int flags) {
    return ::unlinkat(dirFd, name, flags);
}
int FileSystem::renameat2(int fromDirFd, const char* from, int toDirFd, const char* to,
                          unsigned flags) {
    return ::renameat2(fromDirFd, from, toDirFd, to, flags);
}
int FileSystem::linkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags) {
    return ::linkat(fromDirFd, from, toDirFd, to, flags);
}
int FileSystem::symlinkat(const char* target, int dirFd, const char* name) {
    return ::symlinkat(target, dirFd, name);
}
ssize_t FileSystem::readlinkat(int dirFd, const char* name, char* buf, std::size_t size) {
    return ::readlinkat(dirFd, name, buf, size);
}
int FileSystem::fchownat(int dirFd, const char* name, uid_t uid, gid_t gid, int flags) {
    return ::fchownat(dirFd, name, uid, gid, flags);
}
int FileSystem::utimensat(int dirFd, const char* name, const struct timespec times[2], int flags) {
    return ::utimensat(dirFd, name, times, flags);
}
int FileSystem::fstatat(int dirFd, const char* name, struct stat* out, int flags) {
    return ::fstatat(dirFd, name, out, flags);
}
int FileSystem::fstat(int fd, struct stat* out) { return ::fstat(fd, out); }
int FileSystem::dup(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }
int FileSystem::fchown(int fd, uid_t uid, gid_t gid) { return ::fchown(fd, uid, gid); }
int FileSystem::futimens(int fd, const struct timespec times[2]) { return ::futimens(fd, times); }
int FileSystem::fstatfs(int fd, struct statfs* out) { return ::fstatfs(fd, out); }
ssize_t FileSystem::fgetxattr(int fd, const char* name, void* value, std::size_t size) {
    return ::fgetxattr(fd, name, value, size);
}
int FileSystem::fsetxattr(int fd, const char* name, const void* value, std::size_t size,
                          int flags) {
    return ::fsetxattr(fd, name, value, size, flags);
}
ssize_t FileSystem::flistxattr(int fd, char* list, std::size_t size) {
    return ::flistxattr(fd, list, size);
}
int FileSystem::fremovexattr(int fd, const char* name) { return ::fremovexattr(fd, name); }

int FileSystem::aclextended(const char* path) { return ::acl_extended_file(path); }
acl_t FileSystem::getacl(const char* path, acl_type_t type) { return ::acl_get_file(path, type); }
int FileSystem::setacl(const char* path, acl_type_t type, acl_t acl) {
    return ::acl_set_file(path, type, acl);
}
acl_t FileSystem::fgetacl(int fd) { return ::acl_get_fd(fd); }
int FileSystem::fsetacl(int fd, acl_t acl) { return ::acl_set_fd(fd, acl); }
namespace {

// Runs call on "/proc/self/fd/N" for an O_PATH descriptor of the item: that path resolves to
// the very item opened, so the xattr calls that exist only for paths (and work on items the
// process may not read) act on it and nothing else.
//
// "." names the open folder dirFd itself: onOpen acts on it directly, in one call, unless dirFd
// is not open for that (O_PATH).
template <typename Call, typename OnOpen>
auto OnItem(int dirFd, const char* name, Call call, OnOpen onOpen) -> decltype(call("")) {
    if (name[0] == '.' && name[1] == '\0') {
        const auto result = onOpen(dirFd);
        if (result >= 0 || errno != EBADF) return result;
    }
    const int fd = sys().openat(dirFd, name, O_PATH | O_NOFOLLOW, 0);
    if (fd < 0) return -1;
    struct stat st {};
    decltype(call("")) result = -1;
    if (sys().fstat(fd, &st) != 0) {
        // errno from fstat
    } else if (S_ISLNK(st.st_mode)) {
        errno = ENOTSUP;
    } else {
        result = call(("/proc/self/fd/" + std::to_string(fd)).c_str());
    }
    const int saved = errno;
    sys().close(fd);
    errno = saved;
    return result;
}

}  // namespace

ssize_t FileSystem::getxattrat(int dirFd, const char* name, const char* attr, void* value,
                               std::size_t size) {
    return OnItem(
        dirFd, name, [&](const char* p) { return ::getxattr(p, attr, value, size); },
        [&](int fd) { return ::fgetxattr(fd, attr, value, size); });
}
int FileSystem::setxattrat(int dirFd, const char* name, const char* attr, const void* value,
                           std::size_t size, int flags) {
    return OnItem(
        dirFd, name, [&](const char* p) { return ::setxattr(p, attr, value, size, flags); },
        [&](int fd) { return ::fsetxattr(fd, attr, value, size, flags); });
}
ssize_t FileSystem::listxattrat(int dirFd, const char* name, char* list, std::size_t size) {
    return OnItem(
        dirFd, name, [&](const char* p) { return ::listxattr(p, list, size); },
        [&](int fd) { return ::flistxattr(fd, list, size); });
}
int FileSystem::removexattrat(int dirFd, const char* name, const char* attr) {
    return OnItem(
        dirFd, name, [&](const char* p) { return ::removexattr(p, attr); },
        [&](int fd) { return ::fremovexattr(fd, attr); });
}

ssize_t FileSystem::lgetxattr(const char* path, const char* attr, void* value, std::size_t size) {
    return ::lgetxattr(path, attr, value, size);
}

int FileSystem::chmodat(int dirFd, const char* name, mode_t mode) {
    return OnItem(
        dirFd, name, [&](const char* p) { return ::chmod(p, mode); },
        [&](int fd) { return ::fchmod(fd, mode); });
}

int FileSystem::getflags(int fd, int* flags) { return ::ioctl(fd, FS_IOC_GETFLAGS, flags); }
int FileSystem::setflags(int fd, int flags) { return ::ioctl(fd, FS_IOC_SETFLAGS, &flags); }

namespace {
// The fixed head of a getdents64 record; the name follows it.
struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
};
constexpr std::size_t kDirentNameOffset = offsetof(LinuxDirent64, d_type) + 1;
}  // namespace

int FileSystem::readfolder(int dirFd, std::vector<FolderEntry>& entries) {
    // getdents64 on the handle itself: no DIR stream takes the descriptor over, and an error
    // in the middle of the folder is told apart from its end.
    if (::lseek(dirFd, 0, SEEK_SET) != 0) return errno;
    alignas(8) char buffer[32768];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (long offset = 0; offset < n;) {
            const auto* d = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
            offset += d->d_reclen;
            const char* name = reinterpret_cast<const char*>(d) + kDirentNameOffset;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            entries.push_back({name, d->d_type});
        }
    }
}

namespace {
FileSystem gRealCalls;
FileSystem* gCurrent = &gRealCalls;
}  // namespace

FileSystem& sys() { return *gCurrent; }

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement) : previous_(gCurrent) {
    gCurrent = &replacement;
}
ScopedFileSystem::~ScopedFileSystem() { gCurrent = previous_; }

}  // namespace qv::platform
