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

#include "fileops/error_path.h"
#include "fileops/tw_utilities.h"
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

// The components of a path as the index counts them: the root "/" is one, then every name.
std::vector<std::string_view> PathComponents(std::string_view path) {
    std::vector<std::string_view> parts;
    if (!path.empty() && path.front() == '/') parts.push_back("/");
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t slash = path.find('/', i);
        const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > i) parts.push_back(path.substr(i, end - i));
        i = end + 1;
    }
    return parts;
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

const plist::Value* TextAt(const plist::Value& dict, std::string_view key) {
    const plist::Value* v = dict.find(key);
    return v != nullptr && v->isString() ? v : nullptr;
}

// How an entry's two paths match the task's: 1 direct, 2 reversed, 0 not.
// The index files are Quorvel's own: never written through a link put at their names, and
// the temporaries of a write killed half-way are cleared by the next.
const platform::AtomicWriteOptions kOwnFile{std::nullopt, false, true};

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

// Rebuilds the two trees of a pair from what the folders hold now, then stamps the backup date
// of the files found except those whose date must stay as it was (restoreBackupDateArray, and
// paths kept in the index although gone from their side, with their other side's item).
//
// A folder the scan found settled (the same names on both sides, nothing planned among them)
// is taken from the scan while it still holds those names: without listing it again when its
// status shows no change since the scan, else once listed and compared. Its files already in
// step since the last exact run are not stamped again: their backup date, set by that run or an
// earlier one, already follows their modification date, and every later comparison gives the
// same answer with it as with this run's. Any other folder is listed and its files are stamped,
// but for those the scan found in step in the same way (a change to one file of a folder does
// not restamp its neighbours).
//
// The two sides are walked, and then stamped, side by side; the stamping waits for both walks,
// so that an item exempted by the other side's walk keeps its date whichever side was first.
class IndexBuilder {
  public:
    // The record of a file in the index being replaced (0 when none).
    using OldRecord = std::function<std::uint64_t(const std::string& path, int side)>;

    IndexBuilder(run::RunState& state, const fileops::TWUtilities& tw, OldRecord oldRecord)
        : s_(state), tw_(tw), oldRecord_(std::move(oldRecord)) {
        restore_.insert(s_.restoreBackupDateArray.begin(), s_.restoreBackupDateArray.end());
        // An item whose backup date stays as it was keeps its record too: the next run must
        // still see it changed since the last run it was in step at. These are the sides of a
        // conflict, and the paths kept although gone with their other side's item.
        keepRecord_ = restore_;
        done_.insert(s_.doneItemArray.begin(), s_.doneItemArray.end());
        for (const std::string& gone : s_.addToExactIndexArray) {
            keepRecord_.insert(gone);
            if (auto other = OtherSide(gone)) keepRecord_.insert(std::move(*other));
        }
    }

    // Returns the files of the index whose backup date this run left as it was; nothing when
    // a folder of either side could not be read to its end (no tree that misses items is
    // written, and nothing is stamped).
    std::optional<std::vector<std::string>> Build(plist::NameTree& treeSource,
                                                  plist::NameTree& treeDest) {
        Side a, b;
        a.top = platform::FolderHandle::OpenTaskTop(s_.gSourceFolder);
        b.top = platform::FolderHandle::OpenTaskTop(s_.gDestFolder);
        if (!a.top.valid() || !b.top.valid()) {
            a.failed = a.top.valid() ? std::string() : s_.gSourceFolder;
            b.failed = b.top.valid() ? std::string() : s_.gDestFolder;
            return Failed(a, b);
        }
        std::thread other([&] {
            MakeExactSyncIndex(a.top, s_.gSourceFolder, treeSource, kSideA, a, s_.gSourceFileName);
        });
        MakeExactSyncIndex(b.top, s_.gDestFolder, treeDest, kSideB, b, s_.gDestFileName);
        other.join();
        if (!a.failed.empty() || !b.failed.empty()) return Failed(a, b);
        std::vector<std::string> keptA, keptB;
        std::thread stampA([&] { StampAll(a, keptA); });
        StampAll(b, keptB);
        stampA.join();
        keptA.insert(keptA.end(), keptB.begin(), keptB.end());
        return keptA;
    }

    // The folder that could not be read when Build gave nothing.
    const std::string& FailedFolder() const { return failedFolder_; }

  private:
    // The files of one folder to stamp unless exempt, named below the side's top folder.
    struct FolderFiles {
        std::string folder;
        std::vector<std::string> names;
    };
    struct Side {
        platform::FolderHandle top;
        std::vector<FolderFiles> files;
        std::string failed;  // a folder that could not be read
        void Add(const std::string& folder, const std::string& name) {
            if (files.empty() || files.back().folder != folder) files.push_back({folder, {}});
            files.back().names.push_back(name);
        }
    };

    struct Entry {
        std::string name;
        bool listed = true;  // on this side now, rather than kept from the last run
        platform::ItemType type = platform::ItemType::Missing;
        bool settled = false;  // kind known from the scan: a directory is a folder or not
        bool isFolder = false;
        bool stamp = false;  // a file or package to stamp
    };

    // Walks the folder open as dir (folder: its path, for the index's names and the run's
    // lists), reaching sub-folders only through handles, never a link.
    std::nullopt_t Failed(const Side& a, const Side& b) {
        failedFolder_ = a.failed.empty() ? b.failed : a.failed;
        return std::nullopt;
    }

