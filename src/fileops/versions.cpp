#include "fileops/versions.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "fileops/executor.h"
#include "fileops/executor_internal.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "run/log_name.h"

namespace qv::fileops {

using namespace executor_internal;
using platform::FolderHandle;

namespace {

constexpr int kMaxVersionsOfOneSecond = 100;
// In the versions folder: its modification time is when the whole folder was last pruned.
constexpr const char* kPrunedMarkName = ".quorvel-pruned";
constexpr std::time_t kSecondsPerDay = 86400;
constexpr std::size_t kStampLength = 17;  // "2026-12-07 181200"

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "YYYY-MM-DD HHMMSS" at text[at].
bool IsStampAt(const std::string& text, std::size_t at) {
    if (at + kStampLength > text.size()) return false;
    static constexpr const char* kShape = "0000-00-00 000000";
    for (std::size_t i = 0; i < kStampLength; ++i) {
        const char c = text[at + i], want = kShape[i];
        if (want == '0' ? !IsDigit(c) : c != want) return false;
    }
    return true;
}

std::string Errno(int error) { return std::strerror(error); }

std::string WithoutLeadingSlashes(const std::string& path) {
    const std::size_t first = path.find_first_not_of('/');
    return first == std::string::npos ? std::string() : path.substr(first);
}

// A stamp's order: its time, then the N of a "-N" (1 without one).
std::pair<std::string, long> StampOrder(const std::string& stamp) {
    long n = 1;
    if (stamp.size() > kStampLength + 1 && stamp.size() < kStampLength + 8) {
        n = std::strtol(stamp.c_str() + kStampLength + 1, nullptr, 10);
    }
    return {stamp.substr(0, kStampLength), n};
}

bool RenameNoReplace(int fromFd, const std::string& from, int toFd, const std::string& to) {
    if (sys().renameat2(fromFd, from.c_str(), toFd, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: the name is looked at first, in a folder of our own.
    if (StatAt(toFd, to).error != ENOENT) {
        errno = EEXIST;
        return false;
    }
    return sys().renameat2(fromFd, from.c_str(), toFd, to.c_str(), 0) == 0;
}

}  // namespace

std::string VersionStamp(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H%M%S", &local);
    return text;
}

std::optional<std::time_t> StampTime(const std::string& stamp) {
    if (!IsStampAt(stamp, 0)) return std::nullopt;
    std::tm local{};
    local.tm_year = std::stoi(stamp.substr(0, 4)) - 1900;
    local.tm_mon = std::stoi(stamp.substr(5, 2)) - 1;
    local.tm_mday = std::stoi(stamp.substr(8, 2));
    local.tm_hour = std::stoi(stamp.substr(11, 2));
    local.tm_min = std::stoi(stamp.substr(13, 2));
    local.tm_sec = std::stoi(stamp.substr(15, 2));
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return t;
}

std::string VersionName(const std::string& name, const std::string& stamp, bool isFolder) {
    const std::size_t dot = name.rfind('.');
    if (isFolder || dot == std::string::npos || dot == 0) return name + " " + stamp;
    return name.substr(0, dot) + " " + stamp + name.substr(dot);
}

std::optional<VersionNameParts> ParseVersionName(const std::string& name, bool isFolder) {
    // The last " YYYY-MM-DD HHMMSS", perhaps with "-N", followed by nothing, or for a file
    // by an extension (a dot, and no other dot after it).
    for (std::size_t at = name.rfind(' '); at != std::string::npos && at > 0;
         at = name.rfind(' ', at - 1)) {
        if (!IsStampAt(name, at + 1)) continue;
        std::size_t end = at + 1 + kStampLength;
        if (end < name.size() && name[end] == '-' && end + 1 < name.size() &&
            IsDigit(name[end + 1])) {
            ++end;
            while (end < name.size() && IsDigit(name[end])) ++end;
        }
        const std::string rest = name.substr(end);
        const bool restFits = rest.empty() || (!isFolder && rest.size() > 1 && rest[0] == '.' &&
                                               rest.find('.', 1) == std::string::npos);
        if (!restFits) continue;
        return VersionNameParts{name.substr(0, at) + rest, name.substr(at + 1, end - at - 1)};
    }
    return std::nullopt;
}

bool CopyItemAs(const FolderHandle& from, const std::string& name, const FolderHandle& into,
                const std::string& as, const Metadata& metadata, std::int64_t backupDate,
                std::string* why) {
    const std::optional<std::string> temp = CreateUnderTemporaryName(
        as, [&](const std::string& n) { return sys().mkdirat(into.fd(), n.c_str(), 0700) == 0; });
    if (!temp) {
        *why = Errno(errno);
        return false;
    }
    Mark(into.fd(), *temp);
    bool ok = false;
    int error = 0;
    const FolderHandle holder = into.OpenChild(*temp, &error);
    if (!holder.valid()) {
        *why = Errno(error);
    } else if (CopyEntry(from, holder, name, metadata, backupDate, why)) {
        ok = RenameNoReplace(holder.fd(), name, into.fd(), as);
        if (!ok) *why = Errno(errno);
    }
    RemoveItemAt(into.fd(), *temp, metadata);
    if (ok) Unmark(into.fd(), as);
    return ok;
}

bool NewerStamp(const std::string& x, const std::string& y) {
    return StampOrder(x) > StampOrder(y);
}

FolderHandle MakeFoldersBelow(const FolderHandle& from, const std::string& relative,
                              std::string* why, mode_t mode) {
    FolderHandle folder = from;
    std::size_t start = 0;
    while (folder.valid() && start < relative.size()) {
        const std::size_t slash = std::min(relative.find('/', start), relative.size());
        const std::string name = relative.substr(start, slash - start);
        start = slash + 1;
        if (name.empty()) continue;
        int error = 0;
        FolderHandle child = folder.OpenChild(name, &error);
        if (!child.valid() && error == ENOENT) {
            if (sys().mkdirat(folder.fd(), name.c_str(), mode) != 0 && errno != EEXIST) {
                *why = Errno(errno) + ": " + run::Quoted(folder.PathOf(name));
                return {};
            }
            child = folder.OpenChild(name, &error);
        }
        if (!child.valid()) {
            *why = Errno(error) + ": " + run::Quoted(folder.PathOf(name));
            return {};
        }
        folder = std::move(child);
    }
    return folder;
}

SideVersions::SideVersions(const run::VersionsSettings& settings, FolderHandle top,
                           std::string topPath)
    : settings_(settings), top_(std::move(top)), topPath_(std::move(topPath)) {}

std::string SideVersions::RootPath() const {
    const std::string& chosen = settings_.folder;
    if (chosen.empty()) return platform::JoinPath(topPath_, run::kVersionsFolderName);
    if (chosen.front() != '/') return platform::JoinPath(topPath_, chosen);
    return platform::JoinPath(chosen, WithoutLeadingSlashes(topPath_));
}

FolderHandle SideVersions::OpenOrMake(const FolderHandle& from, const std::string& below,
                                      bool create, std::string* why) const {
    if (create) return MakeFoldersBelow(from, below, why);
    int error = 0;
    FolderHandle folder = from.OpenBelow(below, &error);
    if (!folder.valid()) *why = Errno(error);
    return folder;
}

bool SideVersions::Guarded(const FolderHandle& folder) const {
    const ItemAttributes& own = folder.attributes();
    return (own.mode & 022) == 0 && (own.uid == ::geteuid() || own.uid == top_.attributes().uid);
}

const FolderHandle& SideVersions::Root(bool create, std::string* why) {
    if (root_.valid() || (tried_ && !create)) {
        if (!root_.valid()) *why = error_;
        return root_;
    }
    tried_ = true;
    error_.clear();
    const std::string& chosen = settings_.folder;
    FolderHandle base = top_;
    std::string below = chosen.empty() ? run::kVersionsFolderName : chosen;
    if (!chosen.empty() && chosen.front() == '/') {
        // One folder for every side, chosen by the user: it must exist; each side's versions
        // go under the side's own path inside it.
        int error = 0;
        base = FolderHandle::OpenTaskTop(chosen, &error);
        below = WithoutLeadingSlashes(topPath_);
        if (!base.valid()) {
            error_ = GLS("Can't open the versions folder") + " " + run::Quoted(chosen) + ": " +
                     Errno(error);
        }
    }
    // The versions folder holds what the runs take away: nobody else may change it.
    const std::size_t slash = below.find('/');
    const FolderHandle first = !base.valid() || below.empty()
                                   ? base
                                   : OpenOrMake(base, below.substr(0, slash), create, &error_);
    if (first.valid() && !Guarded(first)) {
        error_ = GLS("The versions folder can be changed by other users:") + " " +
                 run::Quoted(first.path());
    } else if (first.valid()) {
        root_ = slash == std::string::npos
                    ? first
                    : OpenOrMake(first, below.substr(slash + 1), create, &error_);
    }
    if (!root_.valid()) *why = error_;
    return root_;
}

bool KeepVersionIn(const FolderHandle& parent, const std::string& name, const FolderHandle& into,
                   const std::string& originalName, const std::string& stamp,
                   const Metadata& metadata, std::int64_t backupDate, std::string* keptName,
                   std::string* why) {
    const platform::StatResult st = StatAt(parent.fd(), name);
    if (!st.ok()) {
        *why = Errno(st.error);
        return false;
    }
    const bool isFolder = st.attributes.isDirectory();
    for (int n = 1; n <= kMaxVersionsOfOneSecond; ++n) {
        const std::string version =
            VersionName(originalName, n == 1 ? stamp : stamp + "-" + std::to_string(n), isFolder);
        *keptName = version;
        if (RenameNoReplace(parent.fd(), name, into.fd(), version)) {
            Unmark(into.fd(), version);  // a replaced item stood marked under a temporary name
            return true;
        }
        if (errno == EEXIST || errno == ENOTEMPTY) continue;
        if (errno != EXDEV) {
            *why = Errno(errno);
            return false;
        }
        // Another file system: the copy first, complete and named; the item goes after.
        if (StatAt(into.fd(), version).error != ENOENT) continue;
        if (!CopyItemAs(parent, name, into, version, metadata, backupDate, why)) return false;
        if (!RemoveItemAt(parent.fd(), name, metadata)) {
            *why = GLS("Its version was kept, but the item could not be removed.");
            return false;
        }
        return true;
    }
    *why = Errno(EEXIST);
    return false;
}

namespace {

struct Listed {
    std::string name;
    bool isFolder;
};

std::vector<Listed> ListFolder(const FolderHandle& in, std::vector<std::string>* errors) {
    std::vector<platform::FolderEntry> entries;
    std::vector<Listed> listed;
    if (const int error = sys().readfolder(in.fd(), entries); error != 0) {
        errors->push_back(GLS("Can't read the item") + " " + run::Quoted(in.path()) + ": " +
                          Errno(error));
        return listed;
    }
    for (const platform::FolderEntry& e : entries) {
        bool isFolder = e.type == DT_DIR;
        if (e.type == DT_UNKNOWN) isFolder = StatAt(in.fd(), e.name).attributes.isDirectory();
        listed.push_back({e.name, isFolder});
    }
    return listed;
}

// The versions among a folder's items, by original name, each list newest first.
std::map<std::string, std::vector<std::pair<std::string, std::string>>> VersionsByOriginal(
    const std::vector<Listed>& listed) {
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> groups;
    for (const Listed& item : listed) {
        if (const auto parts = ParseVersionName(item.name, item.isFolder)) {
            groups[parts->original].emplace_back(parts->stamp, item.name);
        }
    }
    for (auto& [original, versions] : groups) {
        std::sort(versions.begin(), versions.end(),
                  [](const auto& x, const auto& y) { return NewerStamp(x.first, y.first); });
    }
    return groups;
}

void PruneGroup(const FolderHandle& in, const std::vector<std::pair<std::string, std::string>>& v,
                const run::VersionsSettings& settings, std::time_t now, const Metadata& metadata,
                std::vector<std::string>* errors) {
    for (std::size_t i = 0; i < v.size(); ++i) {
        const std::optional<std::time_t> made = StampTime(v[i].first);
        const bool tooMany = settings.keep > 0 && i >= static_cast<std::size_t>(settings.keep);
        const bool tooOld =
            settings.days > 0 && made && *made < now - settings.days * kSecondsPerDay;
        if (!tooMany && !tooOld) continue;
        if (!RemoveItemAt(in.fd(), v[i].second, metadata)) {
            errors->push_back(GLS("Can't delete the item") + " " +
                              run::Quoted(in.PathOf(v[i].second)) + ": " + Errno(errno));
        }
    }
}

}  // namespace

void PruneVersionsOf(const FolderHandle& in, const std::string& originalName,
                     const run::VersionsSettings& settings, std::time_t now,
                     const Metadata& metadata, std::vector<std::string>* errors) {
    const auto groups = VersionsByOriginal(ListFolder(in, errors));
    if (const auto found = groups.find(originalName); found != groups.end()) {
        PruneGroup(in, found->second, settings, now, metadata, errors);
    }
}

void PruneVersionsTree(const FolderHandle& in, const run::VersionsSettings& settings,
                       std::time_t now, const Metadata& metadata,
                       std::vector<std::string>* errors) {
    const std::vector<Listed> listed = ListFolder(in, errors);
    for (const auto& [original, versions] : VersionsByOriginal(listed)) {
        PruneGroup(in, versions, settings, now, metadata, errors);
    }
    for (const Listed& item : listed) {
        if (items::IsTemporaryName(item.name) && items::IsMarkedTemporary(in.fd(), item.name)) {
            RemoveItemAt(in.fd(), item.name, metadata);
            continue;
        }
        if (!item.isFolder || ParseVersionName(item.name, true)) continue;
        const FolderHandle child = in.OpenChild(item.name);
        if (!child.valid()) continue;
        PruneVersionsTree(child, settings, now, metadata, errors);
        // A folder of the mirror left empty goes (rmdir refuses one that is not).
        sys().unlinkat(in.fd(), item.name.c_str(), AT_REMOVEDIR);
    }
}

void VersionKeeper::Begin(const run::VersionsSettings& settings, std::time_t runStart,
                          const FolderHandle& a, const std::string& aPath, const FolderHandle& b,
                          const std::string& bPath) {
    settings_ = settings;
    runStart_ = runStart;
    stamp_ = VersionStamp(runStart);
    sides_.clear();
    kept_.clear();
    if (!settings.on) return;
    sides_.emplace_back(settings, a, aPath);
    sides_.emplace_back(settings, b, bPath);
}

bool VersionKeeper::Keep(bool onB, const FolderHandle& parent, const std::string& relativeParent,
                         const std::string& name, const std::string& originalName,
                         std::string* keptPath, std::string* why) {
    SideVersions& side = sides_.at(onB ? 1 : 0);
    const FolderHandle& root = side.Root(true, why);
    if (!root.valid()) return false;
    const FolderHandle into = MakeFoldersBelow(root, relativeParent, why);
    if (!into.valid()) return false;
    std::string kept;
    if (!KeepVersionIn(parent, name, into, originalName, stamp_, metadata_, runStart_, &kept,
                       why)) {
        return false;
    }
    *keptPath = into.PathOf(kept);
    kept_.emplace_back(onB, relativeParent, originalName);
    return true;
}

void VersionKeeper::Prune(std::time_t now, std::vector<std::string>* errors) {
    if (!settings_.on) return;
    std::sort(kept_.begin(), kept_.end());
    kept_.erase(std::unique(kept_.begin(), kept_.end()), kept_.end());
    for (const auto& [onB, relative, original] : kept_) {
        std::string why;
        const FolderHandle& root = sides_[onB ? 1 : 0].Root(false, &why);
        int error = 0;
        const FolderHandle in = root.valid() ? root.OpenBelow(relative, &error) : FolderHandle();
        if (in.valid()) PruneVersionsOf(in, original, settings_, now, metadata_, errors);
    }
    kept_.clear();
    if (settings_.days <= 0) return;  // what nothing was added to never grows past the count
    for (SideVersions& side : sides_) {
        std::string why;
        const FolderHandle& root = side.Root(false, &why);
        if (!root.valid()) continue;
        const platform::StatResult mark = StatAt(root.fd(), kPrunedMarkName);
        if (mark.ok() &&
            mark.attributes.mtime.seconds() > static_cast<double>(now - kSecondsPerDay)) {
            continue;
        }
        PruneVersionsTree(root, settings_, now, metadata_, errors);
        platform::UniqueFd touched(sys().openat(root.fd(), kPrunedMarkName,
                                                O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (touched.valid()) ::futimens(touched.get(), nullptr);
    }
}

}  // namespace qv::fileops
