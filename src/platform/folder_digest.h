#pragma once
// A fingerprint of everything a folder holds, all levels down: to tell, right before a folder
// is replaced whole, whether anything in it changed since it was looked at.

#include <cstdint>

namespace qv::platform {

// Each item's name, kind, size, modification time and inode, in name order, all levels down,
// never through a link; 0 when a folder in it cannot be read.
std::uint64_t FolderTreeDigest(int dirFd);

}  // namespace qv::platform
