#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/file_system.h"
#include "platform/privileges.h"
#include "platform/unique_fd.h"

namespace qv::platform {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

// Closes a descriptor when it goes out of scope.
// The file a write to path really lands on: a link is followed to the file it names.
std::string ResolveWriteTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    // A dangling link: write where it points, relative to the link's folder.
    std::vector<char> buf(PATH_MAX);
    ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size() - 1);
    if (n <= 0) return path;
    std::string target(buf.data(), static_cast<std::size_t>(n));
    if (target.front() == '/') return target;
    return JoinPath(ParentFolder(path), target);
}

// Removes the files of folder whose names are prefix and six more characters, as mkstemp makes
// them: what a write killed before its rename left.
void RemoveLeftoverTemporaries(const std::string& folder, const std::string& prefix) {
    const int fd = sys().openat(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) return;
    UniqueFd dir(fd);
    std::vector<FolderEntry> entries;
    sys().readfolder(dir.get(), entries);
    for (const FolderEntry& e : entries) {
        if (e.name.size() == prefix.size() + 6 && e.name.compare(0, prefix.size(), prefix) == 0) {
            sys().unlinkat(dir.get(), e.name.c_str(), 0);
        }
    }
}

bool WriteAll(int fd, std::string_view bytes, std::string* reason) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = sys().write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            *reason = ErrnoText(errno);
            return false;
        }
        if (n == 0) {
            *reason = ErrnoText(ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

namespace {

// Checks what an open for reading gave (fd, or the errno of its failure): a regular file.
// False, with the status and the reason in result, otherwise.
bool OpenedRegularFile(int fd, int openErrno, ReadFileResult* result, struct stat* st) {
    if (fd < 0) {
        result->status = (openErrno == ENOENT || openErrno == ENOTDIR) ? ReadStatus::Missing
                         : openErrno == EISDIR || openErrno == ELOOP   ? ReadStatus::NotAFile
                                                                       : ReadStatus::Unreadable;
        result->reason = ErrnoText(openErrno);
        return false;
    }
    if (sys().fstat(fd, st) != 0) {
        result->reason = ErrnoText(errno);
        return false;
    }
    if (!S_ISREG(st->st_mode)) {
        result->status = ReadStatus::NotAFile;
        result->reason = S_ISDIR(st->st_mode) ? "it is a folder" : "it is not a regular file";
        return false;
    }
    return true;
}

}  // namespace

ReadFileResult ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    ReadFileResult result;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!OpenedRegularFile(fd.get(), errno, &result, &st)) return result;
    if (static_cast<std::size_t>(st.st_size) > maxBytes) {
        result.status = ReadStatus::TooLarge;
        result.reason = "the file is larger than " + std::to_string(maxBytes) + " bytes";
        return result;
    }
    // The size can change under us (or be reported as 0 by pseudo files): read to the end,
    // but never past the limit.
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() > maxBytes) {
                result.status = ReadStatus::TooLarge;
                result.reason = "the file is larger than " + std::to_string(maxBytes) + " bytes";
                return result;
            }
            bytes.resize(std::min(maxBytes + 1, bytes.size() * 2 + 4096));
        }
        ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.reason = ErrnoText(errno);
            return result;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > maxBytes) {
        result.status = ReadStatus::TooLarge;
        result.reason = "the file is larger than " + std::to_string(maxBytes) + " bytes";
        return result;
    }
    bytes.resize(got);
    result.status = ReadStatus::Ok;
    result.owner = st.st_uid;
    result.mode = st.st_mode;
    result.bytes = std::move(bytes);
    return result;
}

