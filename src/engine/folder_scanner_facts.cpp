// What the pair decisions ask of the disk, the index and the user while the scan walks: the
// backup dates, what a folder holds and whether it changed, whether two files hold the same,
// the conflicts' questions, the privileges a copy needs.
#include <dirent.h>
#include <fcntl.h>
#include <sys/vfs.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

#include "engine/folder_scanner.h"
#include "items/temporary_names.h"
#include "platform/case_fold.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/folder_digest.h"
#include "platform/localization.h"
#include "platform/unique_fd.h"
#include "run/log_name.h"

namespace qv::engine {

using platform::GLS;
using platform::ItemAttributes;

namespace {

// File systems that are views of the kernel or of memory, never user data: a copy of "/"
// must not descend into them.
bool IsPseudoFileSystemType(long type) {
    switch (static_cast<unsigned long>(type)) {
        case 0x9fa0:      // proc
        case 0x62656572:  // sysfs
        case 0x1cd1:      // devpts
        case 0x01021994:  // tmpfs (also /dev on most systems)
        case 0x27e0eb:    // cgroup
        case 0x63677270:  // cgroup2
        case 0x64626720:  // debugfs
        case 0x74726163:  // tracefs
        case 0x73636673:  // securityfs
        case 0x6165676c:  // pstore
        case 0xcafe4a11:  // bpf
        case 0x62656570:  // configfs
        case 0x19800202:  // mqueue
        case 0x958458f6:  // hugetlbfs
        case 0x0187:      // autofs
        case 0x42494e4d:  // binfmt_misc
        case 0x65735543:  // fusectl
        case 0xde5e81e4:  // efivarfs
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<double> FolderScanner::BackupDate(const Side& side) const {
    return side.resolved ? tw_.GetDate(side.path, side.attrs, items::kBackupDate)
                         : tw_.GetDate(side.dirFd, side.name, side.attrs, items::kBackupDate);
}

std::int64_t FolderScanner::ItemsInFolder(const Side& folder) const {
    const auto count = [](const auto& self, const platform::FolderHandle& dir) -> std::int64_t {
        std::vector<platform::FolderEntry> entries;
        if (!dir.valid() || platform::sys().readfolder(dir.fd(), entries) != 0) return 0;
        std::int64_t n = 0;
        for (const platform::FolderEntry& e : entries) {
            ++n;
            if (e.type == DT_DIR) n += self(self, dir.OpenChild(e.name));
        }
        return n;
    };
    const platform::FolderHandle dir =
        folder.resolved ? platform::FolderHandle::OpenTop(folder.path)
                        : platform::FolderHandle::OpenAt(folder.dirFd, folder.name, folder.path);
    return count(count, dir);
}

bool FolderScanner::ChangedInside(const Side& folder, int side) const {
    if (folder.resolved) return true;  // not the index's: nothing tells it unchanged
    // Anything made or modified inside since the last run; what was deleted inside is not lost
    // with the folder.
    const auto changed = [&](const auto& self, const platform::FolderHandle& dir,
                             const std::string& path) -> bool {
        std::vector<platform::FolderEntry> entries;
        if (!dir.valid() || platform::sys().readfolder(dir.fd(), entries) != 0) return true;
        for (const platform::FolderEntry& e : entries) {
            const platform::StatResult stat = platform::StatAt(dir.fd(), e.name);
            if (!stat.ok()) return true;
            const std::string inside = platform::JoinPath(path, e.name);
            const bool isFolder = stat.attributes.isDirectory();
            if (index_.ChangeSince(inside, side, isFolder, stat.attributes) != SinceLastRun::Same) {
                return true;
            }
            if (isFolder && self(self, dir.OpenChild(e.name), inside)) return true;
        }
        return false;
    };
    return changed(changed, platform::FolderHandle::OpenAt(folder.dirFd, folder.name, folder.path),
                   folder.path);
}

namespace {

// The extended attributes of an item, access-control lists included (their stored form is
// ordered, so equal lists are equal bytes), without the program's own; none for a link.
std::map<std::string, std::string> XattrsOf(const PairSide& side) {
    std::map<std::string, std::string> values;
    if (side.resolved || side.isLink) return values;
    std::vector<char> names(4096);
    ssize_t n;
    while ((n = platform::sys().listxattrat(side.dirFd, side.name.c_str(), names.data(),
                                            names.size())) < 0 &&
           errno == ERANGE) {
        names.resize(names.size() * 4);
    }
    for (ssize_t at = 0; n > 0 && at < n;) {
        const std::string name(names.data() + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        if (name.rfind("user.quorvel.", 0) == 0) continue;
        std::string value(65536, '\0');
        const ssize_t size = platform::sys().getxattrat(side.dirFd, side.name.c_str(), name.c_str(),
                                                        value.data(), value.size());
        if (size >= 0) value.resize(static_cast<std::size_t>(size));
        values.emplace(name, std::move(value));
    }
    return values;
}

}  // namespace

bool FolderScanner::AttributesDiffer(const Side& a, const Side& b) const {
    if ((a.attrs.mode & 07777) != (b.attrs.mode & 07777) || a.attrs.uid != b.attrs.uid ||
        a.attrs.gid != b.attrs.gid) {
        return true;
    }
    return XattrsOf(a) != XattrsOf(b);
}

bool FolderScanner::SameContent(const Side& a, const Side& b) const {
    if (a.isFolder || b.isFolder || a.isLink != b.isLink) return false;
    if (a.isLink) {
        if (a.resolved || b.resolved) return false;
        char x[4096], y[4096];
        const ssize_t n = platform::sys().readlinkat(a.dirFd, a.name.c_str(), x, sizeof x);
        const ssize_t m = platform::sys().readlinkat(b.dirFd, b.name.c_str(), y, sizeof y);
        return n >= 0 && n == m && std::memcmp(x, y, static_cast<std::size_t>(n)) == 0;
    }
    const auto openSide = [](const Side& side) {
        const int flags = O_RDONLY | O_CLOEXEC;
        return platform::UniqueFd(
            side.resolved
                ? platform::sys().openat(AT_FDCWD, side.path.c_str(), flags)
                : platform::sys().openat(side.dirFd, side.name.c_str(), flags | O_NOFOLLOW));
    };
    const platform::UniqueFd x = openSide(a), y = openSide(b);
    if (!x.valid() || !y.valid()) return false;
    std::vector<char> bx(1 << 16), by(1 << 16);
    for (off_t at = 0;;) {
        const ssize_t n = platform::sys().pread(x.get(), bx.data(), bx.size(), at);
        const ssize_t m = platform::sys().pread(y.get(), by.data(), by.size(), at);
        if (n < 0 || n != m) return false;
        if (n == 0) return true;
        if (std::memcmp(bx.data(), by.data(), static_cast<std::size_t>(n)) != 0) return false;
        at += n;
    }
}

bool FolderScanner::IsFilling(const Side& side) const {
    // Only a folder still in the private mode of one being filled is asked for its mark.
    if (!side.exists || side.resolved || (side.attrs.mode & 07777) != items::kFillingMode) {
        return false;
    }
    char mark = 0;
    return platform::sys().getxattrat(side.dirFd, side.name.c_str(), items::kFillingXattr, &mark,
                                      1) >= 0;
}

bool FolderScanner::IsPackage(const Side& side) const {
    if (side.folder.valid()) return tw_.IsFolderPackage(side.folder.fd(), side.name);
    return side.resolved ? tw_.IsFilePackage(side.path, side.attrs)
                         : tw_.IsFilePackage(side.dirFd, side.name, side.attrs);
}

bool FolderScanner::WasInIndex(const std::string& path, int side) const {
    return index_.ItWasExixting(path, side);
}

bool FolderScanner::Answer(const run::ConflictPolicy& policy, run::ConflictQuestion question,
                           bool* changeDirection) {
    if (!policy.ask) return policy.proceeds;
    question.isSync = state_.config.flags.gIsSyncOn;
    question.canChangeDirection = changeDirection != nullptr;
    const run::ConflictReply reply = listener_.OnQuestion(question);
    if (changeDirection) *changeDirection = reply.changeDirection;
    return reply.answer == run::ConflictAnswer::Proceed;
}

bool FolderScanner::CheckPrivileges(const Side& a, const Side& b, int copyMode) {
    const int result =
        validator_.CheckPrivilegesOnFiles(a.path, b.path, copyMode, &a.attrs, &b.attrs);
    if (result == items::kPrivilegesOk) return true;
    // The validator leaves its message in the run's error text.
    listener_.OnScanError({.kind = ScanError::Kind::kPrivileges,
                           .text = state_.mErrString,
                           .locked = result != items::kPrivilegesInsufficient});
    return false;
}

bool FolderScanner::IsPseudoFileSystemMount(const Side& side,
                                            const platform::FolderHandle& parent) const {
    if (!side.exists || !side.attrs.isDirectory() || side.resolved || !parent.valid() ||
        side.attrs.dev == parent.dev()) {
        return false;
    }
    const platform::UniqueFd item = platform::OpenItemPath(parent.fd(), side.name);
    struct statfs fs {};
    if (!item.valid() || platform::sys().fstatfs(item.get(), &fs) != 0) return false;
    return IsPseudoFileSystemType(static_cast<long>(fs.f_type));
}

}  // namespace qv::engine
