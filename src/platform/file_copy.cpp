#include "platform/file_copy.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file_system.h"

namespace qv::platform {

namespace {

// copy_file_range is asked for at most this much at a time when someone follows the copy: a
// call then returns often enough for a progress display, and one more system call every few
// megabytes costs nothing measurable.
constexpr std::size_t kFollowedChunk = std::size_t{8} << 20;

void Advance(std::atomic<std::uint64_t>* counter, std::uint64_t bytes) {
    if (counter != nullptr) counter->fetch_add(bytes, std::memory_order_relaxed);
}

// Plain read and write, for file systems that offer neither a reflink nor copy_file_range.
bool Stopped(const std::atomic<bool>* stop, std::string* error) {
    if (stop == nullptr || !stop->load(std::memory_order_relaxed)) return false;
    *error = kCopyStopped;
    return true;
}

bool CopyRange(int srcFd, int dstFd, off_t from, off_t to, std::string* error,
               std::atomic<std::uint64_t>* copied, const std::atomic<bool>* stop) {
    static thread_local std::vector<char> buffer(1 << 20);
    off_t at = from;
    while (at < to) {
        if (Stopped(stop, error)) return false;
        const auto want = static_cast<std::size_t>(std::min<off_t>(to - at, buffer.size()));
        const ssize_t got = ::pread(srcFd, buffer.data(), want, at);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            *error =
                got == 0 ? "the file became shorter while it was copied" : std::strerror(errno);
            return false;
        }
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = sys().pwrite(dstFd, buffer.data() + done,
                                             static_cast<std::size_t>(got - done), at + done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                *error = std::strerror(put < 0 ? errno : ENOSPC);
                return false;
            }
            done += put;
        }
        at += got;
        Advance(copied, static_cast<std::uint64_t>(got));
    }
    return true;
}

// One data region [from, to) with copy_file_range, falling back to read and write.
bool CopyRegion(int srcFd, int dstFd, off_t from, off_t to, bool& rangeWorks, std::string* error,
                std::atomic<std::uint64_t>* copied, const std::atomic<bool>* stop) {
    off_t inAt = from, outAt = from;
    while (rangeWorks && inAt < to) {
        if (Stopped(stop, error)) return false;
        auto want = static_cast<std::size_t>(to - inAt);
        if (copied != nullptr || stop != nullptr) want = std::min(want, kFollowedChunk);
        const ssize_t n = sys().copy_file_range(srcFd, &inAt, dstFd, &outAt, want);
        if (n > 0) {
            Advance(copied, static_cast<std::uint64_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            *error = "the file became shorter while it was copied";
            return false;
        }
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
            rangeWorks = false;  // not between these file systems: copy by hand from here
            break;
        }
        *error = std::strerror(errno);
        return false;
    }
    return inAt >= to || CopyRange(srcFd, dstFd, inAt, to, error, copied, stop);
}

bool CopyContent(int srcFd, int dstFd, std::uint64_t size, std::string* error, CopyHints* hints,
                 std::atomic<std::uint64_t>* copied) {
    if (size == 0) return true;
    const std::atomic<bool>* stop = hints != nullptr ? hints->stop : nullptr;
    if (hints == nullptr || hints->tryClone) {
        if (sys().ficlone(dstFd, srcFd) == 0) return true;
        if (hints != nullptr)
            hints->cloneRefused =
                errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL || errno == ENOTTY;
    }
    bool rangeWorks = true;
    const auto end = static_cast<off_t>(size);
    if (hints != nullptr && !hints->mayHaveHoles) {
        return CopyRegion(srcFd, dstFd, 0, end, rangeWorks, error, copied, stop);
    }
    off_t at = 0;
    while (at < end) {
        off_t data = ::lseek(srcFd, at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // only a hole is left
            data = at;                  // no hole support: all data
        }
        if (data >= end) break;
        off_t hole = ::lseek(srcFd, data, SEEK_HOLE);
        if (hole < 0 || hole > end) hole = end;
        if (!CopyRegion(srcFd, dstFd, data, hole, rangeWorks, error, copied, stop)) return false;
        at = hole;
    }
    // Trailing holes: the size is set, not written.
    if (at < end && ::ftruncate(dstFd, end) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool CopyFileContent(int srcFd, int dstFd, std::uint64_t size, std::string* error,
                     CopyHints* hints) {
    std::atomic<std::uint64_t>* const copied = hints != nullptr ? hints->bytesCopied : nullptr;
    const std::uint64_t before = copied != nullptr ? copied->load(std::memory_order_relaxed) : 0;
    const bool ok = CopyContent(srcFd, dstFd, size, error, hints, copied);
    // What was skipped (holes, a reflink) counts as copied; a failed copy counts what it wrote.
    if (ok && copied != nullptr) {
        const std::uint64_t counted = copied->load(std::memory_order_relaxed) - before;
        if (counted < size) Advance(copied, size - counted);
    }
    return ok;
}

}  // namespace qv::platform
