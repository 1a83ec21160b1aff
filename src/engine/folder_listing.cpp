#include "engine/folder_listing.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_system.h"

namespace qv::engine {

namespace {

constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kCifsMagic = static_cast<long>(0xFF534D42);
constexpr long kSmb2Magic = static_cast<long>(0xFE534D42);
constexpr long kSmbMagic = 0x517B;
constexpr long kExt4Magic = 0xEF53;
constexpr long kF2fsMagic = static_cast<long>(0xF2F52010);
#ifndef FS_CASEFOLD_FL
constexpr long FS_CASEFOLD_FL = 0x40000000;
#endif

}  // namespace

bool ProbeCaseInsensitive(int dirFd, const std::string& /*path*/) {
    struct statfs fs {};
    if (platform::sys().fstatfs(dirFd, &fs) != 0) return false;
    const long type = static_cast<long>(fs.f_type);
    if (type == kMsdosMagic || type == kExfatMagic || type == kCifsMagic || type == kSmb2Magic ||
        type == kSmbMagic) {
        return true;
    }
    if (type == kExt4Magic || type == kF2fsMagic) {
        int flags = 0;
        if (platform::sys().getflags(dirFd, &flags) == 0) return (flags & FS_CASEFOLD_FL) != 0;
    }
    return false;
}

FolderListing ListFolder(const platform::FolderHandle& folder, const CaseProbe& probe) {
    FolderListing listing;
    if (!folder.valid()) {
        listing.error = EBADF;
        return listing;
    }
    listing.folder = folder.attributes();
    listing.caseInsensitive = probe ? probe(folder.fd(), folder.path()) : false;
    std::vector<platform::FolderEntry> entries;
    if (const int error = platform::sys().readfolder(folder.fd(), entries); error != 0) {
        listing.error = error;
        return listing;
    }
    listing.items.reserve(entries.size());
    for (platform::FolderEntry& entry : entries) {
        platform::StatResult stat = platform::StatAt(folder.fd(), entry.name);
        // Gone between the listing and the stat: it is simply not there any more.
        if (stat.error == ENOENT) continue;
        if (!stat.ok()) {
            listing.error = stat.error;
            listing.failedName = std::move(entry.name);
            listing.items.clear();
            return listing;
        }
        listing.items.push_back({std::move(entry.name), stat.attributes});
    }
    listing.listed = true;
    return listing;
}

struct BackgroundLister::Group {
    std::uint64_t token = 0;
    platform::FolderHandle parent;
    std::vector<std::string> names;
    std::size_t next = 0;     // the first name not yet listed
    std::size_t waiting = 0;  // listed and not yet taken
    std::size_t walked = 0;   // the names before it were entered or passed by the walk
};

namespace {

bool SameFolder(const platform::FolderHandle& x, const platform::FolderHandle& y) {
    return x.valid() && y.valid() && x.dev() == y.dev() && x.ino() == y.ino();
}

}  // namespace

BackgroundLister::BackgroundLister(CaseProbe probe, std::chrono::milliseconds freshFor)
    : probe_(std::move(probe)), freshFor_(freshFor), thread_([this] { Loop(); }) {}

BackgroundLister::~BackgroundLister() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    listerCv_.notify_one();
    thread_.join();
}

std::string BackgroundLister::Key(std::uint64_t token, const std::string& name) {
    return std::to_string(token) + '/' + name;
}

BackgroundLister::Group* BackgroundLister::FindGroup(std::uint64_t token) {
    for (auto it = groups_.rbegin(); it != groups_.rend(); ++it) {
        if ((*it)->token == token) return it->get();
    }
    return nullptr;
}

std::uint64_t BackgroundLister::Prefetch(const platform::FolderHandle& parent,
                                         std::vector<std::string> names) {
    if (!parent.valid() || names.empty()) return 0;
    std::lock_guard lock(mutex_);
    auto group = std::make_unique<Group>();
    group->token = nextToken_++;
    group->parent = parent;
    group->names = std::move(names);
    const std::uint64_t token = group->token;
    groups_.push_back(std::move(group));
    WakeIfWorkLocked();
    return token;
}

