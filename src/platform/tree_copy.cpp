#include "platform/tree_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file_copy.h"
#include "platform/file_io.h"
#include "platform/privileges.h"
#include "platform/unique_fd.h"

namespace qv::platform {

namespace {

constexpr int kMaxDepth = 256;

std::string Why(const std::string& what, const std::string& name) {
    return what + " \"" + name + "\": " + std::strerror(errno);
}

void SetTimes(int dirFd, const char* name, const struct stat& st) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(dirFd, name, times, AT_SYMLINK_NOFOLLOW);
}

bool CopyFile(int fromDir, int toDir, const char* name, const struct stat& st,
              std::string* reason) {
    UniqueFd in(::openat(fromDir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) return (*reason = Why("cannot open", name), false);
    UniqueFd out(::openat(toDir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          st.st_mode & 07777));
    if (!out.valid()) return (*reason = Why("cannot create", name), false);
    std::string error;
    if (!CopyFileContent(in.get(), out.get(), static_cast<std::uint64_t>(st.st_size), &error)) {
        *reason = "cannot copy \"" + std::string(name) + "\": " + error;
        return false;
    }
    ::fchmod(out.get(), st.st_mode & 07777);
    GiveCreatedFile(out.get());
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    return true;
}

bool CopyInto(int fromDir, int toDir, int depth, std::string* reason) {
    if (depth > kMaxDepth) return (*reason = "folders nested too deeply", false);
    const int listFd = ::dup(fromDir);
    if (listFd < 0) return (*reason = Why("cannot list", "."), false);
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
        ::close(listFd);
        return (*reason = Why("cannot list", "."), false);
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    const int listError = errno;
    ::closedir(dir);
    if (listError != 0) return (errno = listError, *reason = Why("cannot list", "."), false);

    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(fromDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return (*reason = Why("cannot read", name), false);
        }
        if (S_ISDIR(st.st_mode)) {
            if (::mkdirat(toDir, name.c_str(), 0700) != 0) {
                return (*reason = Why("cannot create", name), false);
            }
            UniqueFd sub(::openat(fromDir, name.c_str(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            UniqueFd subTo(::openat(toDir, name.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub.valid() || !subTo.valid()) return (*reason = Why("cannot open", name), false);
            GiveCreatedFile(subTo.get());
            if (!CopyInto(sub.get(), subTo.get(), depth + 1, reason)) return false;
            ::fchmod(subTo.get(), st.st_mode & 07777);
            SetTimes(toDir, name.c_str(), st);
        } else if (S_ISREG(st.st_mode)) {
            if (!CopyFile(fromDir, toDir, name.c_str(), st, reason)) return false;
        } else if (S_ISLNK(st.st_mode)) {
            std::vector<char> target(static_cast<std::size_t>(st.st_size) + 1);
            const ssize_t n = ::readlinkat(fromDir, name.c_str(), target.data(), target.size());
            if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
                return (*reason = Why("cannot read the link", name), false);
            }
            target[static_cast<std::size_t>(n)] = '\0';
            if (::symlinkat(target.data(), toDir, name.c_str()) != 0) {
                return (*reason = Why("cannot create the link", name), false);
            }
            SetTimes(toDir, name.c_str(), st);
        }
    }
    return true;
}

// Removes what a failed copy left, without following links.
void RemoveTree(int parentFd, const char* name, int depth) {
    if (depth <= kMaxDepth) {
        UniqueFd fd(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.valid()) {
            const int listFd = ::dup(fd.get());
            if (DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
                std::vector<std::string> names;
                while (const dirent* entry = ::readdir(dir)) {
                    if (std::strcmp(entry->d_name, ".") != 0 &&
                        std::strcmp(entry->d_name, "..") != 0) {
                        names.emplace_back(entry->d_name);
                    }
                }
                ::closedir(dir);
                for (const std::string& n : names) {
                    if (::unlinkat(fd.get(), n.c_str(), 0) != 0) RemoveTree(fd.get(), n.c_str(), depth + 1);
                }
            } else if (listFd >= 0) {
                ::close(listFd);
            }
        }
    }
    ::unlinkat(parentFd, name, AT_REMOVEDIR);
}

}  // namespace

bool CopyFolderTree(const std::string& from, const std::string& to, std::string* reason) {
    std::string ignored;
    if (reason == nullptr) reason = &ignored;
    const std::string parent = ParentFolder(to);
    const std::string name = to.substr(to.find_last_of('/') + 1);
    const std::string partial = "." + name + ".partial";
    UniqueFd source(::open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!source.valid()) return (*reason = Why("cannot open", from), false);
    if (!CreateFolderWithFoldersInBetween(parent, reason)) return false;
    UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd.valid()) return (*reason = Why("cannot open", parent), false);
    RemoveTree(parentFd.get(), partial.c_str(), 0);  // a copy an earlier start left unfinished
    if (::mkdirat(parentFd.get(), partial.c_str(), 0700) != 0) {
        return (*reason = Why("cannot create", partial), false);
    }
    UniqueFd target(
        ::openat(parentFd.get(), partial.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    bool ok = target.valid() && CopyInto(source.get(), target.get(), 0, reason);
    if (ok) {
        struct stat st {};
        if (::fstat(source.get(), &st) == 0) ::fchmod(target.get(), st.st_mode & 07777);
        GiveCreatedFile(target.get());
        ok = ::renameat(parentFd.get(), partial.c_str(), parentFd.get(), name.c_str()) == 0;
        if (!ok) *reason = Why("cannot rename the copy to", name);
    }
    if (!ok) RemoveTree(parentFd.get(), partial.c_str(), 0);
    return ok;
}

}  // namespace qv::platform
