#pragma once
// A file descriptor that closes itself.

#include <unistd.h>

#include "platform/file_system.h"

namespace qv::platform {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd) {
        Close();
        fd_ = fd;
    }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, so that a failed close can be reported; the destructor then does nothing.
    int Close() {
        const int result = fd_ >= 0 ? sys().close(fd_) : 0;
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

}  // namespace qv::platform