void BackgroundLister::Start(const platform::FolderHandle& folder, std::uint64_t token,
                             const std::string& name) {
    std::lock_guard lock(mutex_);
    wanted_ = true;
    wantedServed_ = false;
    wantedFolder_ = folder;
    wantedSince_ = std::chrono::steady_clock::now();
    wantedKey_ = token != 0 ? Key(token, name) : std::string();
    Group* group = token != 0 ? FindGroup(token) : nullptr;
    if (group != nullptr) {
        // The walk enters sub-folders in the order they were named: those it passed (excluded,
        // left as they are, ...) are not wanted any more, and this one is not to be listed ahead.
        const auto first = group->names.begin() + static_cast<std::ptrdiff_t>(group->walked);
        const auto at = std::find(first, group->names.end(), name);
        if (at != group->names.end()) {
            for (auto passed = first; passed != at; ++passed) {
                if (ready_.erase(Key(token, *passed)) != 0) --group->waiting;
            }
            group->walked = static_cast<std::size_t>(at - group->names.begin()) + 1;
            group->next = std::max(group->next, group->walked);
        }
    }
    if (!wantedKey_.empty()) {
        if (const auto it = ready_.find(wantedKey_); it != ready_.end()) {
            const bool usable = SameFolder(it->second.folder, folder) && Fresh(it->second.begun);
            if (usable) wantedListing_ = std::move(it->second.listing);
            ready_.erase(it);
            if (group != nullptr) --group->waiting;
            wantedServed_ = usable;
        } else if (wantedKey_ == runningKey_) {
            return;  // the listing under way is handed over when it ends, if fresh enough
        }
    }
    WakeIfWorkLocked();
}

bool BackgroundLister::Fresh(std::chrono::steady_clock::time_point begun) const {
    return wantedSince_ - begun <= freshFor_;
}

FolderListing BackgroundLister::Wait() {
    std::unique_lock lock(mutex_);
    walkCv_.wait(lock, [this] { return wantedServed_; });
    wanted_ = false;
    wantedServed_ = false;
    wantedFolder_ = {};
    FolderListing listing = std::move(wantedListing_);
    wantedListing_ = {};
    return listing;
}

void BackgroundLister::Forget(std::uint64_t token) {
    if (token == 0) return;
    std::lock_guard lock(mutex_);
    std::erase_if(groups_, [token](const auto& g) { return g->token == token; });
    const std::string prefix = std::to_string(token) + '/';
    std::erase_if(ready_, [&](const auto& entry) { return entry.first.starts_with(prefix); });
    WakeIfWorkLocked();
}

std::pair<BackgroundLister::Group*, std::size_t> BackgroundLister::NextAhead() {
    // The folder the walk is in was prefetched last: its sub-folders come first, a few ahead of
    // the walk. The folders it will come back to are listed ahead only while they leave room
    // for those.
    std::size_t room = kMaxReady;
    for (auto it = groups_.rbegin(); it != groups_.rend(); ++it) {
        Group& g = **it;
        if (g.next == g.names.size()) continue;
        if (g.waiting < kAheadInFolder && ready_.size() < room) return {&g, g.next};
        room = kMaxReady - kAheadInFolder;
    }
    return {nullptr, 0};
}

std::size_t BackgroundLister::Waiting() {
    std::lock_guard lock(mutex_);
    return ready_.size();
}

bool BackgroundLister::Settled() {
    std::lock_guard lock(mutex_);
    return listerWaiting_ && !HasWork();
}

bool BackgroundLister::HasWork() {
    return quit_ || (wanted_ && !wantedServed_) || NextAhead().first != nullptr;
}

void BackgroundLister::WakeIfWorkLocked() {
    if (listerWaiting_ && HasWork()) listerCv_.notify_one();
}

void BackgroundLister::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        listerWaiting_ = true;
        listerCv_.wait(lock, [this] { return HasWork(); });
        listerWaiting_ = false;
        if (quit_) return;
        if (wanted_ && !wantedServed_) {
            // The walk waits for a folder that was not listed ahead: list its own handle.
            const platform::FolderHandle folder = wantedFolder_;
            lock.unlock();
            FolderListing listing = ListFolder(folder, probe_);
            lock.lock();
            if (wanted_ && !wantedServed_) {
                wantedListing_ = std::move(listing);
                wantedServed_ = true;
                walkCv_.notify_one();
            }
            continue;
        }
        const auto [group, index] = NextAhead();
        const std::uint64_t token = group->token;
        const std::string name = group->names[index];
        const platform::FolderHandle parent = group->parent;
        ++group->next;
        runningKey_ = Key(token, name);
        lock.unlock();
        Listed listed;
        listed.begun = std::chrono::steady_clock::now();
        int error = 0;
        listed.folder = parent.OpenChild(name, &error);
        if (listed.folder.valid()) {
            listed.listing = ListFolder(listed.folder, probe_);
        } else {
            listed.listing.error = error;
        }
        lock.lock();
        const std::string key = std::move(runningKey_);
        runningKey_.clear();
        if (wanted_ && !wantedServed_ && wantedKey_ == key) {
            // The walk reached this folder while it was being listed.
            if (SameFolder(listed.folder, wantedFolder_) && Fresh(listed.begun)) {
                wantedListing_ = std::move(listed.listing);
                wantedServed_ = true;
                walkCv_.notify_one();
            }
            continue;
        }
        if (Group* owner = FindGroup(token)) {
            if (ready_.try_emplace(key, std::move(listed)).second) ++owner->waiting;
        }
    }
}

}  // namespace qv::engine