    // only: in a task between two files, the one file of the folder that belongs to it.
    void MakeExactSyncIndex(const platform::FolderHandle& dir, const std::string& folder,
                            plist::NameTree& parent, int side, Side& found,
                            const std::string& only = {}) {
        if (!found.failed.empty()) return;
        parent.entries.push_back({EncodeIndexText(platform::LastPathComponent(folder)),
                                  std::make_unique<plist::NameTree>()});
        plist::NameTree& mine = *parent.entries.back().folder;
        // kept: the folder stays in the index although gone from this side.
        const auto child = [&](const std::string& name, bool kept = false) {
            int error = 0;
            platform::FolderHandle sub = dir.OpenChild(name, &error);
            if (!sub.valid()) {
                // Gone since: nothing to index. Anything else is a folder not read.
                if (error != ENOENT) found.failed = platform::JoinPath(folder, name);
                if (kept) {
                    auto below = std::make_unique<plist::NameTree>();
                    KeptBelow(platform::JoinPath(folder, name), *below, side);
                    mine.entries.push_back({EncodeIndexText(name), std::move(below)});
                }
                return;
            }
            MakeExactSyncIndex(sub, platform::JoinPath(folder, name), mine, side, found);
        };
        const run::SettledFolder* scanned = Settled(folder, side);
        const run::SettledFolder* settled = scanned && scanned->complete ? scanned : nullptr;
        const run::SettledFolder* quietOnly = scanned && !scanned->complete ? scanned : nullptr;
        const bool noneKept = settled != nullptr && NoneKeptIn(folder);
        if (noneKept && Unchanged(dir, side, *settled)) {
            mine.entries.reserve(settled->entries.size());
            for (const run::SettledEntry& e : settled->entries) {
                if (e.isFolder) {
                    child(e.name);
                    continue;
                }
                mine.entries.push_back(
                    {EncodeIndexText(e.name), nullptr,
                     Record(folder, e.name, side, side == kSideA ? e.aRecord : e.bRecord)});
                if (e.stamp) found.Add(folder, e.name);
            }
            return;
        }
        std::optional<std::vector<Entry>> listed = List(dir);
        if (!listed) {
            found.failed = folder;
            return;
        }
        std::vector<Entry>& listing = *listed;
        if (!only.empty()) {
            std::erase_if(listing, [&only](const Entry& e) { return e.name != only; });
        }
        if (noneKept) TakeSettled(listing, settled->entries);
        if (quietOnly) KeepQuietDates(listing, quietOnly->entries);
        {
            std::lock_guard lock(mutex_);
            if (!s_.addToExactIndexArray.empty()) AddToExactIndex(listing, folder, side);
        }
        platform::ItemAttributes directory;
        directory.type = platform::ItemType::Directory;
        mine.entries.reserve(listing.size());
        std::unordered_map<std::string_view, const run::SettledEntry*> scannedByName;
        if (scanned != nullptr) {
            scannedByName.reserve(scanned->entries.size());
            for (const run::SettledEntry& e : scanned->entries) scannedByName.emplace(e.name, &e);
        }
        for (const Entry& entry : listing) {
            bool isFolder =
                entry.settled ? entry.isFolder : entry.type == platform::ItemType::Directory;
            if (!entry.listed) {
                if (!ItExistsInSourceOrDest(platform::JoinPath(folder, entry.name), side,
                                            isFolder)) {
                    continue;
                }
            } else if (!entry.settled && isFolder &&
                       tw_.IsFilePackage(platform::JoinPath(folder, entry.name), directory)) {
                isFolder = false;
            }
            if (isFolder) {
                child(entry.name, !entry.listed);
                continue;
            }
            std::uint64_t now = 0;
            if (entry.listed) {
                const platform::StatResult stat = platform::StatAt(dir.fd(), entry.name);
                if (stat.ok()) now = ItemRecord(stat.attributes);
            }
            const auto seen = scannedByName.find(entry.name);
            const bool changedAfterScan =
                entry.listed && scanned != nullptr &&
                ChangedAfterScan(seen == scannedByName.end() ? nullptr : seen->second, folder,
                                 entry.name, side, now);
            mine.entries.push_back({EncodeIndexText(entry.name), nullptr,
                                    changedAfterScan && oldRecord_
                                        ? oldRecord_(platform::JoinPath(folder, entry.name), side)
                                        : Record(folder, entry.name, side, now)});
            if (entry.stamp) found.Add(folder, entry.name);
        }
    }

    // An item the run did not act on, that is not as the scan left it (changed after the scan,
    // or not seen by it as one in step): someone saved it while the run went on, or the user
    // skipped it in the preview. It keeps its record and backup date, so that the next run
    // finds it changed.
    // seen: the scan's entry of the item, if any.
    bool ChangedAfterScan(const run::SettledEntry* seen, const std::string& folder,
                          const std::string& name, int side, std::uint64_t now) {
        std::string path = platform::JoinPath(folder, name);
        if (done_.count(path) != 0) return false;
        if (seen != nullptr && (side == kSideA ? seen->aRecord : seen->bRecord) == now) {
            return false;
        }
        std::lock_guard lock(mutex_);
        Restore(std::move(path));
        return true;
    }

