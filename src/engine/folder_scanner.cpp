#include "engine/folder_scanner.h"

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

#include "engine/settled_record.h"
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
using run::PlanItem;

namespace {

constexpr const char* kDsStore = ".DS_Store";
constexpr const char* kIconFile = "Icon\r";
constexpr const char* kVolumeIcon = ".VolumeIcon.icns";

bool Contains(const std::vector<std::string>& list, const std::string& path) {
    return std::find(list.begin(), list.end(), path) != list.end();
}

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

}  // namespace

bool IsTrashFolderName(const std::string& name) {
    constexpr std::string_view kTrash = ".Trash";
    if (name.compare(0, kTrash.size(), kTrash) != 0) return false;
    if (name.size() == kTrash.size()) return true;
    if (name[kTrash.size()] != '-' || name.size() == kTrash.size() + 1) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kTrash.size()) + 1, name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

int CompareNamesIgnoringCase(const std::string& x, const std::string& y) {
    const int folded = Sign(platform::FoldCase(x).compare(platform::FoldCase(y)));
    return folded != 0 ? folded : Sign(x.compare(y));
}

// One folder pair being walked. A side's handle is open when that side is a folder; its open
// error says why not when the side was expected to be one.
struct FolderScanner::Folder {
    std::string aPath;
    std::string bPath;
    int& copyMode;
    std::vector<PlanItem>& subItems;
    bool isRoot;
    platform::FolderHandle aDir;
    platform::FolderHandle bDir;
    int aError = 0;
    int bError = 0;
    bool aExists = false;
    bool bExists = false;
    bool unread = false;        // the pair could not be read: nothing of it is planned
    bool keptChildren = false;  // something inside must stay: the folder cannot go as a whole
    // The folder, to be deleted, holds a versions folder's record: what is in it are versions,
    // which go with no folder.
    bool holdsVersions = false;
    // The folder is to be deleted on one side: its pairs are examined for what keeps it.
    bool deleting() const {
        return copyMode == run::kModeDeleteInA || copyMode == run::kModeDeleteInB;
    }
    // How the B side was named to the lister ahead of the walk (token 0: it was not).
    std::uint64_t bToken = 0;
    std::string bName{};
};

FolderScanner::FolderScanner(run::RunState& state, ScanListener& listener,
                             items::Validator& validator, const items::TWUtilities& tw,
                             const ExactSyncIndex& index, CaseProbe probe, bool removeLeftovers)
    : state_(state),
      listener_(listener),
      validator_(validator),
      tw_(tw),
      index_(index),
      probe_(probe),
      removeLeftovers_(removeLeftovers),
      decision_(state, *this),
      exclude_(state.session.executiveExcludeArray),
      bLister_(std::move(probe)) {}

FolderScanner::~FolderScanner() = default;

FolderScanner::ScanResult FolderScanner::ScanSingleFolder(run::TaskRoot& root) {
    const run::RunState& s = state_;
    recordSettled_ = removeLeftovers_ && s.config.flags.gIsSyncOn && s.config.flags.gIsExactOn;
    lastExactSync_.reset();
    if (recordSettled_ && s.task.gCompareExactSyncAtIndex)
        lastExactSync_ = index_.LastExactSyncDate();
    root_ = &root;
    folderErrors_ = 0;
    Folder folder{root.source, root.dest, root.copyMode, root.subItems, true, {}, {}};
    folder.aDir = platform::FolderHandle::OpenTaskTop(root.source, &folder.aError);
    folder.bDir = platform::FolderHandle::OpenTaskTop(root.dest, &folder.bError);
    root.sourceDev = folder.aDir.dev();
    root.sourceIno = folder.aDir.ino();
    root.destDev = folder.bDir.dev();
    root.destIno = folder.bDir.ino();
    folder.aExists = folder.aDir.valid();
    folder.bExists = folder.bDir.valid();
    tops_.clear();
    for (const platform::FolderHandle* top : {&folder.aDir, &folder.bDir}) {
        if (top->valid()) tops_.push_back({top->dev(), top->ino()});
    }
    tops_.insert(tops_.end(), otherTops_.begin(), otherTops_.end());
    const auto isVolumeTop = [](const std::string& top) {
        const ItemAttributes here = platform::ReadItemAttributes(top.c_str());
        const ItemAttributes parent =
            platform::ReadItemAttributes(platform::ParentFolder(top).c_str());
        return top == "/" || (here.exists() && parent.exists() && here.dev != parent.dev);
    };
    FindVersionsFolders();
    aIsVolumeTop_ = isVolumeTop(root.source);
    bIsVolumeTop_ = isVolumeTop(root.dest);
    ancestors_.clear();
    const bool found = ScanFolder(folder);
    root_ = nullptr;
    if (!found) return ScanResult::kFoldersNotFound;
    return folderErrors_ == 0 ? ScanResult::kComplete : ScanResult::kWithFolderErrors;
}

