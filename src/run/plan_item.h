#pragma once
// The planned-actions tree of one task: what the scan decided for every item that has
// something to do, read by the preview and performed by the copy executor.
//
// Nodes are lean: a child stores its names, not its paths; source and dest are derived from
// the parent's while walking the tree. Only an item whose path is not parent + name (an alias
// or symbolic link resolved to its target) stores a whole path.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv::run {

enum CopyMode : int {
    kModeNone = 0,
    kModeDescend = 1,
    kModeCopyAtoB = 2,
    kModeCopyBtoA = 3,
    kModeReplaceBwithA = 4,
    kModeReplaceAwithB = 5,
    kModeDeleteInA = 6,
    kModeDeleteInB = 7,
    kModeAttrAtoB = 8,
    kModeAttrBtoA = 9,
};

const char* CopyModeName(int copyMode);

// What the scan saw of the item an action replaces or deletes, looked at again right before the
// action: an item changed since (edited, replaced, made anew) is left for the next run.
struct SeenItem {
    std::uint64_t ino = 0;  // 0: nothing was recorded
    std::uint64_t size = 0;
    std::int64_t mtimeSec = 0;
    std::int32_t mtimeNsec = 0;
    std::uint8_t type = 0;  // the scan's item type
    // A folder to be replaced whole: the fingerprint of what it held (FolderTreeDigest); 0 when
    // not taken.
    std::uint64_t tree = 0;
};

struct PlanItem {
    std::string name;      // the item's name in A (and in B, unless destName is set)
    std::string destName;  // the name as spelled in B, when it differs from name
    std::unique_ptr<std::string> sourcePath;  // set only when not the parent's + name
    std::unique_ptr<std::string> destPath;
    int copyMode = kModeNone;
    std::int8_t ifSkipAddToExactIndex = -1;  // -1: absent; else 0 or 1
    bool isFolder = false;                   // a folder item: subItems is meaningful
    // Each side's item as the scan saw it: a replacement or a deletion acts on one of them
    // (which one, the mode says: the preview may turn it around) only while it is still so.
    SeenItem seenA, seenB;
    // A folder an interrupted copy left half-made on side A (0) or B (1): it takes the other
    // side's attributes once its content is done.
    std::int8_t fillingSide = -1;
    std::vector<PlanItem> subItems;

    // The item a replacement or a deletion acts on, on the side it writes to (none for other
    // modes: what they write to did not exist, or keeps its content).
    const SeenItem& SeenActedOn(int mode) const {
        static const SeenItem kNone;
        if (mode == kModeReplaceBwithA || mode == kModeDeleteInB) return seenB;
        if (mode == kModeReplaceAwithB || mode == kModeDeleteInA) return seenA;
        return kNone;
    }

    std::string source(const std::string& parentSource) const;
    std::string dest(const std::string& parentDest) const;
    const std::string& nameInB() const { return destName.empty() ? name : destName; }
};

// What an interrupted copy left under a temporary name (with the mark), met by the scan: the
// executor clears it away before the task's copy. The path is relative to the side's top folder.
struct LeftoverTemporary {
    bool inB = false;
    std::string relativePath;
};

// The root of a task's tree.
struct TaskRoot {
    std::int64_t sessionIndex = 0;
    std::int64_t taskIndex = 0;
    std::string source;
    std::string dest;
    int copyMode = kModeDescend;
    bool isTheRootOfTheTree = true;
    bool gIsSyncOn = false;
    std::vector<PlanItem> subItems;
    std::vector<LeftoverTemporary> leftovers;
    // The two top folders the scan read, (device, inode): the copy acts on no other.
    std::uint64_t sourceDev = 0, sourceIno = 0, destDev = 0, destIno = 0;
    // Paths the ExactSync index keeps although gone from their side: deletions it asked for
    // that the scan refused.
    std::vector<std::string> keepInIndex;
};

}  // namespace qv::run
