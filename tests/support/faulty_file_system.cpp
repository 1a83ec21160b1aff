#include "support/faulty_file_system.h"

#include <unistd.h>

#include <cerrno>

namespace qv::test {

namespace {

std::string LastComponent(const char* path) {
    if (path == nullptr) return {};
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The name of the item an open descriptor stands for, as the kernel remembers its path.
std::string NameOfFd(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    target[n] = '\0';
    return LastComponent(target);
}

// The item a call relative to a folder acts on; an empty name (AT_EMPTY_PATH) is the folder.
std::string NameAt(int dirFd, const char* name) {
    return name == nullptr || name[0] == '\0' ? NameOfFd(dirFd) : LastComponent(name);
}

bool Matches(const std::string& ruleName, const std::vector<std::string>& names) {
    if (ruleName.empty()) return true;
    for (const std::string& n : names) {
        if (n == ruleName) return true;
    }
    return false;
}

}  // namespace

const char* FsCallName(FsCall call) {
    static constexpr const char* kNames[] = {
        "mkstemp",    "write",       "fsync",         "fchmod",       "close",
        "rename",     "unlink",      "mkdir",         "ficlone",      "copy_file_range",
        "pwrite",     "openat",      "statx",         "mkdirat",      "unlinkat",
        "renameat2",  "linkat",      "symlinkat",     "readlinkat",   "fchownat",
        "utimensat",  "fstat",       "fchown",        "futimens",     "fstatfs",
        "fgetxattr",  "fsetxattr",   "flistxattr",    "fremovexattr", "getxattrat",
        "setxattrat", "listxattrat", "removexattrat", "getflags",     "setflags",
        "readfolder", "fstatat",     "chmodat",       "dup",          "pread",
        "lgetxattr",  "realpath"};
    static_assert(sizeof kNames / sizeof kNames[0] == static_cast<int>(FsCall::realpath) + 1);
    return kNames[static_cast<int>(call)];
}

void FaultyFileSystem::Fail(FsCall call, std::string name, int error, int nth, FsTimes times) {
    std::lock_guard lock(mutex_);
    rules_.push_back({call, std::move(name), error, nth, times, false, 0});
}

void FaultyFileSystem::FailHalfway(std::string name, int error, int nth, FsTimes times) {
    std::lock_guard lock(mutex_);
    rules_.push_back({FsCall::readfolder, std::move(name), error, nth, times, true, 0});
}

void FaultyFileSystem::Before(FsCall call, std::string name, std::function<void()> callback,
                              bool once) {
    std::lock_guard lock(mutex_);
    hooks_.push_back({call, std::move(name), std::move(callback), once, false});
}

void FaultyFileSystem::Clear() {
    std::lock_guard lock(mutex_);
    rules_.clear();
    hooks_.clear();
}

int FaultyFileSystem::count(FsCall call) const {
    std::lock_guard lock(mutex_);
    const auto it = counts_.find(call);
    return it == counts_.end() ? 0 : it->second;
}

int FaultyFileSystem::count(FsCall call, const std::string& name) const {
    std::lock_guard lock(mutex_);
    const auto it = namedCounts_.find({call, name});
    return it == namedCounts_.end() ? 0 : it->second;
}

FaultyFileSystem::Verdict FaultyFileSystem::Enter(FsCall call,
                                                  const std::vector<std::string>& names) {
    std::vector<std::function<void()>> toRun;
    {
        std::lock_guard lock(mutex_);
        ++counts_[call];
        for (const std::string& n : names) ++namedCounts_[{call, n}];
        for (Hook& hook : hooks_) {
            if (hook.call != call || hook.done || !Matches(hook.name, names)) continue;
            if (hook.once) hook.done = true;
            toRun.push_back(hook.callback);
        }
    }
    // Outside the lock: a callback may well make calls of its own through this object.
    for (const auto& callback : toRun) callback();
    std::lock_guard lock(mutex_);
    Verdict verdict;
    for (Rule& rule : rules_) {
        if (rule.call != call || !Matches(rule.name, names)) continue;
        ++rule.matched;
        const bool fails =
            rule.times == FsTimes::Only ? rule.matched == rule.nth : rule.matched >= rule.nth;
        if (fails && verdict.error == 0) verdict = {rule.error, rule.halfway};
    }
    return verdict;
}

int FaultyFileSystem::Failed(FsCall call, const std::vector<std::string>& names) {
    const Verdict v = Enter(call, names);
    if (v.error != 0) errno = v.error;
    return v.error;
}

// Each call: counted and checked under its item's name, then made for real unless it fails.
#define QV_FAULT_POINT(call, ...)                                \
    do {                                                         \
        if (Failed(FsCall::call, {__VA_ARGS__}) != 0) return -1; \
    } while (false)

int FaultyFileSystem::mkstemp(char* pathTemplate) {
    QV_FAULT_POINT(mkstemp, LastComponent(pathTemplate));
    return FileSystem::mkstemp(pathTemplate);
}
ssize_t FaultyFileSystem::write(int fd, const void* buf, std::size_t count) {
    QV_FAULT_POINT(write, NameOfFd(fd));
    return FileSystem::write(fd, buf, count);
}
int FaultyFileSystem::fsync(int fd) {
    QV_FAULT_POINT(fsync, NameOfFd(fd));
    return FileSystem::fsync(fd);
}
int FaultyFileSystem::fchmod(int fd, mode_t mode) {
    QV_FAULT_POINT(fchmod, NameOfFd(fd));
    return FileSystem::fchmod(fd, mode);
}
int FaultyFileSystem::close(int fd) {
    QV_FAULT_POINT(close, NameOfFd(fd));
    return FileSystem::close(fd);
}
int FaultyFileSystem::rename(const char* from, const char* to) {
    QV_FAULT_POINT(rename, LastComponent(from), LastComponent(to));
    return FileSystem::rename(from, to);
}
int FaultyFileSystem::unlink(const char* path) {
    QV_FAULT_POINT(unlink, LastComponent(path));
    return FileSystem::unlink(path);
}
int FaultyFileSystem::mkdir(const char* path, mode_t mode) {
    QV_FAULT_POINT(mkdir, LastComponent(path));
    return FileSystem::mkdir(path, mode);
}
int FaultyFileSystem::ficlone(int dstFd, int srcFd) {
    QV_FAULT_POINT(ficlone, NameOfFd(dstFd), NameOfFd(srcFd));
    return FileSystem::ficlone(dstFd, srcFd);
}
ssize_t FaultyFileSystem::copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                                          std::size_t len) {
    QV_FAULT_POINT(copy_file_range, NameOfFd(outFd), NameOfFd(inFd));
    return FileSystem::copy_file_range(inFd, inOff, outFd, outOff, len);
}
ssize_t FaultyFileSystem::pwrite(int fd, const void* buf, std::size_t count, off_t offset) {
    QV_FAULT_POINT(pwrite, NameOfFd(fd));
    return FileSystem::pwrite(fd, buf, count, offset);
}
int FaultyFileSystem::openat(int dirFd, const char* name, int flags, mode_t mode) {
    QV_FAULT_POINT(openat, NameAt(dirFd, name));
    return FileSystem::openat(dirFd, name, flags, mode);
}
int FaultyFileSystem::statx(int dirFd, const char* name, int flags, unsigned mask,
                            struct statx* out) {
    QV_FAULT_POINT(statx, NameAt(dirFd, name));
    return FileSystem::statx(dirFd, name, flags, mask, out);
}
int FaultyFileSystem::mkdirat(int dirFd, const char* name, mode_t mode) {
    QV_FAULT_POINT(mkdirat, NameAt(dirFd, name));
    return FileSystem::mkdirat(dirFd, name, mode);
}
int FaultyFileSystem::unlinkat(int dirFd, const char* name, int flags) {
    QV_FAULT_POINT(unlinkat, NameAt(dirFd, name));
    return FileSystem::unlinkat(dirFd, name, flags);
}
int FaultyFileSystem::renameat2(int fromDirFd, const char* from, int toDirFd, const char* to,
                                unsigned flags) {
    QV_FAULT_POINT(renameat2, NameAt(fromDirFd, from), NameAt(toDirFd, to));
    return FileSystem::renameat2(fromDirFd, from, toDirFd, to, flags);
}
int FaultyFileSystem::linkat(int fromDirFd, const char* from, int toDirFd, const char* to,
                             int flags) {
    QV_FAULT_POINT(linkat, NameAt(fromDirFd, from), NameAt(toDirFd, to));
    return FileSystem::linkat(fromDirFd, from, toDirFd, to, flags);
}
int FaultyFileSystem::symlinkat(const char* target, int dirFd, const char* name) {
    QV_FAULT_POINT(symlinkat, NameAt(dirFd, name));
    return FileSystem::symlinkat(target, dirFd, name);
}
ssize_t FaultyFileSystem::readlinkat(int dirFd, const char* name, char* buf, std::size_t size) {
    QV_FAULT_POINT(readlinkat, NameAt(dirFd, name));
    return FileSystem::readlinkat(dirFd, name, buf, size);
}
int FaultyFileSystem::fchownat(int dirFd, const char* name, uid_t uid, gid_t gid, int flags) {
    QV_FAULT_POINT(fchownat, NameAt(dirFd, name));
    return FileSystem::fchownat(dirFd, name, uid, gid, flags);
}
int FaultyFileSystem::utimensat(int dirFd, const char* name, const struct timespec times[2],
                                int flags) {
    QV_FAULT_POINT(utimensat, NameAt(dirFd, name));
    return FileSystem::utimensat(dirFd, name, times, flags);
}
int FaultyFileSystem::fstat(int fd, struct stat* out) {
    QV_FAULT_POINT(fstat, NameOfFd(fd));
    return FileSystem::fstat(fd, out);
}
int FaultyFileSystem::fchown(int fd, uid_t uid, gid_t gid) {
    QV_FAULT_POINT(fchown, NameOfFd(fd));
    return FileSystem::fchown(fd, uid, gid);
}
int FaultyFileSystem::futimens(int fd, const struct timespec times[2]) {
    QV_FAULT_POINT(futimens, NameOfFd(fd));
    return FileSystem::futimens(fd, times);
}
int FaultyFileSystem::fstatfs(int fd, struct statfs* out) {
    QV_FAULT_POINT(fstatfs, NameOfFd(fd));
    return FileSystem::fstatfs(fd, out);
}
ssize_t FaultyFileSystem::fgetxattr(int fd, const char* name, void* value, std::size_t size) {
    QV_FAULT_POINT(fgetxattr, NameOfFd(fd));
    return FileSystem::fgetxattr(fd, name, value, size);
}
int FaultyFileSystem::fsetxattr(int fd, const char* name, const void* value, std::size_t size,
                                int flags) {
    QV_FAULT_POINT(fsetxattr, NameOfFd(fd));
    return FileSystem::fsetxattr(fd, name, value, size, flags);
}
ssize_t FaultyFileSystem::flistxattr(int fd, char* list, std::size_t size) {
    QV_FAULT_POINT(flistxattr, NameOfFd(fd));
    return FileSystem::flistxattr(fd, list, size);
}
int FaultyFileSystem::fremovexattr(int fd, const char* name) {
    QV_FAULT_POINT(fremovexattr, NameOfFd(fd));
    return FileSystem::fremovexattr(fd, name);
}
ssize_t FaultyFileSystem::getxattrat(int dirFd, const char* name, const char* attr, void* value,
                                     std::size_t size) {
    QV_FAULT_POINT(getxattrat, NameAt(dirFd, name));
    return FileSystem::getxattrat(dirFd, name, attr, value, size);
}
int FaultyFileSystem::setxattrat(int dirFd, const char* name, const char* attr, const void* value,
                                 std::size_t size, int flags) {
    QV_FAULT_POINT(setxattrat, NameAt(dirFd, name));
    return FileSystem::setxattrat(dirFd, name, attr, value, size, flags);
}
ssize_t FaultyFileSystem::listxattrat(int dirFd, const char* name, char* list, std::size_t size) {
    QV_FAULT_POINT(listxattrat, NameAt(dirFd, name));
    return FileSystem::listxattrat(dirFd, name, list, size);
}
int FaultyFileSystem::removexattrat(int dirFd, const char* name, const char* attr) {
    QV_FAULT_POINT(removexattrat, NameAt(dirFd, name));
    return FileSystem::removexattrat(dirFd, name, attr);
}
int FaultyFileSystem::getflags(int fd, int* flags) {
    QV_FAULT_POINT(getflags, NameOfFd(fd));
    return FileSystem::getflags(fd, flags);
}
int FaultyFileSystem::setflags(int fd, int flags) {
    QV_FAULT_POINT(setflags, NameOfFd(fd));
    return FileSystem::setflags(fd, flags);
}

int FaultyFileSystem::readfolder(int dirFd, std::vector<platform::FolderEntry>& entries) {
    // Unlike the other calls, a listing reports its failure as its result.
    const Verdict v = Enter(FsCall::readfolder, {NameOfFd(dirFd)});
    if (v.error == 0) return FileSystem::readfolder(dirFd, entries);
    if (!v.halfway) return v.error;
    const std::size_t before = entries.size();
    const int error = FileSystem::readfolder(dirFd, entries);
    if (error != 0) return error;
    entries.resize(before + (entries.size() - before) / 2);
    return v.error;
}

int FaultyFileSystem::fstatat(int dirFd, const char* name, struct stat* out, int flags) {
    QV_FAULT_POINT(fstatat, NameAt(dirFd, name));
    return FileSystem::fstatat(dirFd, name, out, flags);
}
int FaultyFileSystem::chmodat(int dirFd, const char* name, mode_t mode) {
    QV_FAULT_POINT(chmodat, NameAt(dirFd, name));
    return FileSystem::chmodat(dirFd, name, mode);
}
int FaultyFileSystem::dup(int fd) {
    QV_FAULT_POINT(dup, NameOfFd(fd));
    return FileSystem::dup(fd);
}
ssize_t FaultyFileSystem::pread(int fd, void* buf, std::size_t count, off_t offset) {
    QV_FAULT_POINT(pread, NameOfFd(fd));
    return FileSystem::pread(fd, buf, count, offset);
}
ssize_t FaultyFileSystem::lgetxattr(const char* path, const char* attr, void* value,
                                    std::size_t size) {
    QV_FAULT_POINT(lgetxattr, LastComponent(path));
    return FileSystem::lgetxattr(path, attr, value, size);
}
char* FaultyFileSystem::realpath(const char* path, char* resolved) {
    if (Failed(FsCall::realpath, {LastComponent(path)}) != 0) return nullptr;
    return FileSystem::realpath(path, resolved);
}

#undef QV_FAULT_POINT

}  // namespace qv::test