void FolderScanner::FindVersionsFolders() {
    versionsPaths_.clear();
    versionsIds_.clear();
    const std::string& chosen = state_.config.flags.versions.folder;
    if (chosen.empty()) return;  // the default name, left out at the top by its name
    versionsPaths_ = {chosen};
    const ItemAttributes attrs = platform::ReadItemAttributes(chosen.c_str());
    if (attrs.isDirectory()) versionsIds_.emplace_back(attrs.dev, attrs.ino);
}

bool FolderScanner::IsVersionsFolder(const Folder& f, const Side& a, const Side& b) const {
    // At the top, the versions folder and whatever else bears its name as a prefix (a versions
    // folder's own files are named so, and never meet a folder of the same name there).
    const std::string_view prefix = run::kVersionsFolderName;
    if (f.isRoot && (a.name.starts_with(prefix) || b.name.starts_with(prefix))) return true;
    if (versionsPaths_.empty()) return false;
    if (Contains(versionsPaths_, a.path) || Contains(versionsPaths_, b.path)) return true;
    for (const Side* side : {&a, &b}) {
        if (side->exists && side->attrs.isDirectory() &&
            std::find(versionsIds_.begin(), versionsIds_.end(),
                      std::pair{side->attrs.dev, side->attrs.ino}) != versionsIds_.end()) {
            return true;
        }
    }
    return false;
}

bool FolderScanner::NoteIfLeftover(const platform::FolderHandle& dir, const std::string& folder,
                                   const std::string& name, bool inB) {
    if (!items::IsTemporaryName(name) || !dir.valid()) return false;
    if (!items::IsMarkedTemporary(dir.fd(), name)) return false;
    // The copy clears it away before it writes anything: the scan changes nothing on disk.
    if (removeLeftovers_ && root_ != nullptr) {
        const std::string& top = inB ? state_.task.gDestFolder : state_.task.gSourceFolder;
        if (std::optional<std::string> below = PathBelow(platform::JoinPath(folder, name), top)) {
            root_->leftovers.push_back({inB, std::move(*below)});
        }
    }
    return true;
}

void FolderScanner::ReportError(ScanError::Kind kind,
                                std::initializer_list<std::string_view> texts) {
    ScanError error{.kind = kind, .text = {}};
    for (std::string_view text : texts) error.text += text;
    listener_.OnScanError(error);
}

void FolderScanner::ReportUnreadable(const std::string& path, int error, const std::string& why) {
    ++folderErrors_;
    ReportError(ScanError::Kind::kUnreadable,
                {GLS("Can't read the item"), " ", run::Quoted(path), "\r",
                 why.empty() ? std::string_view(std::strerror(error)) : std::string_view(why)});
}

bool FolderScanner::OpenSide(const platform::FolderHandle& parent, const Side& side,
                             platform::FolderHandle& dir, int& error) {
    error = 0;
    if (!side.exists || !side.attrs.isDirectory()) return true;
    // A resolved link or alias leads elsewhere, by the path the user asked to follow; every
    // other folder is opened from its parent, never through a link.
    if (side.resolved) {
        dir = platform::FolderHandle::OpenTop(side.path, &error);
    } else if (side.folder.valid()) {
        dir = side.folder;
    } else {
        dir = parent.OpenChild(side.name, &error);
    }
    if (!dir.valid()) return false;
    const std::pair<dev_t, ino_t> id{dir.dev(), dir.ino()};
    const bool onPath = std::find(ancestors_.begin(), ancestors_.end(), id) != ancestors_.end() ||
                        std::find(tops_.begin(), tops_.end(), id) != tops_.end();
    if (onPath) {
        // A link loop, a bind mount of a folder above, or one top folder inside the other:
        // walking it again would never end or would copy a folder into itself.
        dir = {};
        error = ELOOP;
        return false;
    }
    return true;
}

