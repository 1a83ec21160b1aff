#include "engine/exact_sync_index_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/exact_sync_index_builder.h"
#include "engine/exact_sync_index_files.h"
#include "items/error_path.h"
#include "items/tw_utilities.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/folder_handle.h"
#include "platform/localization.h"
#include "platform/sha256.h"
#include "platform/system_log.h"
#include "platform/utf8.h"
#include "run/log_name.h"
#include "sessions/plist_codec.h"

namespace qv::engine {

using platform::GLS;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A pair file's name as the main index gives it: one plain name inside the index folder.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// A text of the index as it is stored: most names need no escape, and are looked up as they are.
std::string_view StoredText(std::string_view text, std::string& buffer) {
    if (platform::IsValidUtf8(text) && (text.empty() || text.front() != '%')) return text;
    buffer = EncodeIndexText(text);
    return buffer;
}

// The pair files a store reads may be large: refused only beyond any tree a folder could hold.
constexpr std::size_t kMaxPairFileBytes = std::size_t{1} << 30;

// A pair file, read in place. The index writes the binary format; a file in the XML format
// (written by hand, say) is converted first.
bool OpenPairFile(const std::string& path, plist::BinaryView& view, std::string* reason) {
    platform::ReadFileResult file = platform::ReadWholeFile(path, kMaxPairFileBytes);
    if (file.status != platform::ReadStatus::Ok) {
        *reason = file.reason;
        return false;
    }
    if (file.bytes.compare(0, 8, "bplist00") != 0) {
        const std::optional<plist::Value> value = plist::Parse(file.bytes, reason);
        if (!value || !plist::ToBinary(*value, &file.bytes, reason)) return false;
    }
    return view.Open(std::move(file.bytes), reason);
}

// Which folder a path names: its file system's id and its inode ("" when it cannot be opened).
std::string FolderIdentity(const std::string& path) {
    const platform::FolderHandle folder = platform::FolderHandle::OpenTop(path);
    struct statfs fs {};
    if (!folder.valid() || platform::sys().fstatfs(folder.fd(), &fs) != 0) return {};
    unsigned int id[2];
    static_assert(sizeof id == sizeof fs.f_fsid);
    std::memcpy(id, &fs.f_fsid, sizeof id);
    char text[64];
    std::snprintf(text, sizeof text, "%08x%08x:%llu", id[0], id[1],
                  static_cast<unsigned long long>(folder.ino()));
    return text;
}

// How an entry's two paths match the task's: 1 direct, 2 reversed, 0 not.
int Match(const std::string* s, const std::string* d, const std::string& source,
          const std::string& dest) {
    if (s == nullptr || d == nullptr) return 0;
    if (*s == source && *d == dest) return 1;
    if (*s == dest && *d == source) return 2;
    return 0;
}

int Match(const plist::Value& dict, const std::string& source, const std::string& dest) {
    const plist::Value* s = TextAt(dict, "absolutePathSource");
    const plist::Value* d = TextAt(dict, "absolutePathDest");
    return Match(s ? &s->str() : nullptr, d ? &d->str() : nullptr, source, dest);
}

// The same for a pair file read in place.
int Match(const plist::BinaryView& view, const std::string& source, const std::string& dest) {
    const auto text = [&](const char* key) -> std::optional<std::string> {
        const auto object = view.Find(view.root(), key);
        return object ? view.Text(*object) : std::nullopt;
    };
    const std::optional<std::string> s = text("absolutePathSource");
    const std::optional<std::string> d = text("absolutePathDest");
    return Match(s ? &*s : nullptr, d ? &*d : nullptr, source, dest);
}

const char* ClassName(plist::BinaryView::Kind kind) {
    switch (kind) {
        case plist::BinaryView::Kind::Text:
            return "String";
        case plist::BinaryView::Kind::Integer:
        case plist::BinaryView::Kind::Real:
            return "Number";
        case plist::BinaryView::Kind::Date:
            return "Date";
        case plist::BinaryView::Kind::Dict:
            return "Dictionary";
        case plist::BinaryView::Kind::Array:
            return "Array";
        case plist::BinaryView::Kind::Other:
            break;
    }
    return "Object";
}

std::string Describe(const plist::BinaryView& view, std::uint64_t object) {
    if (auto text = view.Text(object)) return *text;
    if (auto i = view.Integer(object)) return std::to_string(*i);
    if (auto d = view.Number(object)) return std::to_string(*d);
    return {};
}

// The main index, when it is there in a format this store reads; otherwise nothing, and problem
// says why (but for a main index not written yet).
std::optional<plist::Value> ReadMainIndex(const std::string& mainPath, std::string& problem) {
    plist::ReadResult main = plist::ReadFile(mainPath);
    if (!main.value) {
        if (main.failure != plist::ReadFailure::Missing) {
            problem = "\"" + mainPath + "\": " + main.reason;
        }
        return std::nullopt;
    }
    const plist::Value* version = main.value->find("fileVersion");
    if (version == nullptr || !version->isInteger() ||
        version->intValue() > kExactSyncIndexVersion) {
        problem = "\"" + mainPath + "\": unknown format version";
        return std::nullopt;
    }
    return std::move(main.value);
}

// The format version a pair file gives: an integer, or a real number that is not a date.
std::optional<double> PairFileVersion(const plist::BinaryView& pair) {
    const auto versionObject = pair.Find(pair.root(), "fileVersion");
    std::optional<double> fileVersion;
    if (versionObject) {
        if (auto i = pair.Integer(*versionObject)) fileVersion = static_cast<double>(*i);
        if (auto r = pair.Number(*versionObject); r && !pair.Date(*versionObject)) {
            fileVersion = *r;
        }
    }
    return fileVersion;
}

// The pair's file goes, then its entry (entryIndex of indexFilesList) from the main index.
void RemovePairFile(const std::string& mainPath, const plist::Value& main,
                    const std::string& pairPath, std::size_t entryIndex) {
    platform::sys().unlink(pairPath.c_str());
    plist::Value updated = main;
    plist::Array& entries = updated.arrayAt("indexFilesList")->array();
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(entryIndex));
    plist::WriteBinaryFile(mainPath, updated, kOwnFile);
}