    // The record the index keeps of a file: as it is now, unless it keeps its last one.
    std::uint64_t Record(const std::string& folder, const std::string& name, int side,
                         std::uint64_t now) const {
        if (keepRecord_.empty()) return now;
        const std::string path = platform::JoinPath(folder, name);
        return InOrBelow(keepRecord_, path) && oldRecord_ ? oldRecord_(path, side) : now;
    }

    static bool InOrBelow(const std::unordered_set<std::string>& paths, const std::string& path) {
        for (std::string p = path; !p.empty(); p.resize(p.find_last_of('/'))) {
            if (paths.count(p) != 0) return true;
            if (p.find('/') == std::string::npos) break;
        }
        return false;
    }

    // The path of the same item on the task's other side; none for a path outside both.
    std::optional<std::string> OtherSide(const std::string& path) const {
        for (const auto& [mine, other] : {std::pair{&s_.gSourceFolder, &s_.gDestFolder},
                                          {&s_.gDestFolder, &s_.gSourceFolder}}) {
            if (const auto below = PathBelow(path, *mine); below && !below->empty()) {
                return *other + *below;
            }
        }
        return std::nullopt;
    }

    // What the scan kept of the folder when it found it settled.
    const run::SettledFolder* Settled(const std::string& folder, int side) const {
        const std::string& top = side == kSideA ? s_.gSourceFolder : s_.gDestFolder;
        const std::optional<std::string> below = PathBelow(folder, top);
        if (!below) return nullptr;
        const auto it = s_.settledFolders.find(*below);
        return it == s_.settledFolders.end() ? nullptr : &it->second;
    }

    // The folder has not changed since the scan listed it: same inode, same status-change
    // time, and that time a second or more before the run began, so that a change made during
    // the run (even within the file system's timestamp granularity) could not leave it as it was.
    bool Unchanged(const platform::FolderHandle& dir, int side,
                   const run::SettledFolder& settled) const {
        const platform::Timestamp& then = side == kSideA ? settled.aChanged : settled.bChanged;
        const ino_t inode = side == kSideA ? settled.aInode : settled.bInode;
        if (then.sec >= static_cast<std::int64_t>(s_.gStartSyncDateTime) - 1) return false;
        struct stat st {};
        if (platform::sys().fstat(dir.fd(), &st) != 0) return false;
        const platform::ItemAttributes now = platform::AttributesFromStat(st);
        return now.isDirectory() && now.ino == inode && now.ctime == then;
    }

    // No path kept in the index although gone from its side lies in the folder.
    bool NoneKeptIn(const std::string& folder) {
        std::lock_guard lock(mutex_);
        return std::none_of(
            s_.addToExactIndexArray.begin(), s_.addToExactIndexArray.end(),
            [&](const std::string& p) { return platform::ParentFolder(p) == folder; });
    }

    // When the folder holds now exactly the names, of the same kinds, that the scan found, the
    // listing takes the scan's folders and stamps; otherwise it stays as listed (and every file
    // of it is stamped).
    static void TakeSettled(std::vector<Entry>& listing,
                            const std::vector<run::SettledEntry>& settled) {
        if (listing.size() != settled.size()) return;
        std::vector<std::size_t> now(listing.size()), then(settled.size());
        for (std::size_t i = 0; i < now.size(); ++i) now[i] = then[i] = i;
        std::sort(now.begin(), now.end(),
                  [&](std::size_t x, std::size_t y) { return listing[x].name < listing[y].name; });
        std::sort(then.begin(), then.end(),
                  [&](std::size_t x, std::size_t y) { return settled[x].name < settled[y].name; });
        for (std::size_t i = 0; i < now.size(); ++i) {
            const Entry& e = listing[now[i]];
            const run::SettledEntry& k = settled[then[i]];
            if (e.name != k.name || e.type != k.type) return;
        }
        for (std::size_t i = 0; i < now.size(); ++i) {
            Entry& e = listing[now[i]];
            const run::SettledEntry& k = settled[then[i]];
            e.settled = true;
            e.isFolder = k.isFolder;
            e.stamp = k.stamp;
        }
    }

    // In a folder that was not settled, the files the scan found in step since the last exact
    // run keep their backup dates, as they would in a settled folder.
    static void KeepQuietDates(std::vector<Entry>& listing,
                               const std::vector<run::SettledEntry>& quiet) {
        std::unordered_map<std::string_view, platform::ItemType> kinds;
        kinds.reserve(quiet.size());
        for (const run::SettledEntry& q : quiet) {
            if (!q.stamp) kinds.emplace(q.name, q.type);
        }
        for (Entry& e : listing) {
            const auto it = kinds.find(e.name);
            if (it != kinds.end() && it->second == e.type) e.stamp = false;
        }
    }