void FolderScanner::MakeItemsToDontCopyList() {
    // Linux counterparts of a start-up volume's special items. Mount folders and kernel views
    // are created empty in a copy of "/"; the others are left out.
    state_.task.bootFoldersToCopyEmptyArray = items::BootFoldersToCopyEmpty();
    state_.task.bootItemsToDontCopyArray = items::BootItemsToDontCopy();
    // A task whose top folder is the root of another volume gets the same lists under that
    // volume's mount point.
    const std::vector<std::string> copyEmpty = state_.task.bootFoldersToCopyEmptyArray;
    const std::vector<std::string> dontCopy = state_.task.bootItemsToDontCopyArray;
    for (const std::string* top : {&state_.task.gSourceFolder, &state_.task.gDestFolder}) {
        const ItemAttributes topAttrs = platform::ReadItemAttributes(top->c_str());
        const ItemAttributes parent =
            platform::ReadItemAttributes(platform::ParentFolder(*top).c_str());
        const bool isVolumeRoot =
            *top != "/" && topAttrs.exists() && parent.exists() && topAttrs.dev != parent.dev;
        if (!isVolumeRoot) continue;
        for (const auto& entry : copyEmpty)
            state_.task.bootFoldersToCopyEmptyArray.push_back(*top + entry);
        for (const auto& entry : dontCopy)
            state_.task.bootItemsToDontCopyArray.push_back(*top + entry);
    }
}

bool FolderScanner::FoldersReadable(Folder& f, bool* result) {
    // Both folders of the pair: neither there is the one error that ends a task's walk at its
    // top; a sub-folder pair gone since its parent was listed is reported and left.
    const bool aMissing = !f.aDir.valid() && (f.aError == ENOENT || f.aError == ENOTDIR);
    const bool bMissing = !f.bDir.valid() && (f.bError == ENOENT || f.bError == ENOTDIR);
    if (aMissing && bMissing && f.subItems.empty()) {
        if (!f.isRoot) ++folderErrors_;
        ReportError(ScanError::Kind::kFoldersMissing,
                    {GLS("Can't find the folders"), " ", run::Quoted(f.aPath), " ", GLS("and"),
                     " \r", run::Quoted(f.bPath)});
        f.unread = true;
        *result = !f.isRoot;
        return false;
    }
    // A folder that cannot be opened is never taken for an empty one.
    for (const auto& [dir, error, path] :
         {std::tie(f.aDir, f.aError, f.aPath), std::tie(f.bDir, f.bError, f.bPath)}) {
        if (!dir.valid() && error != 0 && !(f.isRoot && (error == ENOENT || error == ENOTDIR))) {
            // At the top, a link the walk from "/" would not follow: another user's.
            const std::string loop =
                f.isRoot ? GLS("A link on its way belongs to another user: a run does not "
                               "follow it.")
                         : GLS("A link leads back to a folder that holds it.");
            ReportUnreadable(path, error, error == ELOOP ? loop : std::string());
            f.unread = true;
            *result = true;
            return false;
        }
    }
    return true;
}

bool FolderScanner::PairNames(Folder& f, std::array<ListedItem, 2>& single, FolderListing& aList,
                              FolderListing& bList, std::vector<NamePair>& pairs,
                              std::uint64_t& prefetchToken) {
    if (!f.subItems.empty()) return PairTheTwoFiles(f, single, pairs);
    const bool listB = f.bDir.valid();
    if (listB) bLister_.Start(f.bDir, f.bToken, f.bName);
    if (f.aDir.valid()) aList = ListFolder(f.aDir, probe_);
    if (listB) bList = bLister_.Wait();
    for (const auto& [dir, list] : {std::tie(f.aDir, aList), std::tie(f.bDir, bList)}) {
        if (!dir.valid() || list.listed) continue;
        ReportUnreadable(list.failedName.empty() ? dir.path() : dir.PathOf(list.failedName),
                         list.error, {});
        f.unread = true;
        return false;
    }
    MergeNames(f, aList, bList, pairs);
    // The B sub-folders the walk may enter, listed ahead while it works on this folder.
    if (listB) {
        std::vector<std::string> ahead;
        for (const NamePair& p : pairs) {
            if (p.b && p.b->attributes.isDirectory()) ahead.push_back(p.b->name);
        }
        prefetchToken = bLister_.Prefetch(f.bDir, std::move(ahead));
    }
    return true;
}

