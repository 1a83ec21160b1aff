#include "platform/syscalls.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace qv::platform {

int SysCalls::mkstemp(char* pathTemplate) { return ::mkostemp(pathTemplate, O_CLOEXEC); }
ssize_t SysCalls::write(int fd, const void* buf, std::size_t count) {
    return ::write(fd, buf, count);
}
int SysCalls::fsync(int fd) { return ::fsync(fd); }
int SysCalls::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int SysCalls::close(int fd) { return ::close(fd); }
int SysCalls::rename(const char* from, const char* to) { return std::rename(from, to); }
int SysCalls::unlink(const char* path) { return ::unlink(path); }
int SysCalls::mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int SysCalls::ficlone(int dstFd, int srcFd) { return ::ioctl(dstFd, FICLONE, srcFd); }
ssize_t SysCalls::copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                                  std::size_t len) {
    return ::copy_file_range(inFd, inOff, outFd, outOff, len, 0);
}
ssize_t SysCalls::pwrite(int fd, const void* buf, std::size_t count, off_t offset) {
    return ::pwrite(fd, buf, count, offset);
}

namespace {
SysCalls gRealCalls;
SysCalls* gCurrent = &gRealCalls;
}  // namespace

SysCalls& sys() { return *gCurrent; }

ScopedSysCalls::ScopedSysCalls(SysCalls& replacement) : previous_(gCurrent) {
    gCurrent = &replacement;
}
ScopedSysCalls::~ScopedSysCalls() { gCurrent = previous_; }

}  // namespace qv::platform