    // The folder's names, each with its kind as the listing gives it; nothing when it cannot be
    // read to its end.
    static std::optional<std::vector<Entry>> List(const platform::FolderHandle& dir) {
        std::vector<platform::FolderEntry> names;
        if (platform::sys().readfolder(dir.fd(), names) != 0) return std::nullopt;
        std::vector<Entry> entries;
        entries.reserve(names.size());
        for (platform::FolderEntry& e : names) {
            platform::ItemType kind = platform::ItemType::Other;
            switch (e.type) {
                case DT_DIR:
                    kind = platform::ItemType::Directory;
                    break;
                case DT_REG:
                    kind = platform::ItemType::RegularFile;
                    break;
                case DT_LNK:
                    kind = platform::ItemType::SymbolicLink;
                    break;
                case DT_UNKNOWN: {
                    const platform::StatResult stat = platform::StatAt(dir.fd(), e.name);
                    if (stat.error == ENOENT) continue;
                    if (!stat.ok()) return std::nullopt;
                    kind = stat.attributes.type;
                    break;
                }
                default:
                    break;
            }
            // Files and packages carry a backup date; a link's target is not this pair's item,
            // and a FIFO, socket or device takes no user attribute (nor may its mode be opened
            // up to write one).
            const bool stampable =
                kind == platform::ItemType::RegularFile || kind == platform::ItemType::Directory;
            entries.push_back({std::move(e.name), true, kind, false, false, stampable});
        }
        return entries;
    }