bool FolderScanner::PairTheTwoFiles(Folder& f, std::array<ListedItem, 2>& single,
                                    std::vector<NamePair>& pairs) {
    // A file-to-file task: only the one name prepared before the walk.
    single[0].name = f.subItems.front().name;
    single[1].name = f.subItems.front().nameInB();
    f.subItems.clear();
    for (int i = 0; i < 2; ++i) {
        const platform::FolderHandle& dir = i == 0 ? f.aDir : f.bDir;
        if (!dir.valid()) continue;
        const platform::StatResult stat = platform::StatAt(dir.fd(), single[i].name);
        if (!stat.ok() && stat.error != ENOENT) {
            ReportUnreadable(dir.PathOf(single[i].name), stat.error, {});
            f.unread = true;
            return false;
        }
        single[i].attributes = stat.attributes;
    }
    pairs.push_back({single[0].attributes.exists() ? &single[0] : nullptr,
                     single[1].attributes.exists() ? &single[1] : nullptr});
    if (!pairs.back().a && !pairs.back().b) pairs.clear();
    return true;
}

void FolderScanner::MergeNames(const Folder& f, const FolderListing& aList,
                               const FolderListing& bList, std::vector<NamePair>& pairs) {
    const bool mergeB = state_.config.flags.gIsSyncOn || state_.config.flags.gIsExactOn;
    const bool ignoreCase = aList.caseInsensitive || bList.caseInsensitive;
    // Folded once per name: the order puts names that differ only in case side by side, and a
    // folder that ignores case pairs them.
    const auto keyed = [](const FolderListing& list) {
        std::vector<std::pair<std::string, const ListedItem*>> keys;
        keys.reserve(list.items.size());
        for (const ListedItem& item : list.items) {
            keys.emplace_back(platform::FoldCase(item.name), &item);
        }
        std::sort(keys.begin(), keys.end(), [](const auto& x, const auto& y) {
            return x.first != y.first ? x.first < y.first : x.second->name < y.second->name;
        });
        return keys;
    };
    const auto aKeys = keyed(aList), bKeys = keyed(bList);
    auto compare = [ignoreCase](const auto& x, const auto& y) {
        const int folded = Sign(x.first.compare(y.first));
        return ignoreCase || folded != 0 ? folded : Sign(x.second->name.compare(y.second->name));
    };
    pairs.reserve(aKeys.size() + (mergeB ? bKeys.size() : 0));
    std::size_t i = 0, j = 0;
    const std::size_t na = aKeys.size(), nb = bKeys.size();
    while (i < na || j < nb) {
        const int c = i == na ? 1 : j == nb ? -1 : compare(aKeys[i], bKeys[j]);
        if (c < 0) {
            pairs.push_back({aKeys[i++].second, nullptr});
        } else if (c > 0) {
            if (mergeB) {
                pairs.push_back({nullptr, bKeys[j].second});
            } else {
                // Not examined in a plain Backup, but an interrupted copy's leftover goes.
                NoteIfLeftover(f.bDir, f.bPath, bKeys[j].second->name, true);
            }
            ++j;
        } else {
            pairs.push_back({aKeys[i++].second, bKeys[j++].second});
        }
    }
}

bool FolderScanner::ScanFolder(Folder& f) {
    if (!state_.IsRunning()) return true;
    bool readable = true;
    if (!FoldersReadable(f, &readable)) return readable;

    std::vector<NamePair> pairs;
    FolderListing aList, bList;
    // Whatever way this folder is left, what was listed ahead for it is dropped.
    struct Ahead {
        BackgroundLister& lister;
        std::uint64_t token = 0;
        ~Ahead() { lister.Forget(token); }
    } prefetch{bLister_};
    std::array<ListedItem, 2> single;
    if (!PairNames(f, single, aList, bList, pairs, prefetch.token)) return true;

    // A versions folder that no setting names any longer (the session's folder for them was
    // changed) is still known by its record, and is never deleted. Only deletion: a user's
    // folder that happens to hold a file of that name is still copied whole.
    f.holdsVersions =
        f.deleting() && std::any_of(pairs.begin(), pairs.end(), [](const NamePair& p) {
            const ListedItem* item = p.a ? p.a : p.b;
            return item->name == run::kVersionsListName;
        });
    SettledRecord record(SettledKey(f, aList, bList), pairs.size(), lastExactSync_.has_value());
    const Listings listings{aList.caseInsensitive, bList.caseInsensitive, prefetch.token};
    for (const NamePair& p : pairs) {
        if (!state_.IsRunning()) break;
        ReportProgress();
        ScanPair(f, p, listings, record);
    }
    record.Finish(f.aDir.fd(), f.bDir.fd(), aList, bList, state_.IsRunning(), tw_,
                  state_.task.settledFolders);
    FoldUp(f);
    return true;
}

