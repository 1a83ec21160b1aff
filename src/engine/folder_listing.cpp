#include "engine/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstring>

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

class DirHandle {
  public:
    explicit DirHandle(DIR* d) : d_(d) {}
    ~DirHandle() {
        if (d_ != nullptr) ::closedir(d_);
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DIR* get() const { return d_; }

  private:
    DIR* d_;
};

}  // namespace

bool ProbeCaseInsensitive(int dirFd, const std::string& /*path*/) {
    struct statfs fs {};
    if (::fstatfs(dirFd, &fs) != 0) return false;
    const long type = static_cast<long>(fs.f_type);
    if (type == kMsdosMagic || type == kExfatMagic || type == kCifsMagic || type == kSmb2Magic ||
        type == kSmbMagic) {
        return true;
    }
    if (type == kExt4Magic || type == kF2fsMagic) {
        int flags = 0;
        if (::ioctl(dirFd, FS_IOC_GETFLAGS, &flags) == 0) return (flags & FS_CASEFOLD_FL) != 0;
    }
    return false;
}

FolderListing ListFolder(const std::string& path, const CaseProbe& probe) {
    FolderListing listing;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return listing;
    DirHandle dir(::fdopendir(fd));
    if (dir.get() == nullptr) {
        ::close(fd);
        return listing;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) listing.folder = platform::AttributesFromStat(st);
    listing.caseInsensitive = probe ? probe(fd, path) : false;
    while (dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        ListedItem item;
        item.name = name;
        // An entry that vanished between the listing and the stat counts as missing.
        item.attributes = platform::ReadItemAttributesAt(fd, name);
        if (item.attributes.exists()) listing.items.push_back(std::move(item));
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

void BackgroundLister::Start(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        path_ = path;
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
        const std::string path = path_;
        lock.unlock();
        FolderListing listing = ListFolder(path, probe_);
        lock.lock();
        result_ = std::move(listing);
        done_ = true;
        cv_.notify_all();
    }
}

}  // namespace qv::engine
