#pragma once
// Listing one folder: every entry's name with the attributes of a single stat, read relative to
// the folder's handle without following links. A second thread lists the B side while the walk
// lists the A side, and runs ahead of it.
//
// A listing is complete or it is an error: a folder that cannot be opened or read to its end,
// or an entry whose attributes cannot be read (for any reason but its being gone), is never
// taken for a folder holding fewer items.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/folder_handle.h"
#include "platform/item_attributes.h"

namespace qv::engine {

struct ListedItem {
    std::string name;
    platform::ItemAttributes attributes;
};

struct FolderListing {
    bool listed = false;           // read to its end, every entry's attributes read
    int error = 0;                 // otherwise why: an errno
    std::string failedName;        // the entry whose attributes could not be read, if that was it
    bool caseInsensitive = false;  // the folder lies on a case-insensitive file system
    platform::ItemAttributes folder;
    std::vector<ListedItem> items;  // in no particular order
};

// Whether the folder open as dirFd compares names ignoring case (vfat, exfat, SMB shares,
// casefolded ext4/f2fs folders). Tests replace it to stand in for such a file system.
using CaseProbe = std::function<bool(int dirFd, const std::string& path)>;
bool ProbeCaseInsensitive(int dirFd, const std::string& path);

// Lists an open folder.
FolderListing ListFolder(const platform::FolderHandle& folder, const CaseProbe& probe);

// Lists the folders of one side on a thread of its own, ahead of the walk. The walk names the
// sub-folders it may enter next (Prefetch) and then, folder by folder, asks for the one it is
// entering (Start) and takes its listing (Wait) after doing its own side's. Prefetched folders
// are listed deepest first, in the order named and a few ahead of the walk in each folder, so
// the listing the walk needs next is usually ready; a listing is used only when it is of the very
// folder the walk opened (same device and inode) and was begun at most freshFor before, else that
// folder is listed again: what the walk sees of a folder is never much older than its coming to
// it, however long the sub-folders before it took. A few listings at most wait to be taken.
class BackgroundLister {
  public:
    static constexpr std::chrono::milliseconds kFreshFor{100};
    explicit BackgroundLister(CaseProbe probe, std::chrono::milliseconds freshFor = kFreshFor);
    ~BackgroundLister();
    BackgroundLister(const BackgroundLister&) = delete;
    BackgroundLister& operator=(const BackgroundLister&) = delete;

    // Asks for the listings of these sub-folders of parent (names as listed there). Returns
    // the token that names them in Start and Forget.
    std::uint64_t Prefetch(const platform::FolderHandle& parent, std::vector<std::string> names);
    // The walk enters the folder open as folder: named in its parent's Prefetch(token) as name
    // (token 0: not prefetched). At most one folder at a time between Start and Wait.
    void Start(const platform::FolderHandle& folder, std::uint64_t token = 0,
               const std::string& name = {});
    FolderListing Wait();
    // The walk is done with the parent of a Prefetch: its listings not taken are dropped.
    void Forget(std::uint64_t token);

    // How many listings wait to be taken, and whether the thread waits with nothing it may list
    // ahead (for tests).
    std::size_t Waiting();
    bool Settled();

    // How many listings of one folder's sub-folders may wait to be taken, and how many in all.
    static constexpr std::size_t kAheadInFolder = 8;
    static constexpr std::size_t kMaxReady = 32;

  private:
    struct Group;
    struct Listed {
        platform::FolderHandle folder;
        FolderListing listing;
        std::chrono::steady_clock::time_point begun;
    };
    void Loop();
    // The next folder to list ahead, if listing ahead goes on (mutex held).
    std::pair<Group*, std::size_t> NextAhead();
    // Whether the thread has something to do (mutex held).
    bool HasWork();
    // Called with the mutex held after the walk changed the state: wakes the thread only when
    // it has something to do.
    void WakeIfWorkLocked();
    // Whether a listing begun then may stand for the folder the walk asked for (mutex held).
    bool Fresh(std::chrono::steady_clock::time_point begun) const;
    Group* FindGroup(std::uint64_t token);
    static std::string Key(std::uint64_t token, const std::string& name);

    CaseProbe probe_;
    std::chrono::milliseconds freshFor_;
    std::mutex mutex_;
    std::condition_variable listerCv_;  // the thread waits for work
    std::condition_variable walkCv_;    // the walk waits for its listing
    bool listerWaiting_ = false;
    std::vector<std::unique_ptr<Group>> groups_;  // the last one prefetched last, served first
    std::unordered_map<std::string, Listed> ready_;
    std::uint64_t nextToken_ = 1;
    // The folder the walk waits for.
    bool wanted_ = false;
    bool wantedServed_ = false;
    platform::FolderHandle wantedFolder_;
    std::chrono::steady_clock::time_point wantedSince_;
    std::string wantedKey_;  // empty: not prefetched
    FolderListing wantedListing_;
    std::string runningKey_;  // the prefetch being listed now, if any
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace qv::engine