std::optional<std::string> FolderScanner::SettledKey(const Folder& f, const FolderListing& aList,
                                                     const FolderListing& bList) const {
    if (!recordSettled_ || !aList.listed || !bList.listed) return std::nullopt;
    std::optional<std::string> below = PathBelow(f.aPath, state_.task.gSourceFolder);
    if (!below || below != PathBelow(f.bPath, state_.task.gDestFolder)) return std::nullopt;
    return below;
}

void FolderScanner::ScanPair(Folder& f, const NamePair& p, const Listings& listings,
                             SettledRecord& record) {
    run::RunState& s = state_;
    record.Meet(p.a, p.b);
    const std::string& name = p.a ? p.a->name : p.b->name;
    Side a, b;
    a.exists = p.a != nullptr;
    a.name = name;
    a.path = platform::JoinPath(f.aPath, name);
    a.dirFd = f.aDir.fd();
    if (a.exists) a.attrs = p.a->attributes;
    b.exists = p.b != nullptr;
    b.name = p.b ? p.b->name : name;  // as spelled in B
    b.path = platform::JoinPath(f.bPath, b.name);
    b.dirFd = f.bDir.fd();
    if (b.exists) b.attrs = p.b->attributes;

    if (!Screen(f, a, b, listings, record)) return;

    const int parentMode = f.copyMode;
    const bool isDsStore = a.name == kDsStore || b.name == kDsStore;
    std::int8_t ifSkip = -1;
    int mode = run::kModeNone;
    const std::size_t conflictsBefore = s.task.restoreBackupDateArray.size();
    if (a.exists && b.exists) {
        mode = decision_.BothExist(a, b, isDsStore);
    } else if (a.exists) {
        mode = decision_.OnlyOneSide(true, a, b.path, parentMode, isDsStore, ifSkip);
    } else if (b.exists) {
        mode = decision_.OnlyOneSide(false, b, a.path, parentMode, isDsStore, ifSkip);
    }
    if (mode == kIgnoredQuietly || !s.IsRunning()) return;

    // Parent to be deleted: a child that does not go with it keeps the folder.
    const std::string& deletingSideName = parentMode == run::kModeDeleteInA ? a.name : b.name;
    if (f.deleting() && mode != parentMode && deletingSideName != kDsStore) f.keptChildren = true;
    if (mode == run::kModeNone) {
        // A conflict left as it is keeps its dates, and is no file in step.
        const bool quiet =
            record.recordsQuiet() && p.a && p.b && p.a->name == p.b->name && !a.resolved &&
            !b.resolved && !a.isFolder && !b.isFolder &&
            s.task.restoreBackupDateArray.size() == conflictsBefore &&
            a.modificationDate() <= *lastExactSync_ && b.modificationDate() <= *lastExactSync_ &&
            index_.WasFileAtLastRun(a.path, kSideA) && index_.WasFileAtLastRun(b.path, kSideB);
        record.LeftAsIs(p.a, p.b, quiet);
        return;
    }
    if (!(mode == run::kModeDescend && a.isFolder && b.isFolder)) record.Unsettle();
    PlanPair(f, a, b, mode, ifSkip, listings.prefetchToken);
}

