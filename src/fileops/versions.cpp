#include "fileops/versions.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
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

namespace {

// The folder `relative` below from, one name at a time and never through a link; missing ones
// made with `mode` when create. Each folder opened must pass `refuse` (which says why not).
FolderHandle OpenFoldersBelow(const FolderHandle& from, const std::string& relative, bool create,
                              mode_t mode,
                              const std::function<std::string(const FolderHandle&)>& refuse,
                              std::string* why) {
    FolderHandle folder = from;
    std::size_t start = 0;
    while (folder.valid() && start < relative.size()) {
        const std::size_t slash = std::min(relative.find('/', start), relative.size());
        const std::string name = relative.substr(start, slash - start);
        start = slash + 1;
        if (name.empty()) continue;
        int error = 0;
        FolderHandle child = folder.OpenChild(name, &error);
        if (!child.valid() && error == ENOENT && create) {
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
        if (refuse) {
            if (std::string no = refuse(child); !no.empty()) {
                *why = std::move(no);
                return {};
            }
        }
        folder = std::move(child);
    }
    return folder;
}

}  // namespace

FolderHandle MakeFoldersBelow(const FolderHandle& from, const std::string& relative,
                              std::string* why, mode_t mode) {
    return OpenFoldersBelow(from, relative, true, mode, {}, why);
}

// ---- The record ----

namespace {

std::string Escaped(const std::string& path) {
    std::string out;
    for (const char c : path) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        const char c = text[i];
        if (c != '\\' && c != 'n' && c != 't') return std::nullopt;
        out += c == 'n' ? '\n' : c == 't' ? '\t' : '\\';
    }
    return out;
}

// "made\tf|d\tpath": one line of the record.
std::optional<VersionRecord> ParseRecord(std::string_view line) {
    const std::size_t tab1 = line.find('\t');
    if (tab1 == std::string_view::npos || tab1 + 3 > line.size() || line[tab1 + 2] != '\t') {
        return std::nullopt;
    }
    VersionRecord record;
    const char* end = nullptr;
    const std::string made(line.substr(0, tab1));
    record.made = std::strtoll(made.c_str(), const_cast<char**>(&end), 10);
    if (made.empty() || end != made.c_str() + made.size()) return std::nullopt;
    const char kind = line[tab1 + 1];
    if (kind != 'f' && kind != 'd') return std::nullopt;
    record.isFolder = kind == 'd';
    const std::optional<std::string> path = Unescaped(line.substr(tab1 + 3));
    if (!path || path->empty() || path->front() == '/' || path->find("..") != std::string::npos) {
        return std::nullopt;
    }
    record.path = *path;
    return record;
}

std::string RecordLine(const VersionRecord& r) {
    return std::to_string(r.made) + "\t" + (r.isFolder ? "d" : "f") + "\t" + Escaped(r.path) + "\n";
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return sys().fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = sys().write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::vector<VersionRecord> ReadVersionRecords(const FolderHandle& root) {
    std::vector<VersionRecord> records;
    platform::UniqueFd fd(sys().openat(root.fd(), kVersionsListName,
                                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
    if (!fd.valid() || !IsRegularFile(fd.get())) return records;
    std::string text;
    char buffer[65536];
    for (ssize_t n;
         (n = sys().pread(fd.get(), buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        if (auto record = ParseRecord(std::string_view(text).substr(start, end - start))) {
            records.push_back(std::move(*record));
        }
    }
    return records;
}

bool AppendVersionRecord(const FolderHandle& root, const VersionRecord& record, std::string* why) {
    platform::UniqueFd fd(
        sys().openat(root.fd(), kVersionsListName,
                     O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.valid() && !IsRegularFile(fd.get())) errno = EINVAL;
    if (!fd.valid() || !IsRegularFile(fd.get()) || !WriteAll(fd.get(), RecordLine(record)) ||
        fd.Close() != 0) {
        *why = Errno(errno) + ": " + run::Quoted(root.PathOf(kVersionsListName));
        return false;
    }
    return true;
}

bool WriteVersionRecords(const FolderHandle& root, const std::vector<VersionRecord>& records,
                         std::string* why) {
    const std::string temp = std::string(kVersionsListName) + ".new";
    std::string text;
    for (const VersionRecord& r : records) text += RecordLine(r);
    sys().unlinkat(root.fd(), temp.c_str(), 0);
    platform::UniqueFd fd(sys().openat(root.fd(), temp.c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid() || !WriteAll(fd.get(), text) || fd.Close() != 0 ||
        sys().renameat2(root.fd(), temp.c_str(), root.fd(), kVersionsListName, 0) != 0) {
        *why = Errno(errno) + ": " + run::Quoted(root.PathOf(kVersionsListName));
        sys().unlinkat(root.fd(), temp.c_str(), 0);
        return false;
    }
    return true;
}

// ---- One side's versions folder ----

SideVersions::SideVersions(const run::VersionsSettings& settings, FolderHandle top,
                           std::string topPath)
    : settings_(settings), top_(std::move(top)), topPath_(std::move(topPath)) {}

std::string SideVersions::RootPath() const {
    const std::string& chosen = settings_.folder;
    if (chosen.empty()) return platform::JoinPath(topPath_, run::kVersionsFolderName);
    return platform::JoinPath(chosen, WithoutLeadingSlashes(topPath_));
}

bool SideVersions::Guarded(const FolderHandle& folder) const {
    const ItemAttributes& own = folder.attributes();
    return (own.mode & 022) == 0 && (own.uid == ::geteuid() || own.uid == top_.attributes().uid);
}

FolderHandle SideVersions::OpenGuarded(const FolderHandle& from, const std::string& relative,
                                       bool create, std::string* why) const {
    // What the runs take away is kept where nobody else can change it.
    return OpenFoldersBelow(
        from, relative, create, 0700,
        [this](const FolderHandle& folder) {
            return Guarded(folder) ? std::string()
                                   : GLS("The versions folder can be changed by other "
                                         "users:") +
                                         " " + run::Quoted(folder.path());
        },
        why);
}

const FolderHandle& SideVersions::Root(bool create, std::string* why) {
    if (root_.valid() || (tried_ && !create)) {
        if (!root_.valid()) *why = error_;
        return root_;
    }
    tried_ = true;
    error_.clear();
    const std::string& chosen = settings_.folder;
    if (chosen.empty()) {
        root_ = OpenGuarded(top_, run::kVersionsFolderName, create, &error_);
    } else {
        // One folder for every side, chosen by the user: it must exist, and must not hold a
        // side (its versions would be part of that side); each side's versions go under the
        // side's own path inside it.
        int error = 0;
        const FolderHandle base = FolderHandle::OpenTaskTop(chosen, &error);
        const std::string inside = chosen == "/" ? chosen : chosen + "/";
        if (!base.valid()) {
            error_ = GLS("Can't open the versions folder") + " " + run::Quoted(chosen) + ": " +
                     Errno(error);
        } else if (topPath_ == chosen || topPath_.compare(0, inside.size(), inside) == 0) {
            error_ =
                GLS("The versions folder holds the session's folder") + " " + run::Quoted(topPath_);
        } else {
            root_ = OpenGuarded(base, WithoutLeadingSlashes(topPath_), create, &error_);
        }
    }
    if (!root_.valid()) *why = error_;
    return root_;
}

FolderHandle SideVersions::MakeBelow(const std::string& relative, std::string* why) {
    const FolderHandle& root = Root(true, why);
    if (!root.valid()) return {};
    return OpenGuarded(root, relative, true, why);
}

// ---- Keeping ----

namespace {

// The temporaries an interrupted copy left in a folder of the versions folder.
void RemoveLeftTemporaries(const FolderHandle& in, const Metadata& metadata) {
    std::vector<platform::FolderEntry> entries;
    if (sys().readfolder(in.fd(), entries) != 0) return;
    for (const platform::FolderEntry& e : entries) {
        if (items::IsMarkedTemporary(in.fd(), e.name)) RemoveItemAt(in.fd(), e.name, metadata);
    }
}

}  // namespace

bool KeepVersionIn(const FolderHandle& parent, const std::string& name, const FolderHandle& into,
                   const std::string& originalName, const std::string& stamp,
                   const Metadata& metadata, std::int64_t backupDate, bool copyOnly,
                   std::string* keptName, std::string* why) {
    const platform::StatResult st = StatAt(parent.fd(), name);
    if (!st.ok()) {
        *why = Errno(st.error);
        return false;
    }
    const bool isFolder = st.attributes.isDirectory();
    bool copy = copyOnly || st.attributes.dev != into.dev();
    if (copy) RemoveLeftTemporaries(into, metadata);
    for (int n = 1; n <= kMaxVersionsOfOneSecond; ++n) {
        const std::string version =
            VersionName(originalName, n == 1 ? stamp : stamp + "-" + std::to_string(n), isFolder);
        *keptName = version;
        if (StatAt(into.fd(), version).error != ENOENT) continue;
        if (!copy && RenameNoReplace(parent.fd(), name, into.fd(), version)) {
            Unmark(into.fd(), version);  // a replaced item stood marked under a temporary name
            return true;
        }
        if (!copy && errno == EEXIST) continue;
        if (!copy && errno != EXDEV) {
            *why = Errno(errno);
            return false;
        }
        // Another file system: the copy first, complete and named; the item goes after.
        copy = true;
        if (!CopyItemAs(parent, name, into, version, metadata, backupDate, why)) return false;
        Unmark(into.fd(), version);
        if (!copyOnly && !RemoveItemAt(parent.fd(), name, metadata)) {
            *why = GLS("Its version was kept, but the item could not be removed.");
            return false;
        }
        return true;
    }
    *why = Errno(EEXIST);
    return false;
}

// ---- Pruning ----

namespace {

std::pair<std::string, std::string> SplitRecordPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// The item a record keeps a version of: its folder below the versions folder, and its name.
std::optional<VersionGroup> GroupOf(const VersionRecord& record) {
    const auto [folder, name] = SplitRecordPath(record.path);
    const auto parts = ParseVersionName(name, record.isFolder);
    if (!parts) return std::nullopt;
    return VersionGroup{folder, parts->original};
}

// Removes one recorded version, then the folders of the versions folder it leaves empty.
bool RemoveVersion(const FolderHandle& root, const VersionRecord& record, const Metadata& metadata,
                   std::vector<std::string>* errors) {
    auto [folder, name] = SplitRecordPath(record.path);
    int error = 0;
    const FolderHandle in = root.OpenBelow(folder, &error);
    if (!in.valid()) return error == ENOENT;  // gone already, with its folder
    if (!RemoveItemAt(in.fd(), name, metadata)) {
        errors->push_back(GLS("Can't delete the item") + " " + run::Quoted(in.PathOf(name)) + ": " +
                          Errno(errno));
        return false;
    }
    while (!folder.empty()) {
        const auto [above, last] = SplitRecordPath(folder);
        const FolderHandle parent = root.OpenBelow(above);
        if (!parent.valid() || sys().unlinkat(parent.fd(), last.c_str(), AT_REMOVEDIR) != 0) break;
        folder = above;
    }
    return true;
}

}  // namespace

void PruneVersions(const FolderHandle& root, const run::VersionsSettings& settings, std::time_t now,
                   const std::vector<VersionGroup>* only, const Metadata& metadata,
                   std::vector<std::string>* errors) {
    std::vector<VersionRecord> records = ReadVersionRecords(root);
    std::map<VersionGroup, std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::optional<VersionGroup> group = GroupOf(records[i]);
        if (!group) continue;
        if (only && std::find(only->begin(), only->end(), *group) == only->end()) continue;
        groups[*group].push_back(i);
    }
    std::vector<bool> gone(records.size(), false);
    for (auto& [group, members] : groups) {
        // Newest first, by when they were kept; within a second, by the "-N" of the names.
        std::sort(members.begin(), members.end(), [&](std::size_t x, std::size_t y) {
            if (records[x].made != records[y].made) return records[x].made > records[y].made;
            return records[x].path > records[y].path;
        });
        for (std::size_t k = 0; k < members.size(); ++k) {
            const VersionRecord& r = records[members[k]];
            const bool tooMany = settings.keep > 0 && k >= static_cast<std::size_t>(settings.keep);
            const bool tooOld = settings.days > 0 && r.made < now - settings.days * kSecondsPerDay;
            if ((tooMany || tooOld) && RemoveVersion(root, r, metadata, errors)) {
                gone[members[k]] = true;
            }
        }
    }
    if (std::find(gone.begin(), gone.end(), true) == gone.end()) return;
    std::vector<VersionRecord> kept;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!gone[i]) kept.push_back(std::move(records[i]));
    }
    std::string why;
    if (!WriteVersionRecords(root, kept, &why)) errors->push_back(why);
}

// ---- The run's keeper ----

void VersionKeeper::Begin(const run::VersionsSettings& settings, std::time_t runStart,
                          const FolderHandle& a, const std::string& aPath, const FolderHandle& b,
                          const std::string& bPath) {
    settings_ = settings;
    runStart_ = runStart;
    stamp_ = VersionStamp(runStart);
    sides_.clear();
    kept_[0].clear();
    kept_[1].clear();
    blocked_.clear();
    if (!settings.on) return;
    sides_.emplace_back(settings, a, aPath);
    sides_.emplace_back(settings, b, bPath);
    // One folder chosen for the versions must hold neither side, by whatever way it is named.
    if (settings.folder.empty()) return;
    char real[PATH_MAX];
    const std::string chosen =
        sys().realpath(settings.folder.c_str(), real) != nullptr ? real : settings.folder;
    const std::string inside = chosen == "/" ? chosen : chosen + "/";
    for (const std::string* top : {&aPath, &bPath}) {
        const std::string side = sys().realpath(top->c_str(), real) != nullptr ? real : *top;
        if (side == chosen || side.compare(0, inside.size(), inside) == 0) {
            blocked_ =
                GLS("The versions folder holds the session's folder") + " " + run::Quoted(*top);
        }
    }
}

bool VersionKeeper::OnOtherFileSystem(bool onB, dev_t device) {
    std::string why;
    const FolderHandle& root = sides_.at(onB ? 1 : 0).Root(true, &why);
    return root.valid() && root.dev() != device;
}

bool VersionKeeper::Keep(bool onB, const FolderHandle& parent, const std::string& relativeParent,
                         const std::string& name, const std::string& originalName, bool copyOnly,
                         std::string* keptPath, std::string* why) {
    if (!blocked_.empty()) {
        *why = blocked_;
        return false;
    }
    SideVersions& side = sides_.at(onB ? 1 : 0);
    const FolderHandle into = side.MakeBelow(relativeParent, why);
    if (!into.valid()) return false;
    const platform::StatResult st = StatAt(parent.fd(), name);
    // The name the version will take is recorded first: a version never lies there unrecorded
    // (a record of one that was never made names nothing, and is dropped when pruned).
    std::string kept;
    for (int n = 1; n <= kMaxVersionsOfOneSecond && kept.empty(); ++n) {
        const std::string candidate =
            VersionName(originalName, n == 1 ? stamp_ : stamp_ + "-" + std::to_string(n),
                        st.attributes.isDirectory());
        if (StatAt(into.fd(), candidate).error == ENOENT) kept = candidate;
    }
    const VersionRecord record{static_cast<std::int64_t>(std::time(nullptr)),
                               st.attributes.isDirectory(),
                               relativeParent.empty() ? kept : relativeParent + "/" + kept};
    if (!st.ok() || kept.empty() || !AppendVersionRecord(side.Root(false, why), record, why)) {
        if (!st.ok()) *why = Errno(st.error);
        if (st.ok() && kept.empty()) *why = Errno(EEXIST);
        return false;
    }
    if (!KeepVersionIn(parent, name, into, originalName, stamp_, metadata_, runStart_, copyOnly,
                       &kept, why)) {
        return false;
    }
    if (record.path != (relativeParent.empty() ? kept : relativeParent + "/" + kept)) {
        // Taken meanwhile under another name: that one is recorded too.
        std::string recordWhy;
        VersionRecord actual = record;
        actual.path = relativeParent.empty() ? kept : relativeParent + "/" + kept;
        if (!AppendVersionRecord(side.Root(false, &recordWhy), actual, &recordWhy)) {
            problems_.push_back(recordWhy);
        }
    }
    *keptPath = into.PathOf(kept);
    kept_[onB ? 1 : 0].emplace_back(relativeParent, originalName);
    return true;
}

void VersionKeeper::Prune(std::time_t now, std::vector<std::string>* errors) {
    errors->insert(errors->end(), problems_.begin(), problems_.end());
    problems_.clear();
    if (!settings_.on) return;
    for (std::size_t side = 0; side < sides_.size(); ++side) {
        std::vector<VersionGroup>& kept = kept_[side];
        std::string why;
        const FolderHandle& root = sides_[side].Root(false, &why);
        if (!root.valid()) continue;  // a side that never kept a version has no folder for them
        std::sort(kept.begin(), kept.end());
        kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
        // Every recorded version, so that a limit lowered, or a run that could keep none (a full
        // disk), still frees what is beyond it.
        PruneVersions(root, settings_, now, nullptr, metadata_, errors);
        kept.clear();
    }
}

}  // namespace qv::fileops
