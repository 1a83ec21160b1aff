#include "support/faulty_file_system.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>

namespace qv::test {

FaultyFileSystem::FaultyFileSystem(std::vector<Fault> faults) {
    for (Fault& f : faults) Add(std::move(f));
}

void FaultyFileSystem::Add(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
    matched_.push_back(0);
}

int FaultyFileSystem::calls(Sys call) const {
    std::lock_guard lock(mutex_);
    const auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

int FaultyFileSystem::failures(Sys call) const {
    std::lock_guard lock(mutex_);
    const auto it = failures_.find(call);
    return it == failures_.end() ? 0 : it->second;
}

bool FaultyFileSystem::Fails(Sys call, std::string_view name, unsigned flags, bool changes,
                             int fd) {
    std::function<void()> act;
    int error = 0;
    {
        std::lock_guard lock(mutex_);
        ++calls_[call];
        for (std::size_t i = 0; i < faults_.size() && act == nullptr && error == 0; ++i) {
            const Fault& f = faults_[i];
            const bool kind =
                f.call == call || f.call == Sys::any || (f.call == Sys::change && changes);
            if (!kind) continue;
            if (!f.name.empty() && name.find(f.name) == std::string_view::npos) continue;
            if (f.when && !f.when(SysCall{call, name, flags, fd})) continue;
            const int seen = matched_[i]++;
            if (seen < f.after || (f.times >= 0 && seen >= f.after + f.times)) continue;
            if (f.error != 0) ++failures_[call];
            error = f.error;
            act = f.act;
        }
    }
    if (act) act();  // outside the lock: it may end the process or call in again
    if (error == 0) return false;
    errno = error;
    return true;
}

std::string FaultyFileSystem::NameOf(int fd) const {
    std::lock_guard lock(mutex_);
    const auto it = names_.find(fd);
    return it == names_.end() ? std::string() : it->second;
}

std::string FaultyFileSystem::Joined(int dirFd, const char* name) const {
    if (name == nullptr || *name == '/' || dirFd == AT_FDCWD) return name ? name : "";
    const std::string folder = NameOf(dirFd);
    if (*name == '\0' || std::string_view(name) == ".") return folder;
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

void FaultyFileSystem::Opened(int fd, std::string_view name) {
    if (fd < 0) return;
    std::lock_guard lock(mutex_);
    names_[fd] = std::string(name);
}

int FaultyFileSystem::mkstemp(char* pathTemplate) {
    if (Fails(Sys::mkstemp, pathTemplate)) return -1;
    const int fd = FileSystem::mkstemp(pathTemplate);
    Opened(fd, pathTemplate);
    return fd;
}

ssize_t FaultyFileSystem::write(int fd, const void* buf, std::size_t count) {
    if (Fails(Sys::write, NameOf(fd), 0, false, fd)) return -1;
    return FileSystem::write(fd, buf, std::min(count, maxWrite));
}

int FaultyFileSystem::fsync(int fd) {
    return Fails(Sys::fsync, NameOf(fd), 0, true, fd) ? -1 : FileSystem::fsync(fd);
}

int FaultyFileSystem::fchmod(int fd, mode_t mode) {
    return Fails(Sys::fchmod, NameOf(fd), 0, false, fd) ? -1 : FileSystem::fchmod(fd, mode);
}

int FaultyFileSystem::rename(const char* from, const char* to) {
    return Fails(Sys::rename, to) ? -1 : FileSystem::rename(from, to);
}

int FaultyFileSystem::unlink(const char* path) {
    return Fails(Sys::unlink, path) ? -1 : FileSystem::unlink(path);
}

int FaultyFileSystem::ficlone(int dstFd, int srcFd) {
    return Fails(Sys::ficlone, NameOf(dstFd)) ? -1 : FileSystem::ficlone(dstFd, srcFd);
}

ssize_t FaultyFileSystem::copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                                          std::size_t len) {
    if (Fails(Sys::copy_file_range, NameOf(outFd))) return -1;
    return FileSystem::copy_file_range(inFd, inOff, outFd, outOff, len);
}

int FaultyFileSystem::openat(int dirFd, const char* name, int flags, mode_t mode) {
    const std::string path = Joined(dirFd, name);
    if (Fails(Sys::openat, path, static_cast<unsigned>(flags),
              (flags & (O_CREAT | O_WRONLY | O_RDWR)) != 0)) {
        return -1;
    }
    const int fd = FileSystem::openat(dirFd, name, flags, mode);
    Opened(fd, path);
    return fd;
}

int FaultyFileSystem::statx(int dirFd, const char* name, int flags, unsigned mask,
                            struct statx* out) {
    return Fails(Sys::statx, Joined(dirFd, name))
               ? -1
               : FileSystem::statx(dirFd, name, flags, mask, out);
}

int FaultyFileSystem::mkdirat(int dirFd, const char* name, mode_t mode) {
    return Fails(Sys::mkdirat, Joined(dirFd, name), 0, true)
               ? -1
               : FileSystem::mkdirat(dirFd, name, mode);
}

int FaultyFileSystem::unlinkat(int dirFd, const char* name, int flags) {
    return Fails(Sys::unlinkat, Joined(dirFd, name), 0, true)
               ? -1
               : FileSystem::unlinkat(dirFd, name, flags);
}

int FaultyFileSystem::renameat2(int fromDirFd, const char* from, int toDirFd, const char* to,
                                unsigned flags) {
    // Named by the item renamed: a temporary that takes a place, a name that leaves it.
    if (Fails(Sys::renameat2, Joined(fromDirFd, from), flags, true)) return -1;
    return FileSystem::renameat2(fromDirFd, from, toDirFd, to, flags);
}

int FaultyFileSystem::linkat(int fromDirFd, const char* from, int toDirFd, const char* to,
                             int flags) {
    if (Fails(Sys::linkat, Joined(toDirFd, to))) return -1;
    return FileSystem::linkat(fromDirFd, from, toDirFd, to, flags);
}

int FaultyFileSystem::symlinkat(const char* target, int dirFd, const char* name) {
    return Fails(Sys::symlinkat, Joined(dirFd, name), 0, true)
               ? -1
               : FileSystem::symlinkat(target, dirFd, name);
}

int FaultyFileSystem::futimens(int fd, const struct timespec times[2]) {
    return Fails(Sys::futimens, NameOf(fd), 0, false, fd) ? -1 : FileSystem::futimens(fd, times);
}

int FaultyFileSystem::fchown(int fd, uid_t uid, gid_t gid) {
    return Fails(Sys::fchown, NameOf(fd), 0, false, fd) ? -1 : FileSystem::fchown(fd, uid, gid);
}

int FaultyFileSystem::setacl(const char* path, acl_type_t type, acl_t acl) {
    return Fails(Sys::setacl, path, 0, true) ? -1 : FileSystem::setacl(path, type, acl);
}

int FaultyFileSystem::fsetacl(int fd, acl_t acl) {
    return Fails(Sys::fsetacl, NameOf(fd), 0, true, fd) ? -1 : FileSystem::fsetacl(fd, acl);
}

int FaultyFileSystem::fstatfs(int fd, struct statfs* out) {
    return Fails(Sys::fstatfs, NameOf(fd)) ? -1 : FileSystem::fstatfs(fd, out);
}

int FaultyFileSystem::readfolder(int dirFd, std::vector<platform::FolderEntry>& entries) {
    if (!Fails(Sys::readfolder, NameOf(dirFd))) return FileSystem::readfolder(dirFd, entries);
    const int error = errno;
    FileSystem::readfolder(dirFd, entries);
    entries.resize(entries.size() / 2);
    return error;
}

}  // namespace qv::test