bool FolderScanner::Screen(Folder& f, Side& a, Side& b, const Listings& listings,
                           SettledRecord& record) {
    run::RunState& s = state_;
    // What an interrupted copy left under a temporary name is nobody's file: it is never
    // planned, and a run clears it away.
    const bool aLeftover = a.exists && NoteIfLeftover(f.aDir, f.aPath, a.name, false);
    const bool bLeftover = b.exists && NoteIfLeftover(f.bDir, f.bPath, b.name, true);
    if (aLeftover || bLeftover) {
        record.Unsettle();
        return false;
    }
    // Whatever else is passed by keeps a folder to delete.
    const auto passBy = [&f] {
        if (f.deleting()) f.keptChildren = true;
        return false;
    };
    // A volume's trash at its top is the desktop's, never the user's data to copy.
    const bool volumeTrash = IsTrashFolderName(a.name) && (aIsVolumeTop_ || bIsVolumeTop_);
    // The versions a session keeps are nobody's data to copy or delete.
    if (f.holdsVersions || IsVersionsFolder(f, a, b)) return passBy();
    if (f.isRoot && (a.name == kIconFile || a.name == kVolumeIcon || volumeTrash ||
                     Contains(s.task.bootItemsToDontCopyArray, a.path) ||
                     Contains(s.task.bootItemsToDontCopyArray, b.path))) {
        return passBy();
    }
    // An entry of the exclude list names an item on one side; the item of the same name on
    // the other side is the same item and is left alone too, even where only that side
    // has it (an exact run would otherwise delete what the user excluded).
    if (s.config.flags.gIsExcludeOn &&
        (exclude_.IsToBeExcluded(a.path, listings.aCaseInsensitive) ||
         exclude_.IsToBeExcluded(b.path, listings.bCaseInsensitive))) {
        return passBy();
    }
    const bool aExisted = a.exists, bExisted = b.exists;
    for (auto [side, otherExisted, caseInsensitive] :
         {std::tuple{&a, bExisted, listings.aCaseInsensitive},
          std::tuple{&b, aExisted, listings.bCaseInsensitive}}) {
        if (side->exists && !Classify(*side, otherExisted, caseInsensitive)) {
            NoteIfSpecial(*side, f.deleting());
            return passBy();
        }
    }
    if (a.attrs.isDirectory() && !a.resolved && !b.resolved &&
        !s.config.flags.gIsTreatPackagesAsFolders) {
        record.Kinds(a.isFolder, b.isFolder);
    }
    if (a.exists) ++(a.isFolder ? s.task.gAFoldersScanned : s.task.gAFilesScanned);
    if (b.exists) ++(b.isFolder ? s.task.gBFoldersScanned : s.task.gBFilesScanned);
    return true;
}

void FolderScanner::PlanPair(Folder& f, Side& a, Side& b, int mode, std::int8_t ifSkip,
                             std::uint64_t prefetchToken) {
    run::RunState& s = state_;
    const bool eitherFolder = a.isFolder || b.isFolder;
    const bool isClashReplace =
        a.exists && b.exists && a.isFolder != b.isFolder &&
        (mode == run::kModeReplaceBwithA || mode == run::kModeReplaceAwithB);
    const bool copyEmpty =
        eitherFolder && ((f.isRoot && (Contains(s.task.bootFoldersToCopyEmptyArray, a.path) ||
                                       Contains(s.task.bootFoldersToCopyEmptyArray, b.path))) ||
                         IsPseudoFileSystemMount(a, f.aDir) || IsPseudoFileSystemMount(b, f.bDir));
    const bool skipPrivileges =
        s.config.flags.mSkipCheckPermissions || (copyEmpty && tw_.mEuidIsRoot);
    if (!skipPrivileges && !CheckPrivileges(a, b, mode)) {
        if (f.deleting() && mode == f.copyMode) f.keptChildren = true;
        // Not brought into step: both sides keep what the index knew of them.
        if (s.config.flags.gIsSyncOn && s.config.flags.gIsExactOn) {
            s.task.restoreBackupDateArray.push_back(a.path);
            s.task.restoreBackupDateArray.push_back(b.path);
        }
        // A deletion the index asked for and that is refused is asked for again next time.
        if (ifSkip >= 0 && root_ != nullptr) {
            root_->keepInIndex.push_back(mode == run::kModeDeleteInA ? b.path : a.path);
        }
        return;
    }

    PlanItem item;
    item.name = a.name;
    if (b.exists && b.name != a.name) item.destName = b.name;
    if (a.resolved) item.sourcePath = std::make_unique<std::string>(a.path);
    if (b.resolved) item.destPath = std::make_unique<std::string>(b.path);
    item.copyMode = mode;
    item.ifSkipAddToExactIndex = ifSkip;
    for (const auto& [side, seen] : {std::pair{&a, &item.seenA}, {&b, &item.seenB}}) {
        if (side->exists && !side->resolved) {
            *seen = {static_cast<std::uint64_t>(side->attrs.ino), side->attrs.size,
                     side->attrs.mtime.sec, side->attrs.mtime.nsec,
                     static_cast<std::uint8_t>(side->attrs.type)};
            // A folder a file or a link is to replace goes whole: only as it is now.
            if (isClashReplace && side->isFolder && side->folder.valid()) {
                seen->tree = platform::FolderTreeDigest(side->folder.fd());
            }
        }
    }
    if (eitherFolder && !isClashReplace) {
        item.isFolder = true;
        if (!DescendInto(f, item, a, b, copyEmpty, prefetchToken)) return;
    }
    Count(item, ContentToCopy(item.copyMode, a, b));
    f.subItems.push_back(std::move(item));
}

