#include "engine/folder_listing.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/vfs.h>
#include <unistd.h>

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
    struct stat st {};
    if (platform::sys().fstat(folder.fd(), &st) != 0) {
        listing.error = errno;
        return listing;
    }
    listing.folder = platform::AttributesFromStat(st);
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

BackgroundLister::BackgroundLister(CaseProbe probe)
    : probe_(std::move(probe)), thread_([this] { Loop(); }) {}

BackgroundLister::~BackgroundLister() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void BackgroundLister::Start(platform::FolderHandle folder) {
    {
        std::lock_guard lock(mutex_);
        folder_ = std::move(folder);
        requested_ = true;
        done_ = false;
    }
    cv_.notify_all();
}

FolderListing BackgroundLister::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return done_; });
    done_ = false;
    return std::move(result_);
}

void BackgroundLister::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return requested_ || quit_; });
        if (quit_) return;
        requested_ = false;
        const platform::FolderHandle folder = std::move(folder_);
        folder_ = {};
        lock.unlock();
        FolderListing listing = ListFolder(folder, probe_);
        lock.lock();
        result_ = std::move(listing);
        done_ = true;
        cv_.notify_all();
    }
}

}  // namespace qv::engine
