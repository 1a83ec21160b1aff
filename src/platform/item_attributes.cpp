#include "platform/item_attributes.h"

#include <fcntl.h>

namespace qv::platform {

ItemAttributes AttributesFromStat(const struct stat& st) {
    ItemAttributes a;
    if (S_ISDIR(st.st_mode)) {
        a.type = ItemType::Directory;
    } else if (S_ISREG(st.st_mode)) {
        a.type = ItemType::RegularFile;
    } else if (S_ISLNK(st.st_mode)) {
        a.type = ItemType::SymbolicLink;
    } else {
        a.type = ItemType::Other;
    }
    a.mode = st.st_mode;
    a.uid = st.st_uid;
    a.gid = st.st_gid;
    a.dev = st.st_dev;
    a.ino = st.st_ino;
    a.size = static_cast<std::uint64_t>(st.st_size);
    a.mtime = {st.st_mtim.tv_sec, static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
    a.atime = {st.st_atim.tv_sec, static_cast<std::int32_t>(st.st_atim.tv_nsec)};
    a.ctime = {st.st_ctim.tv_sec, static_cast<std::int32_t>(st.st_ctim.tv_nsec)};
    return a;
}

ItemAttributes ReadItemAttributes(const char* path) {
    struct stat st {};
    if (::lstat(path, &st) != 0) return {};
    return AttributesFromStat(st);
}

ItemAttributes ReadItemAttributesAt(int dirFd, const char* name) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    return AttributesFromStat(st);
}

}  // namespace qv::platform