// A pair file's dictionary but for its trees and the paths it keeps apart.
plist::Value NewPairFile(const run::RunState& s, const std::string& source,
                         const std::string& dest) {
    plist::Value pair = plist::Dict{};
    pair.set("fileVersion", kExactSyncIndexVersion);
    pair.set("absolutePathSource", source);
    pair.set("absolutePathDest", dest);
    pair.set("lastExactSyncDate", plist::Date{s.totals.gStartSyncDateTime});
    pair.set(kSourceIdentityKey, FolderIdentity(s.task.gSourceFolder));
    pair.set(kDestIdentityKey, FolderIdentity(s.task.gDestFolder));
    return pair;
}

// The conflicts the run skipped go into the pair file; the lists the run kept for the index are
// emptied.
void TakeRunLists(run::TaskInHand& task, plist::Value& pair) {
    plist::Array skipped;
    for (const std::string& path : task.skippedConflictArray) {
        skipped.push_back(EncodeIndexText(path));
    }
    if (!skipped.empty()) pair.set(kSkippedConflictsKey, std::move(skipped));
    task.skippedConflictArray.clear();

    task.restoreBackupDateArray.clear();
    task.addToExactIndexArray.clear();
    task.doneItemArray.clear();
    task.settledFolders.clear();
}

}  // namespace

const plist::Value* TextAt(const plist::Value& dict, std::string_view key) {
    const plist::Value* v = dict.find(key);
    return v != nullptr && v->isString() ? v : nullptr;
}

