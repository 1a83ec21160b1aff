#pragma once
// What a folder tree holds, item by item, in a form two trees can be compared by: after a run,
// `EXPECT_TRUE(SameTrees(a, b))` says whether the two sides hold the same items with the same
// content and metadata, and if not, which items differ and how.
//
// Each item below the root is keyed by its path relative to the root, as bytes ("" for the
// root itself). Access times are left out: reading a file to digest it moves them. Quorvel's
// own extended attributes ("user.quorvel.*") are left out too: they record the run, not the
// user's data.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>

namespace qv::test {

struct ItemSnapshot {
    char type = '?';           // 'f' file, 'd' folder, 'l' symbolic link, 'o' anything else
    std::uint64_t digest = 0;  // FNV-1a 64 of a file's bytes
    std::int64_t size = 0;     // a file's
    bool unreadable = false;   // a file whose content could not be read
    mode_t mode = 0;           // permission bits with set-id and sticky bits
    uid_t uid = 0;
    gid_t gid = 0;
    std::int64_t mtimeSeconds = 0;
    long mtimeNanoseconds = 0;
    std::string linkTarget;
    std::map<std::string, std::string> xattrs;
    std::string accessAcl;   // the text of an access ACL with more than the mode's entries
    std::string defaultAcl;  // a folder's, empty when it has none
    bool operator==(const ItemSnapshot&) const = default;
};

struct TreeSnapshot {
    std::map<std::string, ItemSnapshot> items;
    bool operator==(const TreeSnapshot&) const = default;
};

struct SnapshotOptions {
    bool withRoot = true;  // false: the root folder's own entry is left out
};

// Throws std::runtime_error when root cannot be examined.
TreeSnapshot Snapshot(const std::string& root, SnapshotOptions options = {});

// One line per item that differs, is missing on one side or is extra; empty when equal.
std::string Diff(const TreeSnapshot& a, const TreeSnapshot& b);
std::string Describe(const ItemSnapshot& item);

// Success when the two trees are alike, otherwise a failure that carries the Diff.
::testing::AssertionResult SameTrees(const std::string& a, const std::string& b,
                                     SnapshotOptions options = {});

// Keeps gtest from dumping the trees byte by byte when EXPECT_EQ compares two snapshots.
void PrintTo(const TreeSnapshot& snapshot, std::ostream* out);

}  // namespace qv::test
