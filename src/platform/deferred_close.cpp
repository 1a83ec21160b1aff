#include "platform/deferred_close.h"

#include <fcntl.h>

#include <utility>

namespace qv::platform {

DeferredCloser::~DeferredCloser() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    for (int fd : waiting_) sys().close(fd);
}

void DeferredCloser::Close(UniqueFd fd) {
    if (!fd.valid()) return;
    std::unique_lock lock(mutex_);
    if (waiting_.size() >= limit_ || stop_) {
        lock.unlock();
        fd.Close();
        return;
    }
    waiting_.push_back(fd.release());
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    lock.unlock();
    wake_.notify_one();
}

void DeferredCloser::Flush() {
    std::unique_lock lock(mutex_);
    flushed_.wait(lock, [this] { return waiting_.empty() && closing_ == 0; });
}

void DeferredCloser::Loop() {
    std::vector<int> batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
        if (waiting_.empty()) return;  // stopping, nothing left
        batch.swap(waiting_);
        closing_ = batch.size();
        lock.unlock();
        for (int fd : batch) sys().close(fd);
        batch.clear();
        lock.lock();
        closing_ = 0;
        if (waiting_.empty()) flushed_.notify_all();
    }
}

UniqueFd HoldItem(int dirFd, const char* name) {
    return UniqueFd(sys().openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC, 0));
}

}  // namespace qv::platform