bool FolderScanner::DescendInto(Folder& f, PlanItem& item, Side& a, Side& b, bool copyEmpty,
                                std::uint64_t prefetchToken) {
    bool walked = true;
    if (!copyEmpty) {
        Folder child{a.path, b.path, item.copyMode, item.subItems, false, {}, {}};
        child.aExists = a.exists;
        child.bExists = b.exists;
        if (!b.resolved) {
            child.bToken = prefetchToken;
            child.bName = b.name;
        }
        const bool aOpen = OpenSide(f.aDir, a, child.aDir, child.aError);
        const bool bOpen = OpenSide(f.bDir, b, child.bDir, child.bError);
        if (aOpen && bOpen) {
            if (child.aDir.valid()) ancestors_.push_back({child.aDir.dev(), child.aDir.ino()});
            if (child.bDir.valid()) ancestors_.push_back({child.bDir.dev(), child.bDir.ino()});
        }
        walked = ScanFolder(child);
        if (aOpen && bOpen) {
            ancestors_.resize(ancestors_.size() - child.aDir.valid() - child.bDir.valid());
        }
        if (child.unread) {
            // Nothing of a pair that could not be read is planned, on either side, and a
            // folder holding it cannot go as a whole.
            if (f.deleting()) f.keptChildren = true;
            return false;
        }
    }
    const auto isDsStoreItem = [](const PlanItem& x) {
        return x.name == kDsStore || x.nameInB() == kDsStore;
    };
    const bool emptyNewFolder =
        state_.config.flags.gIsSkipEmptyFolders &&
        (item.copyMode == run::kModeCopyAtoB || item.copyMode == run::kModeCopyBtoA) &&
        (item.subItems.empty() ||
         (item.subItems.size() == 1 && isDsStoreItem(item.subItems.front())));
    if (f.deleting() && item.copyMode != f.copyMode) f.keptChildren = true;
    if (!walked) return false;
    if (emptyNewFolder) {
        Uncount(item.subItems);
        return false;
    }
    if (a.isFolder && b.isFolder) {
        if (IsFilling(b)) {
            item.fillingSide = 1;
        } else if (IsFilling(a)) {
            item.fillingSide = 0;
        }
    }
    return !(item.copyMode == run::kModeDescend && item.subItems.empty() && item.fillingSide < 0);
}

void FolderScanner::FoldUp(Folder& f) {
    if (!f.keptChildren) return;
    run::RunState& s = state_;
    f.copyMode = run::kModeDescend;
    auto anyChild = [&](int m1, int m2) {
        return std::any_of(f.subItems.begin(), f.subItems.end(), [&](const PlanItem& c) {
            return c.name != kDsStore && (c.copyMode == m1 || c.copyMode == m2);
        });
    };
    if (f.aExists && !f.bExists && anyChild(run::kModeCopyAtoB, run::kModeReplaceBwithA)) {
        f.copyMode = run::kModeCopyAtoB;
    } else if (!f.aExists && f.bExists && s.config.flags.gIsSyncOn &&
               anyChild(run::kModeCopyBtoA, run::kModeReplaceAwithB)) {
        f.copyMode = run::kModeCopyBtoA;
    }
    if (!f.subItems.empty() && f.subItems.front().name == kDsStore) {
        PlanItem& first = f.subItems.front();
        const int former = first.copyMode;
        if (f.copyMode == run::kModeDescend) {
            f.subItems.erase(f.subItems.begin());
            --s.task.gItemsToDo;
        } else {
            first.copyMode = f.copyMode;
            if (auto* counter = s.totals.categories.ForMode(f.copyMode)) ++*counter;
        }
        if (auto* counter = s.totals.categories.ForMode(former)) --*counter;
    }
}

void FolderScanner::NoteIfSpecial(const Side& side, bool inFolderToDelete) {
    if (side.attrs.type != platform::ItemType::Other) return;
    run::RunState& s = state_;
    ++s.totals.gSpecialFilesSkipped;
    if (inFolderToDelete) {
        // Its folder stays for it: the user must learn why the deletion did not happen.
        ReportError(ScanError::Kind::kSpecialInFolderToDelete,
                    {GLS("The folder is not deleted: it holds a special file (FIFO, socket or "
                         "device), which a run never copies nor deletes:"),
                     " ", run::Quoted(side.path)});
    } else if (s.config.gMakeDetailedLog) {
        s.task.gDetailedLogText += GLS("Skipped the special file (FIFO, socket or device)") + " " +
                                   run::Quoted(side.path) + "\r";
    }
}