    // The paths kept in the index although gone from their side, whose folder this is, join
    // the listing; their dates (and those of the other side's items) stay as they were.
    void AddToExactIndex(std::vector<Entry>& listing, const std::string& dir, int /*side*/) {
        std::vector<std::string>& pending = s_.addToExactIndexArray;
        for (std::size_t k = pending.size(); k-- > 0;) {
            if (platform::ParentFolder(pending[k]) != dir) continue;
            listing.push_back({platform::LastPathComponent(pending[k]), false});
            Restore(pending[k]);
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(k));
        }
    }

    // A folder kept in the index although gone from this side holds only what was kept with
    // it: the pending paths below it, each while its other side's item is still there. Without
    // them the next run would find the folder's items new on the other side, and the folder
    // could no longer be deleted whole.
    void KeptBelow(const std::string& folder, plist::NameTree& tree, int side) {
        std::vector<Entry> kept;
        {
            std::lock_guard lock(mutex_);
            AddToExactIndex(kept, folder, side);
        }
        for (const Entry& entry : kept) {
            const std::string path = platform::JoinPath(folder, entry.name);
            bool isFolder = false;
            if (!ItExistsInSourceOrDest(path, side, isFolder)) continue;
            std::unique_ptr<plist::NameTree> below;
            if (isFolder) {
                below = std::make_unique<plist::NameTree>();
                KeptBelow(path, *below, side);
            }
            const std::uint64_t record = isFolder ? 0 : Record(folder, entry.name, side, 0);
            tree.entries.push_back({EncodeIndexText(entry.name), std::move(below), record});
        }
    }

    bool ItExistsInSourceOrDest(const std::string& path, int side, bool& isDir) {
        platform::ItemAttributes here = platform::ReadItemAttributes(path.c_str());
        if (here.exists()) {
            isDir = here.isDirectory() && !tw_.IsFilePackage(path, here);
            return true;
        }
        const std::string& mine = side == kSideA ? s_.gSourceFolder : s_.gDestFolder;
        const std::string& other = side == kSideA ? s_.gDestFolder : s_.gSourceFolder;
        const auto pathParts = PathComponents(path);
        const auto mineParts = PathComponents(mine);
        if (pathParts.size() < mineParts.size()) return false;
        std::string mapped = other;
        for (std::size_t i = mineParts.size(); i < pathParts.size(); ++i) {
            mapped = platform::JoinPath(mapped, std::string(pathParts[i]));
        }
        const platform::ItemAttributes there = platform::ReadItemAttributes(mapped.c_str());
        if (!there.exists()) return false;
        isDir = there.isDirectory() && !tw_.IsFilePackage(mapped, there);
        std::lock_guard lock(mutex_);
        Restore(std::move(mapped));
        return true;
    }

    void Restore(std::string path) {
        restore_.insert(path);
        s_.restoreBackupDateArray.push_back(std::move(path));
    }

    // The path, or a folder on its way (one side of a conflict left as it was: nothing in it
    // was brought into step either), keeps its date.
    bool Exempt(const std::string& path) const {
        if (!s_.restoreBackupDateArray.empty()) return InOrBelow(restore_, path);
        for (const std::string& p : s_.addToExactIndexArray) {
            if (p == path) return true;
        }
        return false;
    }

    // Stamps the side's files, each through its folder's handle; those that keep their date
    // (exempt, or the stamp failed) are added to kept.
    void StampAll(const Side& side, std::vector<std::string>& kept) const {
        const std::string value = std::to_string(s_.gStartSyncDateTimeUTC);
        const std::string& topPath = side.top.path();
        for (const FolderFiles& group : side.files) {
            const std::optional<std::string> below = PathBelow(group.folder, topPath);
            platform::FolderHandle dir =
                below ? side.top.OpenBelow(*below) : platform::FolderHandle{};
            for (const std::string& name : group.names) {
                std::string path = platform::JoinPath(group.folder, name);
                if (Exempt(path)) {
                    kept.push_back(std::move(path));
                    continue;
                }
                if (!dir.valid()) {
                    kept.push_back(std::move(path));
                    continue;
                }
                if (platform::sys().setxattrat(dir.fd(), name.c_str(), fileops::kBackupDateXattr,
                                               value.data(), value.size(), 0) == 0) {
                    continue;
                }
                // A file system without user attributes keeps no backup dates (a volume
                // mounted inside the tree may be one; the others still take theirs). A file
                // gone since has no date to keep.
                if (errno == ENOTSUP || errno == ENOENT) continue;
                // A locked or read-only item is relaxed for the write.
                if ((errno == EPERM || errno == EACCES) &&
                    tw_.SetBackupDateDitto(path, s_.gStartSyncDateTimeUTC)) {
                    continue;
                }
                kept.push_back(std::move(path));
            }
        }
    }

    run::RunState& s_;
    const fileops::TWUtilities& tw_;
    std::mutex mutex_;  // guards the two lists while both sides are walked
    std::unordered_set<std::string> restore_;
    OldRecord oldRecord_;
    std::unordered_set<std::string> keepRecord_;  // written before the walks, then only read
    std::unordered_set<std::string> done_;        // the items the run's copy acted on
    std::string failedFolder_;
};

}  // namespace

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
    if (load) DropTrees();
    if (load && task.mayChangeFiles) ReplayJournal(task.source, task.dest);
    if (load) {
        leftConflicts_.clear();
        const plist::ReadResult left = plist::ReadFile(LeftConflictsPath(task.source, task.dest));
        if (left.value && left.value->isArray()) {
            for (const plist::Value& p : left.value->array()) {
                if (p.isString()) leftConflicts_.insert(p.str());
            }
        }
    }
    lastExactSyncDate_.reset();
    loadProblem_.clear();
    changedTopSide_ = -1;
    const std::string mainPath = MainIndexPath();
    const plist::ReadResult main = plist::ReadFile(mainPath);
    if (!main.value) {
        if (main.failure != plist::ReadFailure::Missing) {
            loadProblem_ = "\"" + mainPath + "\": " + main.reason;
        }
        return false;
    }
    const plist::Value* version = main.value->find("fileVersion");
    if (version == nullptr || !version->isInteger() ||
        version->intValue() > kExactSyncIndexVersion) {
        loadProblem_ = "\"" + mainPath + "\": unknown format version";
        return false;
    }
    const plist::Value* list = main.value->arrayAt("indexFilesList");
    if (list == nullptr || list->array().empty()) return false;

    const std::string source = EncodeIndexText(task.source);
    const std::string dest = EncodeIndexText(task.dest);
    plist::BinaryView pair;
    bool found = false;
    std::string pairPath;
    std::size_t entryIndex = 0;
    int match = 0;
    double pairVersion = 0;
    for (std::size_t i = 0; i < list->array().size() && !found; ++i) {
        const plist::Value& entry = list->array()[i];
        if (!entry.isDict() || Match(entry, source, dest) == 0) continue;
        const plist::Value* name = TextAt(entry, "indexFileName");
        if (name == nullptr || !IsPlainName(name->str())) continue;
        const std::string path = platform::JoinPath(folder_, name->str());
        std::string reason;
        if (!OpenPairFile(path, pair, &reason)) {
            loadProblem_ = "\"" + path + "\": " + reason;
            continue;
        }
        const auto versionObject = pair.Find(pair.root(), "fileVersion");
        std::optional<double> fileVersion;
        if (versionObject) {
            if (auto i = pair.Integer(*versionObject)) fileVersion = static_cast<double>(*i);
            if (auto r = pair.Number(*versionObject); r && !pair.Date(*versionObject)) {
                fileVersion = *r;
            }
        }
        if (!fileVersion || *fileVersion >= static_cast<double>(kExactSyncIndexVersion + 1)) {
            loadProblem_ = "\"" + path + "\": unknown format version";
            continue;
        }
        match = Match(pair, source, dest);
        if (match == 0) {
            loadProblem_ = "\"" + path + "\": made for other folders";
            continue;
        }
        found = true;
        pairPath = path;
        entryIndex = i;
        pairVersion = *fileVersion;
    }
    if (!found) return false;
    loadProblem_.clear();
    if (const auto date = pair.Find(pair.root(), "lastExactSyncDate")) {
        if (const auto seconds = pair.Date(*date)) lastExactSyncDate_ = *seconds;
    }
    if (!load) return true;

    if (!task.isExactSync) {
        // The pair is no longer kept in step exactly: its index would only mislead a later run.
        if (task.mayChangeFiles) {
            platform::sys().unlink(pairPath.c_str());
            plist::Value updated = *main.value;
            plist::Array& entries = updated.arrayAt("indexFilesList")->array();
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(entryIndex));
            plist::WriteBinaryFile(mainPath, updated, kOwnFile);
        }
        return false;
    }

    loaded_ = std::move(pair);
    const std::string srcName = EncodeIndexText(platform::LastPathComponent(task.source));
    const std::string dstName = EncodeIndexText(platform::LastPathComponent(task.dest));
    const auto treeSource = loaded_.Find(loaded_.root(), match == 1 ? "treeSource" : "treeDest");
    const auto treeDest = loaded_.Find(loaded_.root(), match == 1 ? "treeDest" : "treeSource");
    const auto src = treeSource ? loaded_.Find(*treeSource, srcName) : std::nullopt;
    const auto dst = treeDest ? loaded_.Find(*treeDest, dstName) : std::nullopt;
    const auto bail = [&](const char* why) {
        loadProblem_ = "\"" + pairPath + "\": " + why;
        DropTrees();
        return false;
    };
    if (!src || !dst) return bail("no tree for the folders");
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
    keepsRecords_ = pairVersion >= static_cast<double>(kFirstVersionWithRecords);
    loadedSource_ = task.source;
    loadedDest_ = task.dest;
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
    gExactSyncShiftPathSrc = PathComponents(task.source).size();
    gExactSyncShiftPathDst = PathComponents(task.dest).size();
    return true;
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

