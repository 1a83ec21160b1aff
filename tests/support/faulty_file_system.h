#pragma once
// A file system that fails on command, for tests of what a run does when the disk, the kernel
// or another process gets in its way: a stat refused with EACCES, a full disk on the third
// write, a listing that stops half-way, a folder swapped for a link between the scan and the
// copy. Installed with platform::ScopedFileSystem; every call not failed goes to the real one.
//
//   test::FaultyFileSystem fs;
//   fs.Fail(test::FsCall::openat, "f.txt", EIO);              // every open of f.txt
//   fs.Fail(test::FsCall::pwrite, "", ENOSPC, 3);              // the third write on, any file
//   fs.Fail(test::FsCall::statx, "x", EACCES, 2, test::FsTimes::Only);  // the second stat only
//   fs.FailHalfway("sub", EIO);                                // sub lists half, then EIO
//   fs.Before(test::FsCall::openat, "dir", [&] { ... });       // swap dir for a link first
//   platform::ScopedFileSystem scoped(fs);
//
// The name a rule matches is the last component of the name given to the call; for calls on
// an open descriptor (futimens, fsetxattr, readfolder, ...) it is the name of the item the
// descriptor stands for. Calls come from the run's worker and the thread that lists the other
// side: the rules and counts are guarded.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace qv::test {

enum class FsCall {
    mkstemp,
    write,
    fsync,
    fchmod,
    close,
    rename,
    unlink,
    mkdir,
    ficlone,
    copy_file_range,
    pwrite,
    openat,
    statx,
    mkdirat,
    unlinkat,
    renameat2,
    linkat,
    symlinkat,
    readlinkat,
    fchownat,
    utimensat,
    fstat,
    fchown,
    futimens,
    fstatfs,
    fgetxattr,
    fsetxattr,
    flistxattr,
    fremovexattr,
    getxattrat,
    setxattrat,
    listxattrat,
    removexattrat,
    getflags,
    setflags,
    readfolder,
    fstatat,
    chmodat,
    dup,
    pread,
    lgetxattr,
    realpath,
};
const char* FsCallName(FsCall call);

enum class FsTimes {
    FromThenOn,  // the k-th matching call and every one after it
    Only,        // the k-th matching call alone
};

class FaultyFileSystem : public platform::FileSystem {
  public:
    // Fails call on the item named name ("" for any item) with error, from the nth matching
    // call (counted from 1) on, or only the nth.
    void Fail(FsCall call, std::string name, int error, int nth = 1,
              FsTimes times = FsTimes::FromThenOn);
    // The listing of the folder named name ("" for any) returns the first half of its
    // entries, then error.
    void FailHalfway(std::string name, int error, int nth = 1, FsTimes times = FsTimes::FromThenOn);
    // Runs callback before the first matching call (every matching call with once = false),
    // then lets the call go on: to change the tree between two steps of a run.
    void Before(FsCall call, std::string name, std::function<void()> callback, bool once = true);
    // Removes every rule and hook; the counts stay.
    void Clear();

    // How many times the call was made, on any item or on the item named name; failed calls
    // included.
    int count(FsCall call) const;
    int count(FsCall call, const std::string& name) const;

    int mkstemp(char* pathTemplate) override;
    ssize_t write(int fd, const void* buf, std::size_t count) override;
    int fsync(int fd) override;
    int fchmod(int fd, mode_t mode) override;
    int close(int fd) override;
    int rename(const char* from, const char* to) override;
    int unlink(const char* path) override;
    int mkdir(const char* path, mode_t mode) override;
    int ficlone(int dstFd, int srcFd) override;
    ssize_t copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                            std::size_t len) override;
    ssize_t pwrite(int fd, const void* buf, std::size_t count, off_t offset) override;
    int openat(int dirFd, const char* name, int flags, mode_t mode = 0) override;
    int statx(int dirFd, const char* name, int flags, unsigned mask, struct statx* out) override;
    int mkdirat(int dirFd, const char* name, mode_t mode) override;
    int unlinkat(int dirFd, const char* name, int flags) override;
    int renameat2(int fromDirFd, const char* from, int toDirFd, const char* to,
                  unsigned flags) override;
    int linkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags) override;
    int symlinkat(const char* target, int dirFd, const char* name) override;
    ssize_t readlinkat(int dirFd, const char* name, char* buf, std::size_t size) override;
    int fchownat(int dirFd, const char* name, uid_t uid, gid_t gid, int flags) override;
    int utimensat(int dirFd, const char* name, const struct timespec times[2], int flags) override;
    int fstat(int fd, struct stat* out) override;
    int fchown(int fd, uid_t uid, gid_t gid) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int fstatfs(int fd, struct statfs* out) override;
    ssize_t fgetxattr(int fd, const char* name, void* value, std::size_t size) override;
    int fsetxattr(int fd, const char* name, const void* value, std::size_t size,
                  int flags) override;
    ssize_t flistxattr(int fd, char* list, std::size_t size) override;
    int fremovexattr(int fd, const char* name) override;
    ssize_t getxattrat(int dirFd, const char* name, const char* attr, void* value,
                       std::size_t size) override;
    int setxattrat(int dirFd, const char* name, const char* attr, const void* value,
                   std::size_t size, int flags) override;
    ssize_t listxattrat(int dirFd, const char* name, char* list, std::size_t size) override;
    int removexattrat(int dirFd, const char* name, const char* attr) override;
    int getflags(int fd, int* flags) override;
    int setflags(int fd, int flags) override;
    int readfolder(int dirFd, std::vector<platform::FolderEntry>& entries) override;
    int fstatat(int dirFd, const char* name, struct stat* out, int flags) override;
    int chmodat(int dirFd, const char* name, mode_t mode) override;
    int dup(int fd) override;
    ssize_t pread(int fd, void* buf, std::size_t count, off_t offset) override;
    ssize_t lgetxattr(const char* path, const char* attr, void* value, std::size_t size) override;
    char* realpath(const char* path, char* resolved) override;

  private:
    struct Rule {
        FsCall call;
        std::string name;
        int error = 0;
        int nth = 1;
        FsTimes times = FsTimes::FromThenOn;
        bool halfway = false;
        int matched = 0;
    };
    struct Hook {
        FsCall call;
        std::string name;
        std::function<void()> callback;
        bool once = true;
        bool done = false;
    };
    struct Verdict {
        int error = 0;
        bool halfway = false;
    };

    // Counts the call, runs the hooks it meets, and says whether it fails. Any of names
    // matches a rule's name (a rename has two).
    Verdict Enter(FsCall call, const std::vector<std::string>& names);
    int Failed(FsCall call, const std::vector<std::string>& names);

    mutable std::mutex mutex_;
    std::vector<Rule> rules_;
    std::vector<Hook> hooks_;
    std::map<FsCall, int> counts_;
    std::map<std::pair<FsCall, std::string>, int> namedCounts_;
};

}  // namespace qv::test
