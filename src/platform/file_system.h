#pragma once
// The seam through which every file-system call of Quorvel reaches the kernel. Production code
// calls qv::platform::sys(); a test installs a subclass with ScopedFileSystem to make a chosen
// call fail (a full disk on the third write, a listing that stops half-way, a stat refused with
// EACCES, a folder swapped for a link) without touching a real device.
//
// A run names what it acts on relative to open folders (the *at calls): a folder reached from a
// top folder through handles opened without following links cannot be redirected elsewhere by
// a link put in its place.

#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct statfs;
struct statx;

namespace qv::platform {

// One entry of a folder as the kernel lists it; type is a DT_ value (DT_UNKNOWN where the file
// system does not say).
struct FolderEntry {
    std::string name;
    unsigned char type = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Whole-file writes of the documents Quorvel keeps.
    virtual int mkstemp(char* pathTemplate);
    virtual ssize_t write(int fd, const void* buf, std::size_t count);
    virtual int fsync(int fd);
    virtual int fchmod(int fd, mode_t mode);
    virtual int close(int fd);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
    // The mode of a document's file, through a link as the document's path may be one.
    virtual int chmod(const char* path, mode_t mode);
    virtual int mkdir(const char* path, mode_t mode);
    // Every link of path resolved (resolved: PATH_MAX bytes), as the user's choice of a path.
    virtual char* realpath(const char* path, char* resolved);

    // File content copies.
    virtual int ficlone(int dstFd, int srcFd);
    virtual ssize_t copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                                    std::size_t len);
    virtual ssize_t pwrite(int fd, const void* buf, std::size_t count, off_t offset);
    virtual ssize_t pread(int fd, void* buf, std::size_t count, off_t offset);

    // Items named relative to an open folder.
    virtual int openat(int dirFd, const char* name, int flags, mode_t mode = 0);
    virtual int statx(int dirFd, const char* name, int flags, unsigned mask, struct statx* out);
    virtual int mkdirat(int dirFd, const char* name, mode_t mode);
    virtual int unlinkat(int dirFd, const char* name, int flags);
    virtual int renameat2(int fromDirFd, const char* from, int toDirFd, const char* to,
                          unsigned flags);
    virtual int linkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags);
    virtual int symlinkat(const char* target, int dirFd, const char* name);
    virtual ssize_t readlinkat(int dirFd, const char* name, char* buf, std::size_t size);
    virtual int fchownat(int dirFd, const char* name, uid_t uid, gid_t gid, int flags);
    virtual int utimensat(int dirFd, const char* name, const struct timespec times[2], int flags);
    virtual int fstatat(int dirFd, const char* name, struct stat* out, int flags);
    // The mode of an item named relative to an open folder, never through a link (a link has
    // no mode of its own: EOPNOTSUPP).
    virtual int chmodat(int dirFd, const char* name, mode_t mode);

    // Open items.
    virtual int fstat(int fd, struct stat* out);
    virtual int dup(int fd);
    virtual int fchown(int fd, uid_t uid, gid_t gid);
    virtual int futimens(int fd, const struct timespec times[2]);
    virtual int fstatfs(int fd, struct statfs* out);
    virtual ssize_t fgetxattr(int fd, const char* name, void* value, std::size_t size);
    virtual int fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags);
    virtual ssize_t flistxattr(int fd, char* list, std::size_t size);
    virtual int fremovexattr(int fd, const char* name);
    // Extended attributes of an item named relative to an open folder, links not followed (a
    // symbolic link carries none that Quorvel reads or writes: ENOTSUP). "." is the open folder
    // itself, reached through its descriptor, as for chmodat.
    virtual ssize_t getxattrat(int dirFd, const char* name, const char* attr, void* value,
                               std::size_t size);
    virtual int setxattrat(int dirFd, const char* name, const char* attr, const void* value,
                           std::size_t size, int flags);
    virtual ssize_t listxattrat(int dirFd, const char* name, char* list, std::size_t size);
    virtual int removexattrat(int dirFd, const char* name, const char* attr);
    // An extended attribute of an item given by a whole path, a final link not followed (the
    // one call a path's attribute costs, for callers that have no open folder).
    virtual ssize_t lgetxattr(const char* path, const char* attr, void* value, std::size_t size);
    // The inode flags (FS_IOC_GETFLAGS / FS_IOC_SETFLAGS).
    virtual int getflags(int fd, int* flags);
    virtual int setflags(int fd, int flags);

    // POSIX ACLs (libacl): of an item given by path (a ProcPath of an open descriptor reaches
    // it whatever becomes of its folders) or of an open file. The caller frees what it gets.
    virtual int aclextended(const char* path);  // 1: it has more than the mode's entries
    virtual acl_t getacl(const char* path, acl_type_t type);
    virtual int setacl(const char* path, acl_type_t type, acl_t acl);
    virtual acl_t fgetacl(int fd);
    virtual int fsetacl(int fd, acl_t acl);

    // Every entry of an open folder but "." and "..", read to its end: 0, or the errno that
    // stopped the reading (entries then holds what was read before it, never to be taken for
    // the whole folder).
    virtual int readfolder(int dirFd, std::vector<FolderEntry>& entries);
};

// The calls in force for this process.
FileSystem& sys();

// Replaces the calls in force for the lifetime of the object (tests only; not thread-safe).
class ScopedFileSystem {
  public:
    explicit ScopedFileSystem(FileSystem& replacement);
    ~ScopedFileSystem();
    ScopedFileSystem(const ScopedFileSystem&) = delete;
    ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

  private:
    FileSystem* previous_;
};

}  // namespace qv::platform