bool ExactSyncIndexStore::Report(fileops::ErrorPath& errors, const std::string& sentence,
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

void ExactSyncIndexStore::ForgetDeletedItems(const std::string& sourceFolder,
                                             const std::string& destFolder,
                                             const std::vector<std::string>& deleted,
                                             const std::vector<std::string>& done) {
    std::vector<std::string> below;
    for (const std::string& path : deleted) {
        std::optional<std::string> p = PathBelow(path, sourceFolder);
        if (!p) p = PathBelow(path, destFolder);
        if (p && !p->empty()) below.push_back(std::move(*p));
    }
    if (below.empty() && done.empty()) return;
    const plist::ReadResult read = plist::ReadFile(MainIndexPath());
    if (!read.value || !read.value->isDict()) return;
    const std::ptrdiff_t entry =
        FindEntry(*read.value, EncodeIndexText(sourceFolder), EncodeIndexText(destFolder));
    if (entry < 0) return;
    const std::string pairPath =
        platform::JoinPath(folder_, read.value->arrayAt("indexFilesList")
                                        ->array()[static_cast<std::size_t>(entry)]
                                        .stringAt("indexFileName"));

    plist::ReadResult pairRead = plist::ReadFile(pairPath);
    bool corrected = pairRead.value && pairRead.value->isDict();
    if (corrected) {
        plist::Value& pair = *pairRead.value;
        // Each tree holds one folder, the top folder of its side; the item goes on both sides.
        for (const char* key : {"treeSource", "treeDest"}) {
            plist::Value* tree = pair.find(key);
            if (tree == nullptr || !tree->isDict() || tree->dict().size() != 1 ||
                !tree->dict().begin()->second.isDict()) {
                corrected = false;
                break;
            }
            for (const std::string& path : below) {
                plist::Value* folder = &tree->dict().begin()->second;
                // Below the top folder: "/x/y" names x, then y.
                const std::vector<std::string_view> parts =
                    PathComponents(std::string_view(path).substr(1));
                for (std::size_t i = 0; folder != nullptr && i + 1 < parts.size(); ++i) {
                    folder = folder->find(EncodeIndexText(std::string(parts[i])));
                    if (folder != nullptr && !folder->isDict()) folder = nullptr;
                }
                if (folder != nullptr && !parts.empty()) {
                    folder->remove(EncodeIndexText(std::string(parts.back())));
                }
            }
        }
        // What the run did bring into step is recorded as it is now, each item on its side
        // (the pair's trees may be stored the other way round).
        const plist::Value* version = pair.find("fileVersion");
        const bool records = version != nullptr && version->isNumber() &&
                             version->intValue() >= kFirstVersionWithRecords;
        const bool swapped = pair.stringAt("absolutePathSource") != EncodeIndexText(sourceFolder);
        for (const std::string& path : corrected&& records ? done : std::vector<std::string>{}) {
            const bool inA = PathBelow(path, sourceFolder).has_value();
            const std::optional<std::string> below =
                PathBelow(path, inA ? sourceFolder : destFolder);
            if (!below || below->empty()) continue;
            plist::Value* tree = pair.find(inA != swapped ? "treeSource" : "treeDest");
            plist::Value* folder = &tree->dict().begin()->second;
            const std::vector<std::string_view> parts =
                PathComponents(std::string_view(*below).substr(1));
            for (std::size_t i = 0; folder != nullptr && i + 1 < parts.size(); ++i) {
                const std::string name = EncodeIndexText(std::string(parts[i]));
                if (plist::Value* next = folder->find(name); next == nullptr || !next->isDict()) {
                    folder->set(name, plist::Dict{});
                }
                folder = folder->find(name);
            }
            if (folder == nullptr || parts.empty()) continue;
            const std::string name = EncodeIndexText(std::string(parts.back()));
            const platform::ItemAttributes now = platform::ReadItemAttributes(path.c_str());
            if (!now.exists()) {
                folder->remove(name);
            } else if (now.isDirectory()) {
                if (const plist::Value* old = folder->find(name);
                    old == nullptr || !old->isDict()) {
                    folder->set(name, plist::Dict{});
                }
            } else {
                folder->set(name, plist::Value(static_cast<std::int64_t>(ItemRecord(now))));
            }
        }
        corrected = corrected && plist::WriteBinaryFile(pairPath, pair, kOwnFile).ok;
    }
    if (!corrected) DropPair(sourceFolder, destFolder);
}

void ExactSyncIndexStore::DropPair(const std::string& sourceFolder, const std::string& destFolder) {
    const std::string mainPath = MainIndexPath();
    plist::ReadResult read = plist::ReadFile(mainPath);
    if (!read.value || !read.value->isDict()) return;
    plist::Value mainIndex = std::move(*read.value);
    const std::ptrdiff_t entry =
        FindEntry(mainIndex, EncodeIndexText(sourceFolder), EncodeIndexText(destFolder));
    if (entry < 0) return;
    plist::Array& entries = mainIndex.arrayAt("indexFilesList")->array();
    const std::string pairPath = platform::JoinPath(
        folder_, entries[static_cast<std::size_t>(entry)].stringAt("indexFileName"));
    platform::sys().unlink(pairPath.c_str());
    entries.erase(entries.begin() + entry);
    plist::WriteBinaryFile(mainPath, mainIndex, kOwnFile);
}

namespace {

// A file of the index folder for a pair, whichever way round its folders are given.
std::string PairRecordName(const char* prefix, const std::string& sourceFolder,
                           const std::string& destFolder) {
    const bool ordered = sourceFolder <= destFolder;
    const std::string key =
        (ordered ? sourceFolder : destFolder) + '\0' + (ordered ? destFolder : sourceFolder);
    return std::string(prefix) + platform::Sha256Hex(key).substr(0, 16) + ".plist";
}

}  // namespace

std::string ExactSyncIndexStore::JournalPath(const std::string& sourceFolder,
                                             const std::string& destFolder) const {
    return platform::JoinPath(folder_, PairRecordName(kJournalPrefix, sourceFolder, destFolder));
}

std::string ExactSyncIndexStore::LeftConflictsPath(const std::string& sourceFolder,
                                                   const std::string& destFolder) const {
    return platform::JoinPath(folder_,
                              PairRecordName(kLeftConflictsPrefix, sourceFolder, destFolder));
}

void ExactSyncIndexStore::KeepLeftConflicts(const std::string& sourceFolder,
                                            const std::string& destFolder,
                                            const std::vector<std::string>& paths) {
    const std::string path = LeftConflictsPath(sourceFolder, destFolder);
    if (paths.empty()) {
        platform::sys().unlink(path.c_str());
        return;
    }
    plist::Array list;
    for (const std::string& p : paths) list.push_back(EncodeIndexText(p));
    if (!platform::IsExistingFolder(folder_)) platform::CreateFolderWithFoldersInBetween(folder_);
    // Without the record, the backup dates the conflicts' sides were given still find them
    // again (all but links): the failure is told, and the run goes on.
    const platform::WriteResult written =
        plist::WriteBinaryFile(path, plist::Value(std::move(list)), kOwnFile);
    if (!written.ok) {
        platform::SystemLog("Can't record the conflicts left as they were in \"" + path +
                            "\": " + written.reason);
    }
}

void ExactSyncIndexStore::JournalDeletions(const std::string& sourceFolder,
                                           const std::string& destFolder,
                                           const std::vector<PlannedDeletion>& deleting) {
    if (deleting.empty()) return;
    // Only a pair with an index deletes on an index's word.
    const plist::ReadResult main = plist::ReadFile(MainIndexPath());
    if (!main.value || !main.value->isDict() ||
        FindEntry(*main.value, EncodeIndexText(sourceFolder), EncodeIndexText(destFolder)) < 0) {
        return;
    }
    plist::Value record = plist::Dict{};
    record.set("absolutePathSource", EncodeIndexText(sourceFolder));
    record.set("absolutePathDest", EncodeIndexText(destFolder));
    plist::Array& items = record.set("deleting", plist::Array{}).array();
    items.reserve(deleting.size());
    for (const PlannedDeletion& d : deleting) {
        items.emplace_back(plist::Dict{
            {"path", plist::Value(EncodeIndexText(d.path))},
            {"ino", plist::Value(static_cast<std::int64_t>(d.seen.ino))},
            {"size", plist::Value(static_cast<std::int64_t>(d.seen.size))},
            {"mtime", plist::Value(d.seen.mtimeSec)},
            {"mtimeNsec", plist::Value(static_cast<std::int64_t>(d.seen.mtimeNsec))},
            {"type", plist::Value(static_cast<std::int64_t>(d.seen.type))},
        });
    }
    if (!plist::WriteBinaryFile(JournalPath(sourceFolder, destFolder), record, kOwnFile).ok) {
        // Without the record, an end of the process during the deletions would leave an index
        // that deletes again what is saved anew at their paths.
        platform::SystemLog("Can't record the deletions of the Exact Sync index of \"" +
                            sourceFolder + "\" and \"" + destFolder + "\": the index is dropped");
        DropPair(sourceFolder, destFolder);
    }
}

void ExactSyncIndexStore::ClearJournal(const std::string& sourceFolder,
                                       const std::string& destFolder) {
    platform::sys().unlink(JournalPath(sourceFolder, destFolder).c_str());
}

namespace {

// The item at path is still the one the scan saw when the run planned its deletion.
bool StillAsSeen(const std::string& path, const plist::Value& record) {
    const std::int64_t ino = record.intAt("ino");
    if (ino == 0) return false;
    const platform::ItemAttributes now = platform::ReadItemAttributes(path.c_str());
    if (!now.exists() || static_cast<std::int64_t>(now.ino) != ino ||
        static_cast<std::int64_t>(now.type) != record.intAt("type")) {
        return false;
    }
    return now.isDirectory() ||
           (static_cast<std::int64_t>(now.size) == record.intAt("size") &&
            now.mtime.sec == record.intAt("mtime") && now.mtime.nsec == record.intAt("mtimeNsec"));
}

}  // namespace

void ExactSyncIndexStore::ReplayJournal(const std::string& sourceFolder,
                                        const std::string& destFolder) {
    const std::string path = JournalPath(sourceFolder, destFolder);
    const plist::ReadResult read = plist::ReadFile(path);
    if (read.failure == plist::ReadFailure::Missing) return;
    const plist::Value* source = read.value ? TextAt(*read.value, "absolutePathSource") : nullptr;
    const plist::Value* dest = read.value ? TextAt(*read.value, "absolutePathDest") : nullptr;
    const plist::Value* items = read.value ? read.value->arrayAt("deleting") : nullptr;
    std::optional<std::string> from = source ? DecodeIndexText(source->str()) : std::nullopt;
    std::optional<std::string> to = dest ? DecodeIndexText(dest->str()) : std::nullopt;
    if (!from || !to || items == nullptr) {
        // A record that cannot be read tells nothing of what was deleted: the index goes.
        DropPair(sourceFolder, destFolder);
    } else {
        // What the run deleted, or what changed since its scan (saved anew), is forgotten;
        // an item it did not reach stays, and its deletion is proposed again.
        std::vector<std::string> forget;
        for (const plist::Value& item : items->array()) {
            const plist::Value* text = item.isDict() ? TextAt(item, "path") : nullptr;
            std::optional<std::string> p = text ? DecodeIndexText(text->str()) : std::nullopt;
            if (p && !StillAsSeen(*p, item)) forget.push_back(std::move(*p));
        }
        ForgetDeletedItems(*from, *to, forget);
    }
    platform::sys().unlink(path.c_str());
}

bool ExactSyncIndexStore::WriteExactSyncIndex(int mode, fileops::ErrorPath& errors,
                                              const fileops::TWUtilities& tw) {
    run::RunState& s = errors.state();
    const std::string mainPath = MainIndexPath();
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
            return Report(errors, GLS("Can't update the ExactSync MainIndex File"), mainPath, false,
                          false);
        }
    }

    const std::string source = EncodeIndexText(s.gSourceFolder);
    const std::string dest = EncodeIndexText(s.gDestFolder);
    std::string pairPath;
    if (const std::ptrdiff_t i = FindEntry(mainIndex, source, dest); i >= 0) {
        const plist::Value& entry = mainIndex.arrayAt("indexFilesList")->array()[std::size_t(i)];
        pairPath = platform::JoinPath(folder_, entry.stringAt("indexFileName"));
        if (mode == 1 && platform::ItemExists(pairPath)) return false;
    } else {
        const std::string firstCandidate = platform::JoinPath(folder_, kExactSyncPairIndexName);
        pairPath = firstCandidate;
        if (!tw.FindUniqueNameInFolder(pairPath)) {
            return Report(errors, GLS("Can't find an unique name for the ExactSync Index File"),
                          firstCandidate, false, true);
        }
        plist::Value entry = plist::Dict{};
        entry.set("absolutePathSource", source);
        entry.set("absolutePathDest", dest);
        entry.set("indexFileName", platform::LastPathComponent(pairPath));
        mainIndex.arrayAt("indexFilesList")->array().push_back(std::move(entry));
        if (!plist::WriteBinaryFile(mainPath, mainIndex, kOwnFile).ok) {
            return Report(errors, GLS("Can't update the ExactSync MainIndex File"), mainPath, false,
                          false);
        }
    }

    errors.proxy().DisplayExactSyncToConsole();
    plist::Value pair = plist::Dict{};
    pair.set("fileVersion", kExactSyncIndexVersion);
    pair.set("absolutePathSource", source);
    pair.set("absolutePathDest", dest);
    pair.set("lastExactSyncDate", plist::Date{s.gStartSyncDateTime});
    pair.set(kSourceIdentityKey, FolderIdentity(s.gSourceFolder));
    pair.set(kDestIdentityKey, FolderIdentity(s.gDestFolder));
    plist::NameTree treeSource, treeDest;
    plist::Array kept;
    // The records some items keep come from this pair's current index.
    const bool someKeepRecords =
        !s.restoreBackupDateArray.empty() || !s.addToExactIndexArray.empty();
    if (someKeepRecords && !(loadedSource_ == s.gSourceFolder && loadedDest_ == s.gDestFolder)) {
        ExactSyncFileExists({s.gSourceFolder, s.gDestFolder, true, false}, true);
    }
    IndexBuilder builder(
        s, tw, [this](const std::string& path, int side) { return RecordAt(path, side); });
    const std::optional<std::vector<std::string>> left = builder.Build(treeSource, treeDest);
    if (!left) {
        // A folder that could not be read would leave its items out of the index, and a later
        // run would take them for new: the pair's previous index stays as it was.
        errors.SetErrMsg({GLS("Can't read the item"), " ", run::Quoted(builder.FailedFolder())});
        errors.LogAndCountError();
        errors.ManageTheError(s.mErrString, 0);
        return false;
    }
    for (const std::string& path : *left) kept.push_back(EncodeIndexText(path));
    if (!kept.empty()) pair.set(kKeptBackupDatesKey, std::move(kept));
    plist::Array skipped;
    for (const std::string& path : s.skippedConflictArray) {
        skipped.push_back(EncodeIndexText(path));
    }
    if (!skipped.empty()) pair.set(kSkippedConflictsKey, std::move(skipped));
    s.skippedConflictArray.clear();

    s.restoreBackupDateArray.clear();
    s.addToExactIndexArray.clear();
    s.doneItemArray.clear();
    s.settledFolders.clear();
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
