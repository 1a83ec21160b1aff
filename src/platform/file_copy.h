#pragma once
// Copying a regular file's content between two open descriptors the fastest way the file
// system allows: a reflink where it offers one, else copy_file_range over the data regions
// only, so that the holes of a sparse file stay holes.

#include <atomic>
#include <cstdint>
#include <string>

namespace qv::platform {

// What the caller knows that spares system calls.
struct CopyHints {
    bool tryClone = true;       // false once the file systems refused a reflink
    bool mayHaveHoles = true;   // false when the file's blocks cover its size
    bool cloneRefused = false;  // out: the reflink was tried and refused
    // Advanced as the content is written, so that another thread can follow a large file;
    // reaches the size once the copy succeeds (holes and reflinks count as copied).
    std::atomic<std::uint64_t>* bytesCopied = nullptr;
    // Looked at between chunks of a few megabytes: once true, the copy ends there, false with
    // *error set to kCopyStopped.
    const std::atomic<bool>* stop = nullptr;
};

// The error of a copy ended by its stop flag.
inline constexpr const char* kCopyStopped = "\x01stopped";

// Copies all of src's content into dst (empty, opened for writing). False with *error set.
bool CopyFileContent(int srcFd, int dstFd, std::uint64_t size, std::string* error,
                     CopyHints* hints = nullptr);

}  // namespace qv::platform
