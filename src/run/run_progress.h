#pragma once
// What a front end may read of a copy while it runs: how many planned items are done, and the
// item being performed with the temporary file its copy is written to. The copy's thread
// writes it; any other thread reads it at its own pace.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace qv::run {

class RunProgress {
  public:
    struct Item {
        int copyMode = 0;
        std::string source;
        std::string dest;
        std::string writing;  // the temporary file being filled, or empty
    };

    void Reset() {
        itemsDone_.store(0, std::memory_order_relaxed);
        std::lock_guard lock(mutex_);
        item_ = {};
    }
    void ItemDone() { itemsDone_.fetch_add(1, std::memory_order_relaxed); }
    std::int64_t itemsDone() const { return itemsDone_.load(std::memory_order_relaxed); }

    void SetItem(int copyMode, const std::string& source, const std::string& dest) {
        std::lock_guard lock(mutex_);
        item_.copyMode = copyMode;
        item_.source = source;
        item_.dest = dest;
        item_.writing.clear();
    }
    void SetWriting(const std::string& temporary) {
        std::lock_guard lock(mutex_);
        item_.writing = temporary;
    }
    Item CurrentItem() const {
        std::lock_guard lock(mutex_);
        return item_;
    }

  private:
    std::atomic<std::int64_t> itemsDone_{0};
    mutable std::mutex mutex_;
    Item item_;
};

}  // namespace qv::run
