#pragma once
// The seam through which Quorvel's file writes reach the kernel. Production code calls
// qv::platform::sys(); a test installs a subclass with ScopedSysCalls to make a chosen call fail
// (a full disk on the third write, a refused chmod) without touching a real device.

#include <sys/types.h>

#include <cstddef>

namespace qv::platform {

class SysCalls {
  public:
    virtual ~SysCalls() = default;
    virtual int mkstemp(char* pathTemplate);
    virtual ssize_t write(int fd, const void* buf, std::size_t count);
    virtual int fsync(int fd);
    virtual int fchmod(int fd, mode_t mode);
    virtual int close(int fd);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
    virtual int mkdir(const char* path, mode_t mode);
    // File content copies.
    virtual int ficlone(int dstFd, int srcFd);
    virtual ssize_t copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                                    std::size_t len);
    virtual ssize_t pwrite(int fd, const void* buf, std::size_t count, off_t offset);
};

// The calls in force for this process.
SysCalls& sys();

// Replaces the calls in force for the lifetime of the object (tests only; not thread-safe).
class ScopedSysCalls {
  public:
    explicit ScopedSysCalls(SysCalls& replacement);
    ~ScopedSysCalls();
    ScopedSysCalls(const ScopedSysCalls&) = delete;
    ScopedSysCalls& operator=(const ScopedSysCalls&) = delete;

  private:
    SysCalls* previous_;
};

}  // namespace qv::platform
