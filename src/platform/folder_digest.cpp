#include "platform/folder_digest.h"

#include <fcntl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/folder_handle.h"
#include "platform/item_attributes.h"

namespace qv::platform {

namespace {

std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
    std::uint64_t x = h ^ (v + 0x9e3779b97f4a7c15ULL);
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

bool Digest(int dirFd, std::uint64_t& h) {
    std::vector<FolderEntry> entries;
    if (sys().readfolder(dirFd, entries) != 0) return false;
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& x, const FolderEntry& y) { return x.name < y.name; });
    for (const FolderEntry& e : entries) {
        const StatResult stat = StatAt(dirFd, e.name);
        if (!stat.ok()) return false;
        const ItemAttributes& a = stat.attributes;
        for (const char c : e.name) h = Mix(h, static_cast<unsigned char>(c));
        h = Mix(h, static_cast<std::uint64_t>(a.type));
        h = Mix(h, a.size);
        h = Mix(h, static_cast<std::uint64_t>(a.mtime.sec));
        h = Mix(h, static_cast<std::uint32_t>(a.mtime.nsec));
        h = Mix(h, static_cast<std::uint64_t>(a.ino));
        if (a.isDirectory()) {
            const int sub = sys().openat(dirFd, e.name.c_str(),
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) return false;
            const bool ok = Digest(sub, h);
            sys().close(sub);
            if (!ok) return false;
        }
        h = Mix(h, 0x2f);  // the end of the item
    }
    return true;
}

}  // namespace

std::uint64_t FolderTreeDigest(int dirFd) {
    std::uint64_t h = 0x51b7;
    if (!Digest(dirFd, h)) return 0;
    return h == 0 ? 1 : h;
}

}  // namespace qv::platform
