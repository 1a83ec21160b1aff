#pragma once
// What the ExactSync index keeps of a folder the walk passes. While every pair of the folder has
// the same name and kind on both sides and nothing to do, the folder is settled and recorded
// whole (a SettledFolder with its times and inodes). Once one pair is not, the items the walk
// left as they were are recorded instead, with their records, so that the index rebuild tells
// what changed after the scan; files in step since the last exact run ("quiet") keep their
// backup dates.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/folder_listing.h"
#include "run/run_state.h"

namespace qv::items {
class TWUtilities;
}

namespace qv::engine {

class SettledRecord {
  public:
    // key: the folder's path below both of the task's folders, or none when nothing is recorded.
    // quiet: whether files left as they were may be in step since the last exact run.
    SettledRecord(std::optional<std::string> key, std::size_t pairs, bool quiet);

    bool settled() const { return settled_; }
    bool recordsQuiet() const { return quiet_; }
    void Unsettle() { settled_ = false; }

    // Each pair as the walk meets it, before anything is decided (a or b null where only the
    // other side has the name).
    void Meet(const ListedItem* a, const ListedItem* b);
    // The two directories of the pair just met, classified: whether each is a folder as the
    // index counts folders (a package is not one).
    void Kinds(bool aIsFolder, bool bIsFolder);
    // The pair just met is left as it was; quiet: a file in step since the last exact run.
    void LeftAsIs(const ListedItem* a, const ListedItem* b, bool quiet);

    // At the folder's end, while the run goes on: the record into folders. A directory whose
    // kind no classification told is asked of tw in the open folders aDirFd and bDirFd.
    void Finish(int aDirFd, int bDirFd, const FolderListing& aList, const FolderListing& bList,
                bool running, const items::TWUtilities& tw, run::SettledFolders& folders);

  private:
    struct Item {
        run::SettledEntry entry;
        const ListedItem* a;
        const ListedItem* b;
        bool kindKnown = false;  // whether a directory is a folder, as the index counts it
        bool quiet = false;      // a file in step since the last exact run on both sides
    };
    static run::SettledEntry Recorded(run::SettledEntry entry, const ListedItem* a,
                                      const ListedItem* b);
    // The settled items as the whole folder's entries; false when a directory turns out a
    // package on one side only.
    bool TakeWhole(int aDirFd, int bDirFd, const items::TWUtilities& tw,
                   std::vector<run::SettledEntry>& entries);

    std::optional<std::string> key_;
    bool settled_;
    bool quiet_;
    std::vector<Item> items_;  // the pairs met while the folder was settled
    // Once the folder is known not to be settled: the files in step since the last exact run,
    // and the other items left as they were.
    std::vector<run::SettledEntry> quietEntries_;
    std::vector<run::SettledEntry> seenEntries_;
};

}  // namespace qv::engine