ReadFileResult ReadFileHead(const std::string& path, std::size_t maxBytes) {
    ReadFileResult result;
    UniqueFd fd(sys().openat(AT_FDCWD, path.c_str(),
                             O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW, 0));
    struct stat st {};
    if (!OpenedRegularFile(fd.get(), errno, &result, &st)) return result;
    std::string bytes(maxBytes, '\0');
    std::size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n =
            sys().pread(fd.get(), bytes.data() + got, maxBytes - got, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            result.reason = ErrnoText(errno);
            return result;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    result.status = ReadStatus::Ok;
    result.owner = st.st_uid;
    result.mode = st.st_mode;
    result.bytes = std::move(bytes);
    return result;
}

WriteResult WriteFileAtomically(const std::string& path, const std::string& bytes,
                                const AtomicWriteOptions& options) {
    return WriteFileAtomically(
        path, [&bytes](const ChunkWriter& write) { return write(bytes); }, options);
}

WriteResult WriteFileAtomically(const std::string& path, const ContentProducer& produce,
                                const AtomicWriteOptions& options) {
    WriteResult result;
    const std::string target = options.followLink ? ResolveWriteTarget(path) : path;
    const std::string folder = ParentFolder(target);
    const std::string tmpPrefix = "." + LastPathComponent(target) + ".qvtmp-";
    if (options.removeLeftovers) RemoveLeftoverTemporaries(folder, tmpPrefix);
    auto failed = [&](WriteStep step, std::string why) {
        result.failedAt = step;
        result.reason = std::move(why);
        return result;
    };

    struct stat old {};
    const bool replacing =
        (options.followLink ? ::stat(target.c_str(), &old) : ::lstat(target.c_str(), &old)) == 0 &&
        !S_ISLNK(old.st_mode);
    if (replacing && S_ISDIR(old.st_mode)) return failed(WriteStep::Create, "it is a folder");
    if (options.refuseReadOnly && replacing &&
        ((old.st_mode & 0222) == 0 ||
         ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
        return failed(WriteStep::Create, "it is read-only");
    }
    const mode_t mode = options.mode ? *options.mode
                        : replacing  ? (old.st_mode & 07777)
                                     : (0666 & ~CurrentUmask());

    std::string tmp = JoinPath(folder, tmpPrefix + "XXXXXX");
    std::vector<char> tmpl(tmp.begin(), tmp.end());
    tmpl.push_back('\0');
    int fd = sys().mkstemp(tmpl.data());
    if (fd < 0) return failed(WriteStep::Create, ErrnoText(errno));
    tmp.assign(tmpl.data());

    auto discard = [&](WriteStep step, std::string why) {
        if (fd >= 0) sys().close(fd);
        sys().unlink(tmp.c_str());
        return failed(step, std::move(why));
    };

    // The mode is set before any content is written, so that a file meant to be private is
    // never readable by others, not even for a moment.
    if (sys().fchmod(fd, mode) != 0) return discard(WriteStep::Mode, ErrnoText(errno));
    if (replacing && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Keep the owner of a document that root rewrites; ignored when not permitted.
        [[maybe_unused]] int rc = ::fchown(fd, old.st_uid, old.st_gid);
    } else if (!replacing) {
        GiveCreatedFile(fd);
    }
    std::string why;
    const bool written = produce([&](std::string_view chunk) { return WriteAll(fd, chunk, &why); });
    if (!written) return discard(WriteStep::Write, why.empty() ? "the content failed" : why);
    if (sys().fsync(fd) != 0) return discard(WriteStep::Flush, ErrnoText(errno));
    const int closed = sys().close(fd);
    fd = -1;
    if (closed != 0) return discard(WriteStep::Flush, ErrnoText(errno));
    if (sys().rename(tmp.c_str(), target.c_str()) != 0) {
        return discard(WriteStep::Rename, ErrnoText(errno));
    }
    // Make the rename itself durable; a failure here leaves a complete file either way.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    result.ok = true;
    return result;
}

bool CreateFolderWithFoldersInBetween(const std::string& path, std::string* reason,
                                      CreatedOwner owner) {
    if (path.empty()) {
        if (reason) *reason = "empty path";
        return false;
    }
    if (IsExistingFolder(path)) return true;
    const std::string parent = ParentFolder(path);
    if (parent != path && !parent.empty() && !IsExistingFolder(parent)) {
        if (!CreateFolderWithFoldersInBetween(parent, reason, owner)) return false;
    }
    if (sys().mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && IsExistingFolder(path))) {
        if (reason) *reason = ErrnoText(errno);
        return false;
    }
    if (owner == CreatedOwner::OwnFiles) GiveCreatedItem(path);
    return true;
}

namespace {

bool RemoveTreeAt(int dirFd, const char* name) {
    if (sys().unlinkat(dirFd, name, 0) == 0 || errno == ENOENT) return true;
    if (errno != EISDIR && errno != EPERM) return false;
    const int fd = sys().openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0) return false;
    std::vector<FolderEntry> entries;
    const int listed = sys().readfolder(fd, entries);
    bool emptied = listed == 0;
    for (const FolderEntry& entry : entries)
        emptied = RemoveTreeAt(fd, entry.name.c_str()) && emptied;
    sys().close(fd);
    return emptied && (sys().unlinkat(dirFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT);
}

}  // namespace

bool RemoveTree(const std::string& path) { return RemoveTreeAt(AT_FDCWD, path.c_str()); }

bool IsExistingFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsEmptyFolder(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return false;
    DIR* dir = ::fdopendir(fd.get());
    if (dir == nullptr) return false;
    fd.release();
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return empty;
}

int OpenRegularFileNoFollow(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return fd.release();
}

bool IsExistingRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ItemExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
    }
    return 022;
}

std::string ParentFolder(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

std::string LastPathComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace qv::platform