bool FolderScanner::Classify(Side& side, bool otherExists, bool caseInsensitive) {
    const run::SessionFlags& flags = state_.config.flags;
    side.isLink = side.attrs.isSymbolicLink();
    const std::string original = side.path;
    if (flags.gIsResolveAliasOn && !side.isLink) {
        if (!validator_.TryResolveAliasFile(side.path, side.attrs, side.isLink)) return false;
    }
    if (flags.gIsResolveSymLinkOn && side.isLink) {
        if (!validator_.TryResolveSymLinkFile(side.path, side.attrs, side.isLink)) return false;
    }
    side.resolved = side.path != original;
    if (side.resolved) side.dirFd = -1;
    if (side.attrs.type == platform::ItemType::Other ||
        side.attrs.type == platform::ItemType::Missing) {
        return false;
    }
    if (side.attrs.isDirectory()) {
        if (!side.resolved && side.dirFd >= 0) {
            side.folder =
                platform::FolderHandle::OpenAt(side.dirFd, side.name, side.path, &side.folderError);
        }
        const std::string& name = side.name;
        const bool appBundle =
            name.size() > 4 && platform::EqualFolded(name.substr(name.size() - 4), ".app");
        if (otherExists && flags.gIsTreatPackagesAsFolders) {
            side.isFolder = !(appBundle && IsPackage(side));
        } else {
            side.isFolder = !IsPackage(side);
        }
    }
    // The pair's own paths were looked up before; a resolved alias or link leads elsewhere.
    if (state_.config.flags.gIsExcludeOn && side.resolved &&
        exclude_.IsToBeExcluded(side.path, caseInsensitive)) {
        return false;
    }
    if (flags.gIsFilterOn && filter_ != nullptr &&
        filter_->IsToBeFiltered({side.resolved ? platform::LastPathComponent(side.path) : side.name,
                                 side.path, side.resolved ? -1 : side.dirFd, side.attrs})) {
        return false;
    }
    if (!flags.gIsInvisibleOn && (side.resolved ? tw_.IsInvisible(side.path, false)
                                                : tw_.IsInvisible(side.dirFd, side.name, false))) {
        return false;
    }
    return true;
}

void FolderScanner::CheckAttrChanged(const std::string& src, const std::string& dst, int& copyMode,
                                     bool includeNames) const {
    const ItemAttributes a = platform::ReadItemAttributes(src.c_str());
    const ItemAttributes b = platform::ReadItemAttributes(dst.c_str());
    const std::string aName = platform::LastPathComponent(src);
    const std::string bName = includeNames ? platform::LastPathComponent(dst) : aName;
    decision_.CheckAttrChanged(a, b, aName, bName, copyMode);
}

void FolderScanner::ReportProgress() {
    // The clock is read once every 256 items: cheap enough for a per-item loop.
    constexpr std::uint32_t kItemsBetweenClockReads = 256;
    constexpr auto kInterval = std::chrono::milliseconds(250);
    if (++itemsSinceClockRead_ < kItemsBetweenClockReads) return;
    itemsSinceClockRead_ = 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastProgress_ < kInterval) return;
    lastProgress_ = now;
    listener_.OnScanProgress();
}

std::uint64_t FolderScanner::ContentToCopy(int copyMode, const Side& a, const Side& b) {
    const bool fromA = copyMode == run::kModeCopyAtoB || copyMode == run::kModeReplaceBwithA;
    const bool fromB = copyMode == run::kModeCopyBtoA || copyMode == run::kModeReplaceAwithB;
    if (!fromA && !fromB) return 0;
    const Side& from = fromA ? a : b;
    return from.attrs.type == platform::ItemType::RegularFile ? from.attrs.size : 0;
}

void FolderScanner::Count(const PlanItem& item, std::uint64_t bytes) {
    state_.task.bytesToDo += bytes;
    if (item.copyMode != run::kModeDescend) ++state_.task.gItemsToDo;
    if (auto* counter = state_.totals.categories.ForMode(item.copyMode)) ++*counter;
}

void FolderScanner::Uncount(const std::vector<PlanItem>& items) {
    for (const PlanItem& item : items) {
        Uncount(item.subItems);
        if (item.copyMode != run::kModeDescend) --state_.task.gItemsToDo;
        if (auto* counter = state_.totals.categories.ForMode(item.copyMode)) --*counter;
    }
}

}  // namespace qv::engine
