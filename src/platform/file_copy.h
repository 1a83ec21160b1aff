#pragma once
// Copying a regular file's content between two open descriptors the fastest way the file
// system allows: a reflink where it offers one, else copy_file_range over the data regions
// only, so that the holes of a sparse file stay holes.

#include <cstdint>
#include <string>

namespace qv::platform {

// Copies all of src's content into dst (empty, opened for writing). False with *error set.
bool CopyFileContent(int srcFd, int dstFd, std::uint64_t size, std::string* error);

}  // namespace qv::platform
