#pragma once
// What the engine knows of one item from a single stat of it (links not followed).

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

namespace qv::platform {

enum class ItemType : std::uint8_t { Missing, Directory, RegularFile, SymbolicLink, Other };

struct Timestamp {
    std::int64_t sec = 0;
    std::int32_t nsec = 0;
    double seconds() const { return static_cast<double>(sec) + nsec / 1e9; }
    bool operator==(const Timestamp&) const = default;
};

struct ItemAttributes {
    ItemType type = ItemType::Missing;
    mode_t mode = 0;  // with the type bits
    uid_t uid = 0;
    gid_t gid = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint64_t size = 0;
    Timestamp mtime;  // content modification
    Timestamp atime;  // access
    Timestamp ctime;  // status change

    bool exists() const { return type != ItemType::Missing; }
    bool isDirectory() const { return type == ItemType::Directory; }
    bool isSymbolicLink() const { return type == ItemType::SymbolicLink; }
};

// From a stat result.
ItemAttributes AttributesFromStat(const struct stat& st);
// lstat of a path; Missing when it cannot be read.
ItemAttributes ReadItemAttributes(const char* path);
// fstatat relative to a folder descriptor, not following a final link.
ItemAttributes ReadItemAttributesAt(int dirFd, const char* name);

}  // namespace qv::platform
