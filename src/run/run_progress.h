#pragma once
// What a front end may read of a copy while it runs: how many planned items are done, how many
// bytes of file content are copied (also within a large file), and the item being performed
// with the temporary file its copy is written to. The copy's thread writes it; any other thread
// reads it at its own pace.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

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
        bytesDone_.store(0, std::memory_order_relaxed);
        bytesTotal_.store(0, std::memory_order_relaxed);
        itemsTotal_.store(0, std::memory_order_relaxed);
        copying_.store(false, std::memory_order_relaxed);
        std::lock_guard lock(mutex_);
        item_ = {};
    }
    void ItemDone() { itemsDone_.fetch_add(1, std::memory_order_relaxed); }
    std::int64_t itemsDone() const { return itemsDone_.load(std::memory_order_relaxed); }

    // Once the scan is over: the items the copy performs and the content it is expected to
    // write (the plan's files; an estimate, items changed since the scan write more or less).
    void CopyStarts(std::int64_t items, std::uint64_t bytes) {
        itemsTotal_.store(items, std::memory_order_relaxed);
        bytesTotal_.store(bytes, std::memory_order_relaxed);
        copying_.store(true, std::memory_order_release);
    }
    bool copying() const { return copying_.load(std::memory_order_acquire); }
    std::int64_t itemsTotal() const { return itemsTotal_.load(std::memory_order_relaxed); }
    std::uint64_t bytesTotal() const { return bytesTotal_.load(std::memory_order_relaxed); }
    // The file copy advances it as it writes.
    std::atomic<std::uint64_t>& bytesDoneCounter() { return bytesDone_; }
    std::uint64_t bytesDone() const { return bytesDone_.load(std::memory_order_relaxed); }
    // How far the current item's content is: bytes written of its size (0 of 0 for an item
    // without content being copied).
    std::pair<std::uint64_t, std::uint64_t> ItemBytes() const {
        const std::uint64_t size = itemSize_.load(std::memory_order_relaxed);
        const std::uint64_t start = itemStart_.load(std::memory_order_relaxed);
        const std::uint64_t done = bytesDone();
        return {size == 0 ? 0 : std::min(done - std::min(done, start), size), size};
    }

    void SetItem(int copyMode, const std::string& source, const std::string& dest) {
        std::lock_guard lock(mutex_);
        item_.copyMode = copyMode;
        item_.source = source;
        item_.dest = dest;
        item_.writing.clear();
        itemSize_.store(0, std::memory_order_relaxed);
    }
    // contentSize: the bytes the copy of the item's content will write from now on.
    void SetWriting(const std::string& temporary, std::uint64_t contentSize = 0) {
        {
            std::lock_guard lock(mutex_);
            item_.writing = temporary;
        }
        itemStart_.store(bytesDone(), std::memory_order_relaxed);
        itemSize_.store(contentSize, std::memory_order_relaxed);
    }
    Item CurrentItem() const {
        std::lock_guard lock(mutex_);
        return item_;
    }

  private:
    std::atomic<std::int64_t> itemsDone_{0};
    std::atomic<std::uint64_t> bytesDone_{0};
    std::atomic<std::uint64_t> bytesTotal_{0};
    std::atomic<std::int64_t> itemsTotal_{0};
    std::atomic<bool> copying_{false};
    std::atomic<std::uint64_t> itemStart_{0};
    std::atomic<std::uint64_t> itemSize_{0};
    mutable std::mutex mutex_;
    Item item_;
};

}  // namespace qv::run
