#include "engine/exact_sync_index_builder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <mutex>
#include <thread>
#include <unordered_set>

#include "engine/exact_sync_index_store.h"
#include "platform/file_system.h"
#include "platform/folder_handle.h"

namespace qv::engine {

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

namespace {

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

    IndexBuilder(run::RunState& state, const items::TWUtilities& tw, OldRecord oldRecord)
        : s_(state), tw_(tw), oldRecord_(std::move(oldRecord)) {
        restore_.insert(s_.task.restoreBackupDateArray.begin(),
                        s_.task.restoreBackupDateArray.end());
        // An item whose backup date stays as it was keeps its record too: the next run must
        // still see it changed since the last run it was in step at. These are the sides of a
        // conflict, and the paths kept although gone with their other side's item.
        keepRecord_ = restore_;
        done_.insert(s_.task.doneItemArray.begin(), s_.task.doneItemArray.end());
        for (const std::string& gone : s_.task.addToExactIndexArray) {
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
        a.top = platform::FolderHandle::OpenTaskTop(s_.task.gSourceFolder);
        b.top = platform::FolderHandle::OpenTaskTop(s_.task.gDestFolder);
        if (!a.top.valid() || !b.top.valid()) {
            a.failed = a.top.valid() ? std::string() : s_.task.gSourceFolder;
            b.failed = b.top.valid() ? std::string() : s_.task.gDestFolder;
            return Failed(a, b);
        }
        std::thread other([&] {
            MakeExactSyncIndex(a.top, s_.task.gSourceFolder, treeSource, kSideA, a,
                               s_.task.gSourceFileName);
        });
        MakeExactSyncIndex(b.top, s_.task.gDestFolder, treeDest, kSideB, b, s_.task.gDestFileName);
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

    // A folder being indexed: open as dir, at path folder on its side. Its names go into tree,
    // its files to stamp and any folder that could not be read into found.
    struct Walk {
        const platform::FolderHandle& dir;
        const std::string& folder;
        int side;
        plist::NameTree& tree;
        Side& found;
    };

    // Build's answer when a folder of either side could not be read.
    std::nullopt_t Failed(const Side& a, const Side& b) {
        failedFolder_ = a.failed.empty() ? b.failed : a.failed;
        return std::nullopt;
    }

    // Walks the folder open as dir (folder: its path, for the index's names and the run's
    // lists), reaching sub-folders only through handles, never a link.
    // only: in a task between two files, the one file of the folder that belongs to it.
    void MakeExactSyncIndex(const platform::FolderHandle& dir, const std::string& folder,
                            plist::NameTree& parent, int side, Side& found,
                            const std::string& only = {}) {
        if (!found.failed.empty()) return;
        parent.entries.push_back({EncodeIndexText(platform::LastPathComponent(folder)),
                                  std::make_unique<plist::NameTree>()});
        const Walk walk{dir, folder, side, *parent.entries.back().folder, found};
        const run::SettledFolder* scanned = Settled(folder, side);
        const run::SettledFolder* settled = scanned && scanned->complete ? scanned : nullptr;
        const run::SettledFolder* quietOnly = scanned && !scanned->complete ? scanned : nullptr;
        const bool noneKept = settled != nullptr && NoneKeptIn(folder);
        if (noneKept && Unchanged(dir, side, *settled)) {
            IndexAsScanned(walk, *settled);
            return;
        }
        std::optional<std::vector<Entry>> listing =
            ListToIndex(walk, only, noneKept ? settled : nullptr, quietOnly);
        if (!listing) {
            found.failed = folder;
            return;
        }
        IndexListing(walk, *listing, scanned);
    }

    // The sub-folder name of the walk's folder, walked in turn. kept: the folder stays in the
    // index although gone from this side.
    void IndexChild(const Walk& walk, const std::string& name, bool kept = false) {
        int error = 0;
        platform::FolderHandle sub = walk.dir.OpenChild(name, &error);
        if (!sub.valid()) {
            // Gone since: nothing to index. Anything else is a folder not read.
            if (error != ENOENT) walk.found.failed = platform::JoinPath(walk.folder, name);
            if (kept) {
                auto below = std::make_unique<plist::NameTree>();
                KeptBelow(platform::JoinPath(walk.folder, name), *below, walk.side);
                walk.tree.entries.push_back({EncodeIndexText(name), std::move(below)});
            }
            return;
        }
        MakeExactSyncIndex(sub, platform::JoinPath(walk.folder, name), walk.tree, walk.side,
                           walk.found);
    }

    // A folder unchanged since the scan found it settled is indexed from the scan's entries,
    // without listing it again.
    void IndexAsScanned(const Walk& walk, const run::SettledFolder& settled) {
        walk.tree.entries.reserve(settled.entries.size());
        for (const run::SettledEntry& e : settled.entries) {
            if (e.isFolder) {
                IndexChild(walk, e.name);
                continue;
            }
            walk.tree.entries.push_back({EncodeIndexText(e.name), nullptr,
                                         Record(walk.folder, e.name, walk.side,
                                                walk.side == kSideA ? e.aRecord : e.bRecord)});
            if (e.stamp) walk.found.Add(walk.folder, e.name);
        }
    }

    // The folder's entries to index: as listed now (only the one file, when only is given),
    // with what the scan knew of them (settled: the scan's settled folder when no kept path lies
    // in it; quietOnly: its entries of a folder it did not find settled), and the paths kept in
    // the index although gone from this side. Nothing when the folder cannot be read.
    std::optional<std::vector<Entry>> ListToIndex(const Walk& walk, const std::string& only,
                                                  const run::SettledFolder* settled,
                                                  const run::SettledFolder* quietOnly) {
        std::optional<std::vector<Entry>> listed = List(walk.dir);
        if (!listed) return std::nullopt;
        std::vector<Entry>& listing = *listed;
        if (!only.empty()) {
            std::erase_if(listing, [&only](const Entry& e) { return e.name != only; });
        }
        if (settled) TakeSettled(listing, settled->entries);
        if (quietOnly) KeepQuietDates(listing, quietOnly->entries);
        {
            std::lock_guard lock(mutex_);
            if (!s_.task.addToExactIndexArray.empty()) {
                AddToExactIndex(listing, walk.folder, walk.side);
            }
        }
        return listed;
    }

    // Each entry of the listing goes into the index: a folder walked, a file with its record
    // (scanned: what the scan kept of the folder, if anything).
    void IndexListing(const Walk& walk, const std::vector<Entry>& listing,
                      const run::SettledFolder* scanned) {
        platform::ItemAttributes directory;
        directory.type = platform::ItemType::Directory;
        walk.tree.entries.reserve(listing.size());
        std::unordered_map<std::string_view, const run::SettledEntry*> scannedByName;
        if (scanned != nullptr) {
            scannedByName.reserve(scanned->entries.size());
            for (const run::SettledEntry& e : scanned->entries) scannedByName.emplace(e.name, &e);
        }
        for (const Entry& entry : listing) {
            const std::string path = platform::JoinPath(walk.folder, entry.name);
            bool isFolder =
                entry.settled ? entry.isFolder : entry.type == platform::ItemType::Directory;
            if (!entry.listed) {
                if (!ItExistsInSourceOrDest(path, walk.side, isFolder)) continue;
            } else if (!entry.settled && isFolder && tw_.IsFilePackage(path, directory)) {
                isFolder = false;
            }
            if (isFolder) {
                IndexChild(walk, entry.name, !entry.listed);
                continue;
            }
            const auto seen = scannedByName.find(entry.name);
            const run::SettledEntry* seenEntry =
                seen == scannedByName.end() ? nullptr : seen->second;
            walk.tree.entries.push_back({EncodeIndexText(entry.name), nullptr,
                                         ListedRecord(walk, entry, scanned != nullptr, seenEntry)});
            if (entry.stamp) walk.found.Add(walk.folder, entry.name);
        }
    }

    // The record a listed file gets in the index: as it is now, unless it keeps its last one
    // (changed after the scan; scanned: the scan kept its folder, seen: the scan's entry of it).
    std::uint64_t ListedRecord(const Walk& walk, const Entry& entry, bool scanned,
                               const run::SettledEntry* seen) {
        std::uint64_t now = 0;
        if (entry.listed) {
            const platform::StatResult stat = platform::StatAt(walk.dir.fd(), entry.name);
            if (stat.ok()) now = ItemRecord(stat.attributes);
        }
        const bool changedAfterScan =
            entry.listed && scanned &&
            ChangedAfterScan(seen, walk.folder, entry.name, walk.side, now);
        return changedAfterScan && oldRecord_
                   ? oldRecord_(platform::JoinPath(walk.folder, entry.name), walk.side)
                   : Record(walk.folder, entry.name, walk.side, now);
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
        for (const auto& [mine, other] : {std::pair{&s_.task.gSourceFolder, &s_.task.gDestFolder},
                                          {&s_.task.gDestFolder, &s_.task.gSourceFolder}}) {
            if (const auto below = PathBelow(path, *mine); below && !below->empty()) {
                return *other + *below;
            }
        }
        return std::nullopt;
    }

    // What the scan kept of the folder when it found it settled.
    const run::SettledFolder* Settled(const std::string& folder, int side) const {
        const std::string& top = side == kSideA ? s_.task.gSourceFolder : s_.task.gDestFolder;
        const std::optional<std::string> below = PathBelow(folder, top);
        if (!below) return nullptr;
        const auto it = s_.task.settledFolders.find(*below);
        return it == s_.task.settledFolders.end() ? nullptr : &it->second;
    }

    // The folder has not changed since the scan listed it: same inode, same status-change
    // time, and that time a second or more before the run began, so that a change made during
    // the run (even within the file system's timestamp granularity) could not leave it as it was.
    bool Unchanged(const platform::FolderHandle& dir, int side,
                   const run::SettledFolder& settled) const {
        const platform::Timestamp& then = side == kSideA ? settled.aChanged : settled.bChanged;
        const ino_t inode = side == kSideA ? settled.aInode : settled.bInode;
        if (then.sec >= static_cast<std::int64_t>(s_.totals.gStartSyncDateTime) - 1) return false;
        struct stat st {};
        if (platform::sys().fstat(dir.fd(), &st) != 0) return false;
        const platform::ItemAttributes now = platform::AttributesFromStat(st);
        return now.isDirectory() && now.ino == inode && now.ctime == then;
    }

    // No path kept in the index although gone from its side lies in the folder.
    bool NoneKeptIn(const std::string& folder) {
        std::lock_guard lock(mutex_);
        return std::none_of(
            s_.task.addToExactIndexArray.begin(), s_.task.addToExactIndexArray.end(),
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
        std::vector<std::string>& pending = s_.task.addToExactIndexArray;
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
        const std::string& mine = side == kSideA ? s_.task.gSourceFolder : s_.task.gDestFolder;
        const std::string& other = side == kSideA ? s_.task.gDestFolder : s_.task.gSourceFolder;
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
        s_.task.restoreBackupDateArray.push_back(std::move(path));
    }

    // The path, or a folder on its way (one side of a conflict left as it was: nothing in it
    // was brought into step either), keeps its date.
    bool Exempt(const std::string& path) const {
        if (!s_.task.restoreBackupDateArray.empty()) return InOrBelow(restore_, path);
        for (const std::string& p : s_.task.addToExactIndexArray) {
            if (p == path) return true;
        }
        return false;
    }

    // Stamps the side's files, each through its folder's handle; those that keep their date
    // (exempt, or the stamp failed) are added to kept.
    void StampAll(const Side& side, std::vector<std::string>& kept) const {
        const std::string value = std::to_string(s_.totals.gStartSyncDateTimeUTC);
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
                if (platform::sys().setxattrat(dir.fd(), name.c_str(), items::kBackupDateXattr,
                                               value.data(), value.size(), 0) == 0) {
                    continue;
                }
                // A file system without user attributes keeps no backup dates (a volume
                // mounted inside the tree may be one; the others still take theirs). A file
                // gone since has no date to keep.
                if (errno == ENOTSUP || errno == ENOENT) continue;
                // A locked or read-only item is relaxed for the write.
                if ((errno == EPERM || errno == EACCES) &&
                    tw_.SetBackupDateDitto(path, s_.totals.gStartSyncDateTimeUTC)) {
                    continue;
                }
                kept.push_back(std::move(path));
            }
        }
    }

    run::RunState& s_;
    const items::TWUtilities& tw_;
    std::mutex mutex_;  // guards the two lists while both sides are walked
    std::unordered_set<std::string> restore_;
    OldRecord oldRecord_;
    std::unordered_set<std::string> keepRecord_;  // written before the walks, then only read
    std::unordered_set<std::string> done_;        // the items the run's copy acted on
    std::string failedFolder_;
};

}  // namespace

IndexBuild BuildIndexTrees(run::RunState& state, const items::TWUtilities& tw, OldRecord oldRecord,
                           plist::NameTree& treeSource, plist::NameTree& treeDest) {
    IndexBuilder builder(state, tw, std::move(oldRecord));
    IndexBuild built;
    built.kept = builder.Build(treeSource, treeDest);
    if (!built.kept) built.failedFolder = builder.FailedFolder();
    return built;
}

}  // namespace qv::engine
