#pragma once
// Listing one folder: every entry's name with the attributes of a single stat, read relative to
// the folder's handle without following links. A second thread lists the B folder while the
// walk lists the A folder.
//
// A listing is complete or it is an error: a folder that cannot be opened or read to its end,
// or an entry whose attributes cannot be read (for any reason but its being gone), is never
// taken for a folder holding fewer items.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
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

// Lists one folder at a time on a thread of its own.
class BackgroundLister {
  public:
    explicit BackgroundLister(CaseProbe probe);
    ~BackgroundLister();
    BackgroundLister(const BackgroundLister&) = delete;
    BackgroundLister& operator=(const BackgroundLister&) = delete;

    void Start(platform::FolderHandle folder);  // at most one listing at a time
    FolderListing Wait();

  private:
    void Loop();

    CaseProbe probe_;
    std::mutex mutex_;
    std::condition_variable cv_;
    platform::FolderHandle folder_;
    FolderListing result_;
    bool requested_ = false;
    bool done_ = false;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace qv::engine
