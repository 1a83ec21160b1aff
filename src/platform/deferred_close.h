#pragma once
// Descriptors closed on a thread of their own.
//
// When the last descriptor of a file that was unlinked or renamed over is closed, the file
// system frees the file: for a small file that costs more than the copy that replaced it. A run
// that replaces or deletes many files holds each one open across its rename or unlink and hands
// the descriptor here, so that the freeing happens beside its next copy instead of before it.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace qv::platform {

class DeferredCloser {
  public:
    // At most `limit` descriptors wait; beyond that, Close closes at once.
    explicit DeferredCloser(std::size_t limit = 64) : limit_(limit) {}
    // Closes whatever still waits before it returns.
    ~DeferredCloser();
    DeferredCloser(const DeferredCloser&) = delete;
    DeferredCloser& operator=(const DeferredCloser&) = delete;

    void Close(UniqueFd fd);
    // Returns once everything handed over so far is closed: the space of the files it held is
    // free again.
    void Flush();

  private:
    void Loop();

    const std::size_t limit_;
    std::mutex mutex_;
    std::condition_variable wake_, flushed_;
    std::vector<int> waiting_;
    std::size_t closing_ = 0;  // taken by the thread, not closed yet
    bool stop_ = false;
    std::thread thread_;
};

// An open handle (O_PATH) on the item `name` in the open folder dirFd, the final link not
// followed: held across an unlink or a rename over the item, it defers the freeing of the item
// to its close. Invalid when the item cannot be opened.
UniqueFd HoldItem(int dirFd, const char* name);

}  // namespace qv::platform