// The entry of indexFilesList that names the pair's file, or -1.
std::ptrdiff_t FindEntry(const plist::Value& mainIndex, const std::string& source,
                         const std::string& dest) {
    const plist::Value* list = mainIndex.arrayAt("indexFilesList");
    if (list == nullptr) return -1;
    for (std::size_t i = 0; i < list->array().size(); ++i) {
        const plist::Value& entry = list->array()[i];
        const plist::Value* name = TextAt(entry, "indexFileName");
        if (entry.isDict() && name != nullptr && IsPlainName(name->str()) &&
            Match(entry, source, dest) != 0) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

std::uint64_t ItemRecord(const platform::ItemAttributes& attrs) {
    // Each field is folded in through a strong 64-bit mix, so that two states of an item give
    // the same record only by a chance of one in 2^64.
    const auto mix = [](std::uint64_t x) {
        x += 0x9e3779b97f4a7c15ULL;
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
        return x ^ (x >> 31);
    };
    std::uint64_t h = mix(static_cast<std::uint64_t>(attrs.type));
    h = mix(h ^ attrs.size);
    h = mix(h ^ static_cast<std::uint64_t>(attrs.mtime.sec));
    h = mix(h ^ static_cast<std::uint64_t>(static_cast<std::uint32_t>(attrs.mtime.nsec)));
    h = mix(h ^ static_cast<std::uint64_t>(attrs.ino));
    return h == 0 ? 1 : h;
}

std::optional<std::string> PathBelow(const std::string& path, const std::string& folder) {
    if (path == folder) return std::string();
    const bool root = folder == "/";
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0 ||
        (!root && path[folder.size()] != '/')) {
        return std::nullopt;
    }
    return root ? path : path.substr(folder.size());
}

std::string EncodeIndexText(std::string_view text) {
    if (platform::IsValidUtf8(text) && (text.empty() || text.front() != '%')) {
        return std::string(text);
    }
    std::string out = "%";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '%' || u < 0x20 || u > 0x7E) {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> DecodeIndexText(std::string_view text) {
    if (text.empty() || text.front() != '%') {
        if (!platform::IsValidUtf8(text)) return std::nullopt;
        return std::string(text);
    }
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    if (EncodeIndexText(out) != text) return std::nullopt;
    return out;
}

ExactSyncIndexStore::ExactSyncIndexStore(std::string indexFolder)
    : folder_(std::move(indexFolder)) {}

std::string ExactSyncIndexStore::MainIndexPath() const {
    return platform::JoinPath(folder_, kExactSyncMainIndexName);
}

void ExactSyncIndexStore::DropTrees() {
    loaded_ = plist::BinaryView();
    gExactSyncDictSrc.reset();
    gExactSyncDictDst.reset();
    keptBackupDates_.clear();
    skippedConflicts_.clear();
    keepsRecords_ = false;
    loadedSource_.clear();
    loadedDest_.clear();
    for (int side : {0, 1}) {
        lastFolder_[side].clear();
        lastFolderDict_[side].reset();
        lastPath_[side].clear();
        lastFound_[side] = {};
    }
}

bool ExactSyncIndexStore::ExactSyncFileExists(const ExactSyncTask& task, bool load) {
    if (load) {
        DropTrees();
        if (task.mayChangeFiles) ReplayJournal(task.source, task.dest);
        ReadLeftConflicts(task);
    }
    lastExactSyncDate_.reset();
    loadProblem_.clear();
    changedTopSide_ = -1;
    const std::string mainPath = MainIndexPath();
    const std::optional<plist::Value> main = ReadMainIndex(mainPath, loadProblem_);
    if (!main) return false;
    const plist::Value* list = main->arrayAt("indexFilesList");
    if (list == nullptr || list->array().empty()) return false;

    PairFile pair;
    if (!FindPairFile(*list, EncodeIndexText(task.source), EncodeIndexText(task.dest), pair)) {
        return false;
    }
    loadProblem_.clear();
    if (const auto date = pair.view.Find(pair.view.root(), "lastExactSyncDate")) {
        if (const auto seconds = pair.view.Date(*date)) lastExactSyncDate_ = *seconds;
    }
    if (!load) return true;

    if (!task.isExactSync) {
        // The pair is no longer kept in step exactly: its index would only mislead a later run.
        if (task.mayChangeFiles) RemovePairFile(mainPath, *main, pair.path, pair.entryIndex);
        return false;
    }
    return TakeTrees(task, pair);
}

void ExactSyncIndexStore::ReadLeftConflicts(const ExactSyncTask& task) {
    leftConflicts_.clear();
    const plist::ReadResult left = plist::ReadFile(LeftConflictsPath(task.source, task.dest));
    if (left.value && left.value->isArray()) {
        for (const plist::Value& p : left.value->array()) {
            if (p.isString()) leftConflicts_.insert(p.str());
        }
    }
}

bool ExactSyncIndexStore::FindPairFile(const plist::Value& list, const std::string& source,
                                       const std::string& dest, PairFile& pair) {
    for (std::size_t i = 0; i < list.array().size(); ++i) {
        const plist::Value& entry = list.array()[i];
        if (!entry.isDict() || Match(entry, source, dest) == 0) continue;
        const plist::Value* name = TextAt(entry, "indexFileName");
        if (name == nullptr || !IsPlainName(name->str())) continue;
        const std::string path = platform::JoinPath(folder_, name->str());
        std::string reason;
        if (!OpenPairFile(path, pair.view, &reason)) {
            loadProblem_ = "\"" + path + "\": " + reason;
            continue;
        }
        const std::optional<double> fileVersion = PairFileVersion(pair.view);
        if (!fileVersion || *fileVersion >= static_cast<double>(kExactSyncIndexVersion + 1)) {
            loadProblem_ = "\"" + path + "\": unknown format version";
            continue;
        }
        pair.match = Match(pair.view, source, dest);
        if (pair.match == 0) {
            loadProblem_ = "\"" + path + "\": made for other folders";
            continue;
        }
        pair.path = path;
        pair.entryIndex = i;
        pair.version = *fileVersion;
        return true;
    }
    return false;
}

bool ExactSyncIndexStore::TakeTrees(const ExactSyncTask& task, PairFile& pair) {
    loaded_ = std::move(pair.view);
    const int match = pair.match;
    const std::string srcName = EncodeIndexText(platform::LastPathComponent(task.source));
    const std::string dstName = EncodeIndexText(platform::LastPathComponent(task.dest));
    const auto treeSource = loaded_.Find(loaded_.root(), match == 1 ? "treeSource" : "treeDest");
    const auto treeDest = loaded_.Find(loaded_.root(), match == 1 ? "treeDest" : "treeSource");
    const auto src = treeSource ? loaded_.Find(*treeSource, srcName) : std::nullopt;
    const auto dst = treeDest ? loaded_.Find(*treeDest, dstName) : std::nullopt;
    const auto bail = [&](const char* why) {
        loadProblem_ = "\"" + pair.path + "\": " + why;
        DropTrees();
        return false;
    };
    if (!src || !dst) return bail("no tree for the folders");
    if (!MadeFromTaskFolders(task, match)) return false;
    for (const auto& [label, dict] :
         {std::pair{"gExactSyncDictSrc", *src}, {"gExactSyncDictDst", *dst}}) {
        const plist::BinaryView::Kind kind = loaded_.KindOf(dict);
        if (kind != plist::BinaryView::Kind::Dict) {
            platform::SystemLog(std::string("!!!Error: ") + label + " className is " +
                                ClassName(kind) + "\rContent: " + Describe(loaded_, dict));
            return bail("damaged tree");
        }
    }
    gExactSyncDictSrc = src;
    gExactSyncDictDst = dst;
    // Indexes written before records were kept name their items only.
    keepsRecords_ = pair.version >= static_cast<double>(kFirstVersionWithRecords);
    loadedSource_ = task.source;
    loadedDest_ = task.dest;
    ReadPathLists();
    gExactSyncShiftPathSrc = PathComponents(task.source).size();
    gExactSyncShiftPathDst = PathComponents(task.dest).size();
    return true;
}

bool ExactSyncIndexStore::MadeFromTaskFolders(const ExactSyncTask& task, int match) {
    // The index speaks of the folders it was made from: an empty folder standing where an
    // unmounted volume was, or a folder made anew at the same path, would otherwise look like
    // a side whose items were all deleted.
    for (const auto& [key, folder] :
         {std::pair{match == 1 ? kSourceIdentityKey : kDestIdentityKey, &task.source},
          {match == 1 ? kDestIdentityKey : kSourceIdentityKey, &task.dest}}) {
        const auto known = loaded_.Find(loaded_.root(), key);
        const std::optional<std::string> knownText = known ? loaded_.Text(*known) : std::nullopt;
        if (knownText && *knownText != FolderIdentity(*folder)) {
            changedTopSide_ = folder == &task.source ? kSideA : kSideB;
            loadProblem_ = "\"" + *folder + "\" " +
                           GLS("is not the folder this index was made from (another volume, or "
                               "a new folder at its path)");
            DropTrees();
            return false;
        }
    }
    return true;
}

void ExactSyncIndexStore::ReadPathLists() {
    for (const auto& [key, into] : {std::pair{kKeptBackupDatesKey, &keptBackupDates_},
                                    {kSkippedConflictsKey, &skippedConflicts_}}) {
        if (const auto list = loaded_.Find(loaded_.root(), key)) {
            for (std::uint64_t i = 0; i < loaded_.Count(*list); ++i) {
                if (auto path = loaded_.Text(*loaded_.Element(*list, i))) {
                    into->insert(std::move(*path));
                }
            }
        }
    }
}

// Where the path stood in its side's tree: the folders on the way must all have been folders.
ExactSyncIndexStore::Found ExactSyncIndexStore::Lookup(const std::string& path, int side) const {
    // A decision asks about the same item more than once (its record, then whether it was a
    // file): the last answer is kept.
    if (path == lastPath_[side]) return lastFound_[side];
    const Found found = LookupInTree(path, side);
    lastPath_[side] = path;
    lastFound_[side] = found;
    return found;
}

ExactSyncIndexStore::Found ExactSyncIndexStore::LookupInTree(const std::string& path,
                                                             int side) const {
    const auto& top = side == kSideA ? gExactSyncDictSrc : gExactSyncDictDst;
    const std::size_t shift = side == kSideA ? gExactSyncShiftPathSrc : gExactSyncShiftPathDst;
    if (!top) return {};
    std::string buffer;
    const std::size_t slash = path.find_last_of('/');
    const std::string_view parent =
        slash == std::string::npos ? std::string_view() : std::string_view(path).substr(0, slash);
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    std::optional<std::uint64_t> dict;
    std::string_view last = name;
    if (!name.empty() && !lastFolder_[side].empty() && parent == lastFolder_[side]) {
        dict = lastFolderDict_[side];
    } else {
        const auto parts = PathComponents(path);
        // The task's folder itself, or anything above it, was there.
        if (parts.size() <= shift) return {Presence::Folder, std::nullopt};
        dict = top;
        for (std::size_t i = shift; dict && i + 1 < parts.size(); ++i) {
            dict = loaded_.Find(*dict, StoredText(parts[i], buffer));
            // Nothing lies below a file: only the file itself was there.
            if (dict && loaded_.KindOf(*dict) != plist::BinaryView::Kind::Dict) dict.reset();
        }
        last = parts.back();
        // Only the folder of a named item is the folder its path ends in.
        if (!name.empty()) {
            lastFolder_[side].assign(parent);
            lastFolderDict_[side] = dict;
        }
    }
    if (!dict) return {};
    const auto item = loaded_.Find(*dict, StoredText(last, buffer));
    if (!item) return {};
    const bool folder = loaded_.KindOf(*item) == plist::BinaryView::Kind::Dict;
    return {folder ? Presence::Folder : Presence::File, item};
}

bool ExactSyncIndexStore::ItWasExixting(const std::string& path, int side) const {
    return Lookup(path, side).presence != Presence::Absent;
}

std::uint64_t ExactSyncIndexStore::RecordAt(const std::string& path, int side) const {
    const Found found = Lookup(path, side);
    if (found.presence != Presence::File || !keepsRecords_) return 0;
    const std::optional<std::int64_t> record = loaded_.Integer(*found.object);
    return record ? static_cast<std::uint64_t>(*record) : 0;
}

SinceLastRun ExactSyncIndexStore::ChangeSince(const std::string& path, int side, bool isFolder,
                                              const platform::ItemAttributes& now) const {
    if (!keepsRecords_ || !(side == kSideA ? gExactSyncDictSrc : gExactSyncDictDst)) {
        return SinceLastRun::Unknown;
    }
    const Found found = Lookup(path, side);
    if (found.presence == Presence::Absent || isFolder != (found.presence == Presence::Folder)) {
        return SinceLastRun::Changed;
    }
    if (isFolder) return SinceLastRun::Same;
    const std::optional<std::int64_t> record = loaded_.Integer(*found.object);
    return record && static_cast<std::uint64_t>(*record) == ItemRecord(now) ? SinceLastRun::Same
                                                                            : SinceLastRun::Changed;
}

bool ExactSyncIndexStore::WasLeftAsConflict(const std::string& path) const {
    if (skippedConflicts_.empty() && leftConflicts_.empty()) return false;
    // What lies inside a folder left in conflict was never in step either.
    std::string buffer;
    for (std::string_view p = path; !p.empty(); p = p.substr(0, p.find_last_of('/'))) {
        const std::string stored(StoredText(p, buffer));
        if (skippedConflicts_.count(stored) != 0 || leftConflicts_.count(stored) != 0) return true;
        if (p.find('/') == std::string_view::npos) break;
    }
    return false;
}

bool ExactSyncIndexStore::WasFileAtLastRun(const std::string& path, int side) const {
    if (!keptBackupDates_.empty()) {
        std::string buffer;
        if (keptBackupDates_.count(std::string(StoredText(path, buffer))) != 0) return false;
    }
    return Lookup(path, side).presence == Presence::File;
}

bool ExactSyncIndexStore::Report(items::ErrorPath& errors, const std::string& sentence,
                                 const std::string& path, bool folderFailure,
                                 bool uniqueNameFailure) const {
    run::RunState& s = errors.state();
    errors.SetErrMsg({sentence, " ", run::Quoted(path)});
    errors.LogAndCountError();
    if (folderFailure) {
        errors.AppendErrMsg(
            {".\r", GLS("Thus can't write the ExactSyncIndex file for this synchronization")});
    }
    errors.AppendErrMsg({".\r", GLS("The next Exact Sync on these two folders will not run as"),
                         " \"", GLS("Exact Sync"), "\""});
    if (uniqueNameFailure) {
        errors.AppendErrMsg({".\r", GLS("Please empty the folder"), " ", run::Quoted(folder_)});
    }
    errors.ManageTheError(s.mErrString, 0);
    return false;
}

bool ExactSyncIndexStore::WriteExactSyncIndex(int mode, items::ErrorPath& errors,
                                              const items::TWUtilities& tw) {
    run::RunState& s = errors.state();
    const std::string mainPath = MainIndexPath();
    if (!MakeMainIndex(errors, mainPath)) return false;
    std::optional<plist::Value> mainIndex = MainIndexToUpdate(errors, mainPath);
    if (!mainIndex) return false;
    const std::string source = EncodeIndexText(s.task.gSourceFolder);
    const std::string dest = EncodeIndexText(s.task.gDestFolder);
    const std::optional<std::string> pairPath =
        PairFileToWrite(mode, errors, tw, mainPath, *mainIndex, source, dest);
    if (!pairPath) return false;

    errors.proxy().DisplayExactSyncToConsole();
    plist::Value pair = NewPairFile(s, source, dest);
    plist::NameTree treeSource, treeDest;
    if (!BuildPairTrees(errors, tw, pair, treeSource, treeDest)) return false;
    TakeRunLists(s.task, pair);
    return WritePairFile(errors, *pairPath, pair, treeSource, treeDest);
}

bool ExactSyncIndexStore::MakeMainIndex(items::ErrorPath& errors,
                                        const std::string& mainPath) const {
    if (!platform::IsExistingFolder(folder_) || !platform::IsExistingRegularFile(mainPath)) {
        // Pair files without the main index that names them cannot be found again.
        if (!platform::RemoveTree(folder_) && platform::ItemExists(folder_)) {
            return Report(errors, GLS("Can't delete the ExactSyncIndex folder"), folder_, true,
                          false);
        }
        if (!platform::CreateFolderWithFoldersInBetween(folder_)) {
            return Report(errors, GLS("Can't create the ExactSync Index Folder"), folder_, true,
                          false);
        }
    }
    if (!platform::IsExistingRegularFile(mainPath)) {
        plist::Value fresh = plist::Dict{};
        fresh.set("fileVersion", kExactSyncIndexVersion);
        if (!plist::WriteBinaryFile(mainPath, fresh, kOwnFile).ok) {
            return Report(errors, GLS("Can't create the ExactSync MainIndex File"), mainPath, false,
                          false);
        }
    }
    return true;
}

std::optional<plist::Value> ExactSyncIndexStore::MainIndexToUpdate(
    items::ErrorPath& errors, const std::string& mainPath) const {
    plist::ReadResult read = plist::ReadFile(mainPath);
    plist::Value mainIndex = read.value && read.value->isDict() ? *read.value : plist::Dict{};
    const plist::Value* version = mainIndex.find("fileVersion");
    if (version == nullptr || !version->isNumber() ||
        version->intValue() >= kExactSyncIndexVersion + 1) {
        mainIndex.set("fileVersion", kExactSyncIndexVersion);
        mainIndex.remove("indexFilesList");
    }
    if (mainIndex.arrayAt("indexFilesList") == nullptr) {
        mainIndex.set("indexFilesList", plist::Array{});
        if (!plist::WriteBinaryFile(mainPath, mainIndex, kOwnFile).ok) {
            Report(errors, GLS("Can't update the ExactSync MainIndex File"), mainPath, false,
                   false);
            return std::nullopt;
        }
    }
    return mainIndex;
}

std::optional<std::string> ExactSyncIndexStore::PairFileToWrite(
    int mode, items::ErrorPath& errors, const items::TWUtilities& tw, const std::string& mainPath,
    plist::Value& mainIndex, const std::string& source, const std::string& dest) const {
    if (const std::ptrdiff_t i = FindEntry(mainIndex, source, dest); i >= 0) {
        const plist::Value& entry = mainIndex.arrayAt("indexFilesList")->array()[std::size_t(i)];
        std::string pairPath = platform::JoinPath(folder_, entry.stringAt("indexFileName"));
        if (mode == 1 && platform::ItemExists(pairPath)) return std::nullopt;
        return pairPath;
    }
    const std::string firstCandidate = platform::JoinPath(folder_, kExactSyncPairIndexName);
    std::string pairPath = firstCandidate;
    if (!tw.FindUniqueNameInFolder(pairPath)) {
        Report(errors, GLS("Can't find an unique name for the ExactSync Index File"),
               firstCandidate, false, true);
        return std::nullopt;
    }
    plist::Value entry = plist::Dict{};
    entry.set("absolutePathSource", source);
    entry.set("absolutePathDest", dest);
    entry.set("indexFileName", platform::LastPathComponent(pairPath));
    mainIndex.arrayAt("indexFilesList")->array().push_back(std::move(entry));
    if (!plist::WriteBinaryFile(mainPath, mainIndex, kOwnFile).ok) {
        Report(errors, GLS("Can't update the ExactSync MainIndex File"), mainPath, false, false);
        return std::nullopt;
    }
    return pairPath;
}

bool ExactSyncIndexStore::BuildPairTrees(items::ErrorPath& errors, const items::TWUtilities& tw,
                                         plist::Value& pair, plist::NameTree& treeSource,
                                         plist::NameTree& treeDest) {
    run::RunState& s = errors.state();
    // The records some items keep come from this pair's current index.
    const bool someKeepRecords =
        !s.task.restoreBackupDateArray.empty() || !s.task.addToExactIndexArray.empty();
    if (someKeepRecords &&
        !(loadedSource_ == s.task.gSourceFolder && loadedDest_ == s.task.gDestFolder)) {
        ExactSyncFileExists({s.task.gSourceFolder, s.task.gDestFolder, true, false}, true);
    }
    const IndexBuild built = BuildIndexTrees(
        s, tw, [this](const std::string& path, int side) { return RecordAt(path, side); },
        treeSource, treeDest);
    const std::optional<std::vector<std::string>>& left = built.kept;
    if (!left) {
        // A folder that could not be read would leave its items out of the index, and a later
        // run would take them for new: the pair's previous index stays as it was.
        errors.SetErrMsg({GLS("Can't read the item"), " ", run::Quoted(built.failedFolder)});
        errors.LogAndCountError();
        errors.ManageTheError(s.mErrString, 0);
        return false;
    }
    plist::Array kept;
    for (const std::string& path : *left) kept.push_back(EncodeIndexText(path));
    if (!kept.empty()) pair.set(kKeptBackupDatesKey, std::move(kept));
    return true;
}

bool ExactSyncIndexStore::WritePairFile(items::ErrorPath& errors, const std::string& pairPath,
                                        const plist::Value& pair, plist::NameTree& treeSource,
                                        plist::NameTree& treeDest) const {
    std::string bytes;
    platform::WriteResult written;
    if (plist::ToBinary(pair, {{"treeSource", &treeSource}, {"treeDest", &treeDest}}, &bytes,
                        &written.reason)) {
        written = platform::WriteFileAtomically(pairPath, bytes, kOwnFile);
    }
    if (!written.ok) {
        return Report(errors, GLS("Can't update the ExactSync Index File"), pairPath, false, false);
    }
    return true;
}

}  // namespace qv::engine
