#pragma once
// The one failing file system of the tests: rules say which call fails, on which item, with
// which errno, after how many calls and how many times; every other call reaches the kernel.
// Install it with platform::ScopedFileSystem. A failed listing keeps the first half of the
// entries, as a listing that stops half-way does.
//
//   FaultyFileSystem fs({{Sys::write, ENOSPC, "", 2}});     // the third write: disk full
//   FaultyFileSystem fs({{Sys::openat, EACCES, "secret"}});  // no opening a name with "secret"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace qv::test {

enum class Sys {
    any,     // a rule on every call below
    change,  // a rule on the calls that change something on disk: an open that creates or
             // writes, mkdirat, unlinkat, renameat2, symlinkat, fsync
    mkstemp,
    write,
    fsync,
    fchmod,
    rename,
    unlink,
    ficlone,
    copy_file_range,
    openat,
    statx,
    mkdirat,
    unlinkat,
    renameat2,
    linkat,
    symlinkat,
    futimens,
    fchown,
    fstatfs,
    readfolder,
    setacl,
    fsetacl,
};

// What a rule's predicate sees of a call.
struct SysCall {
    Sys call;
    // The item's path as far as it is known: the name given, after the path its folder's
    // handle was opened with (an fd stands for the path it was opened with); may be "".
    std::string_view name;
    unsigned flags = 0;  // renameat2's flags, openat's
    int fd = -1;         // the file acted on, for the calls on an open file
};

struct Fault {
    Sys call;
    int error;              // the errno the call fails with; 0: it goes through after `act`
    std::string name = {};  // only calls whose path (see SysCall) contains it
    int after = 0;          // the first `after` matching calls go through
    int times = -1;         // how many fail then; -1: all
    std::function<bool(const SysCall&)> when = {};  // and only when this says so
    std::function<void()> act = {};                 // done at each failing call (a kill: _exit)
};

class FaultyFileSystem : public platform::FileSystem {
  public:
    explicit FaultyFileSystem(std::vector<Fault> faults = {});

    void Add(Fault fault);
    // Calls of that kind seen, and failed, so far.
    int calls(Sys call) const;
    int failures(Sys call) const;
    // The last write gets at most this many bytes (short writes).
    std::size_t maxWrite = static_cast<std::size_t>(-1);

    int mkstemp(char* pathTemplate) override;
    ssize_t write(int fd, const void* buf, std::size_t count) override;
    int fsync(int fd) override;
    int fchmod(int fd, mode_t mode) override;
    int rename(const char* from, const char* to) override;
    int unlink(const char* path) override;
    int ficlone(int dstFd, int srcFd) override;
    ssize_t copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                            std::size_t len) override;
    int openat(int dirFd, const char* name, int flags, mode_t mode) override;
    int statx(int dirFd, const char* name, int flags, unsigned mask, struct statx* out) override;
    int mkdirat(int dirFd, const char* name, mode_t mode) override;
    int unlinkat(int dirFd, const char* name, int flags) override;
    int renameat2(int fromDirFd, const char* from, int toDirFd, const char* to,
                  unsigned flags) override;
    int linkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags) override;
    int symlinkat(const char* target, int dirFd, const char* name) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int fchown(int fd, uid_t uid, gid_t gid) override;
    int fstatfs(int fd, struct statfs* out) override;
    int setacl(const char* path, acl_type_t type, acl_t acl) override;
    int fsetacl(int fd, acl_t acl) override;
    int readfolder(int dirFd, std::vector<platform::FolderEntry>& entries) override;

  private:
    // True, with errno set, when a rule fails this call.
    bool Fails(Sys call, std::string_view name, unsigned flags = 0, bool changes = false,
               int fd = -1);
    std::string NameOf(int fd) const;
    std::string Joined(int dirFd, const char* name) const;
    void Opened(int fd, std::string_view name);

    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
    std::vector<int> matched_;  // per rule: the calls it matched so far
    std::map<Sys, int> calls_, failures_;
    std::map<int, std::string> names_;  // fd -> the name it was opened with
};

}  // namespace qv::test
