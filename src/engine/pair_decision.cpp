#include "engine/pair_decision.h"

#include <algorithm>
#include <cmath>

#include "engine/exact_sync_index.h"

namespace qv::engine {

namespace {

run::ConflictQuestion Question(const std::string& source, const std::string& dest,
                               std::optional<double> date, int copyMode, int conflict) {
    run::ConflictQuestion q;
    q.source = source;
    q.dest = dest;
    q.date = date;
    q.copyMode = copyMode;
    q.conflict = conflict;
    return q;
}

int Swapped(int mode) {
    return mode == run::kModeReplaceBwithA ? run::kModeReplaceAwithB : run::kModeReplaceBwithA;
}

// A file on one side and a link on the other.
bool TypeChanged(const PairSide& a, const PairSide& b) {
    return a.isLink != b.isLink && !a.isFolder && !b.isFolder;
}

// A policy that lets the action through without asking: its conflict is not even looked for.
bool Skipped(const run::ConflictPolicy& p) { return p.proceeds && !p.ask; }

}  // namespace

std::optional<double> PairDecision::ReferenceDate(const PairSide& a, const PairSide& b) const {
    const std::optional<double> bA = facts_.BackupDate(a);
    const std::optional<double> bB = facts_.BackupDate(b);
    if (bA && (!bB || *bA > *bB)) return bA;
    if (bB) return bB;
    return state_.task.mainDestFolderBackupDate;
}

std::optional<bool> PairDecision::ChangedSinceLastRun(const PairSide& item, int side) const {
    const run::RunState& s = state_;
    if (!s.config.flags.gIsSyncOn || !s.config.flags.gIsExactOn || !s.task.gCompareExactSyncAtIndex)
        return {};
    switch (facts_.ChangeSince(item, side)) {
        case SinceLastRun::Same:
            return false;
        case SinceLastRun::Changed:
            return true;
        case SinceLastRun::Unknown:
            break;
    }
    return {};
}

PairDecision::Changed PairDecision::ChangedSides(const PairSide& a, const PairSide& b) const {
    std::optional<bool> cA = ChangedSinceLastRun(a, kSideA);
    std::optional<bool> cB = cA ? ChangedSinceLastRun(b, kSideB) : std::nullopt;
    if (!cA || !cB) return Changed::Unknown;
    // A folder facing a file goes whole if the file wins: it is unchanged only when nothing
    // inside it changed either.
    if (a.isFolder != b.isFolder) {
        if (a.isFolder && !*cA) cA = facts_.ChangedInside(a, kSideA);
        if (b.isFolder && !*cB) cB = facts_.ChangedInside(b, kSideB);
    }
    if (*cA && *cB) return Changed::Both;
    if (*cA) return Changed::OnlyA;
    return *cB ? Changed::OnlyB : Changed::Neither;
}

bool PairDecision::Differ(const PairSide& a, const PairSide& b) const {
    if (a.isFolder != b.isFolder || a.isLink != b.isLink) return true;
    if (a.attrs.type == platform::ItemType::RegularFile &&
        b.attrs.type == platform::ItemType::RegularFile && a.attrs.size != b.attrs.size) {
        return true;
    }
    return std::abs(a.modificationDate() - b.modificationDate()) >
           static_cast<double>(state_.config.gModificationDelta);
}

bool PairDecision::NeverInStep(const PairSide& a, const PairSide& b) const {
    const run::RunState& s = state_;
    if (!s.config.flags.gIsSyncOn || !s.config.flags.gIsExactOn || !s.task.gCompareExactSyncAtIndex)
        return false;
    if (facts_.WasLeftAsConflict(a.path) || facts_.WasLeftAsConflict(b.path)) return true;
    return !facts_.WasInIndex(a.path, kSideA) && !facts_.WasInIndex(b.path, kSideB);
}

int PairDecision::LeftAsConflict(const PairSide& a, const PairSide& b) {
    run::RunState& s = state_;
    ++s.task.gConflictsSkipped;
    // Neither side is stamped as brought into step by the index rebuild.
    if (s.config.flags.gIsSyncOn && s.config.flags.gIsExactOn) {
        s.task.restoreBackupDateArray.push_back(a.path);
        s.task.restoreBackupDateArray.push_back(b.path);
    }
    s.task.skippedConflictArray.push_back(a.path);
    s.task.skippedConflictArray.push_back(b.path);
    return run::kModeNone;
}

int PairDecision::BothExist(const PairSide& a, const PairSide& b, bool isDsStore) {
    const run::RunState& s = state_;
    if (a.isFolder && b.isFolder) {
        int mode = run::kModeDescend;
        if (s.config.flags.gCheckAttrChanged) AttrChanged(a, b, mode);
        return mode;
    }
    if (s.config.flags.gIsNewItemsOnly) return kIgnoredQuietly;
    bool settled = false;
    int mode = s.config.flags.gIsSyncOn ? SyncPair(a, b, isDsStore, settled) : BackupPair(a, b);
    if (settled) return mode;
    if (s.config.flags.gCheckAttrChanged && mode == run::kModeNone) AttrChanged(a, b, mode);
    return FileAgainstFolder(a, b, mode);
}

int PairDecision::BackupPair(const PairSide& a, const PairSide& b) {
    run::RunState& s = state_;
    const double d = static_cast<double>(s.config.gModificationDelta);
    const double mA = a.modificationDate();
    const double mB = b.modificationDate();
    int mode = run::kModeNone;
    if (mA - mB > d) {
        mode = run::kModeReplaceBwithA;
        if (!Skipped(s.config.conflicts.backup)) {
            const std::optional<double> r = ReferenceDate(a, b);
            if (r && mB > *r &&
                !facts_.Answer(s.config.conflicts.backup, Question(a.path, b.path, r, mode, 11),
                               nullptr)) {
                mode = LeftAsConflict(a, b);
            }
        }
    } else if (mB - mA > d) {
        mode = run::kModeReplaceBwithA;
        if (!Skipped(s.config.conflicts.backup2) &&
            !facts_.Answer(s.config.conflicts.backup2, Question(a.path, b.path, mB, mode, 12),
                           nullptr)) {
            ++s.task.gConflictsSkipped;
            mode = run::kModeNone;
        }
    }
    return mode;
}

int PairDecision::SyncPair(const PairSide& a, const PairSide& b, bool isDsStore, bool& settled) {
    const run::RunState& s = state_;
    const double d = static_cast<double>(s.config.gModificationDelta);
    const double mA = a.modificationDate();
    const double mB = b.modificationDate();
    int mode = run::kModeNone;
    const Changed changed = ChangedSides(a, b);
    bool tie = false;  // a conflict no date can settle
    const bool leftBefore = facts_.WasLeftAsConflict(a.path) || facts_.WasLeftAsConflict(b.path);
    if (!leftBefore && (changed == Changed::OnlyA || changed == Changed::OnlyB)) {
        // The other side is as the last run left it: the change made since wins, whatever
        // the dates say (a file renamed over a newer one is older, and still the user's).
        if (Differ(a, b) || !facts_.SameContent(a, b)) {
            mode = changed == Changed::OnlyA ? run::kModeReplaceBwithA : run::kModeReplaceAwithB;
        }
    } else if (mA - mB > d) {
        mode = run::kModeReplaceBwithA;
    } else if (mB - mA > d) {
        mode = run::kModeReplaceAwithB;
    } else if (TypeChanged(a, b) || a.isFolder != b.isFolder ||
               (changed == Changed::Both && (Differ(a, b) || !facts_.SameContent(a, b)))) {
        // Items of different kinds, or both changed differently, within the same dates (a
        // size and a time that agree prove nothing then): no side is newer. Left as they are
        // unless the user is asked.
        tie = true;
        mode = run::kModeReplaceBwithA;
        if (!s.config.conflicts.sync.ask) {
            settled = true;
            return LeftAsConflict(a, b);
        }
    }
    const bool bySinceLastRun = changed != Changed::Unknown && changed != Changed::Neither;
    if (mode == run::kModeNone || isDsStore || (Skipped(s.config.conflicts.sync) && !tie) ||
        (bySinceLastRun && changed != Changed::Both && !leftBefore)) {
        return mode;
    }
    const std::optional<double> r = ReferenceDate(a, b);
    const double overwritten = mode == run::kModeReplaceBwithA ? mB : mA;
    // A file made a link on one side (or a link a file) is a change no date of the other
    // side's may undo unasked.
    const bool typeChanged = TypeChanged(a, b);
    // Where the index tells which sides changed, both did; otherwise the dates tell.
    const bool bothChanged = bySinceLastRun ? changed == Changed::Both : r && overwritten > *r;
    if (!(bothChanged || typeChanged || tie || leftBefore || NeverInStep(a, b))) return mode;
    return AskSyncConflict(a, b, mode, r);
}

int PairDecision::AskSyncConflict(const PairSide& a, const PairSide& b, int mode,
                                  std::optional<double> reference) {
    run::RunState& s = state_;
    if (s.config.flags.gIsExactOn) {
        s.task.restoreBackupDateArray.push_back(a.path);
        s.task.restoreBackupDateArray.push_back(b.path);
    }
    bool swap = false;
    if (facts_.Answer(s.config.conflicts.sync, Question(a.path, b.path, reference, mode, 31),
                      &swap)) {
        return swap ? Swapped(mode) : mode;
    }
    return LeftAsConflict(a, b);
}

int PairDecision::FileAgainstFolder(const PairSide& a, const PairSide& b, int mode) {
    const run::RunState& s = state_;
    // A file and a folder of the same name.
    const bool fileReplacesFolder = (a.isFolder && mode == run::kModeReplaceAwithB) ||
                                    (!a.isFolder && b.isFolder && mode == run::kModeReplaceBwithA);
    // Left as it was at the last run, the clash is asked again whichever way the dates now go.
    const bool clashLeftBefore =
        mode != run::kModeNone && s.config.flags.gIsSyncOn &&
        (facts_.WasLeftAsConflict(a.path) || facts_.WasLeftAsConflict(b.path));
    if (a.isFolder == b.isFolder || !(fileReplacesFolder || clashLeftBefore) ||
        Skipped(s.config.conflicts.fileFolder)) {
        return mode;
    }
    const int code = a.isFolder ? 52 : 51;
    bool swap = false;
    run::ConflictQuestion question = Question(a.path, b.path, b.modificationDate(), mode, code);
    if (s.config.conflicts.fileFolder.ask) {
        question.folderItems = facts_.ItemsInFolder(a.isFolder ? a : b);
    }
    if (facts_.Answer(s.config.conflicts.fileFolder, question, &swap)) {
        return swap ? Swapped(mode) : mode;
    }
    return LeftAsConflict(a, b);
}

int PairDecision::ExactBackupOnlyInB(const PairSide& b, const std::string& aPath, bool isDsStore) {
    run::RunState& s = state_;
    // What is not in A goes from B, unless B's item changed since it was last backed up (21)
    // or was never backed up at all (22) and the policy keeps it.
    const run::ConflictPolicy& policy = s.config.conflicts.exactBackup;
    if (!b.isFolder && !isDsStore && s.task.mainDestFolderBackupDate && !Skipped(policy)) {
        const std::optional<double> bB = facts_.BackupDate(b);
        bool keep = false;
        if (bB) {
            keep = b.modificationDate() > *bB &&
                   !facts_.Answer(policy, Question(aPath, b.path, bB, run::kModeDeleteInB, 21),
                                  nullptr);
        } else {
            keep = !facts_.Answer(
                policy,
                Question(aPath, b.path, s.task.mainDestFolderBackupDate, run::kModeDeleteInB, 22),
                nullptr);
        }
        if (keep) {
            ++s.task.gConflictsSkipped;
            return run::kModeNone;
        }
    }
    return run::kModeDeleteInB;
}

int PairDecision::OnlyOneSide(bool inA, const PairSide& item, const std::string& otherPath,
                              int parentMode, bool isDsStore, std::int8_t& ifSkip) {
    run::RunState& s = state_;
    const int copy = inA ? run::kModeCopyAtoB : run::kModeCopyBtoA;
    if (!s.config.flags.gIsSyncOn) {
        if (inA) return run::kModeCopyAtoB;
        return s.config.flags.gIsExactOn ? ExactBackupOnlyInB(item, otherPath, isDsStore)
                                         : run::kModeNone;
    }
    if (!(s.config.flags.gIsExactOn && s.task.gCompareExactSyncAtIndex)) return copy;

    const int remove = inA ? run::kModeDeleteInA : run::kModeDeleteInB;
    const std::optional<double>& topDate =
        inA ? s.task.mainSourceFolderBackupDate : s.task.mainDestFolderBackupDate;
    const std::string& aPath = inA ? item.path : otherPath;
    const std::string& bPath = inA ? otherPath : item.path;
    const bool checkFile = !item.isFolder && !isDsStore && !Skipped(s.config.conflicts.exactSync);
    // One side of a conflict left as it was is no item the other side held in step: its
    // absence there is no deletion to carry over.
    const bool leftAsConflict =
        facts_.WasLeftAsConflict(otherPath) || facts_.WasLeftAsConflict(item.path);
    if (!leftAsConflict && facts_.WasInIndex(otherPath, inA ? kSideB : kSideA)) {
        // Deleted on the other side since the last run; 41 when this side changed since.
        ifSkip = inA ? 0 : 1;
        if (checkFile) {
            std::optional<double> since = facts_.BackupDate(item);
            if (!since) since = topDate;
            // The index's record tells a change the dates may hide (an older file renamed
            // into place); without one, the backup date tells.
            const std::optional<bool> changed = ChangedSinceLastRun(item, inA ? kSideA : kSideB);
            if ((changed ? *changed : since && item.modificationDate() > *since) &&
                !facts_.Answer(s.config.conflicts.exactSync,
                               Question(aPath, bPath, since, remove, 41), nullptr)) {
                ++s.task.gConflictsSkipped;
                return copy;
            }
        }
        return remove;
    }
    if (parentMode != remove) return copy;  // new on this side
    // New on this side, inside a folder deleted on the other side since the last run.
    if (checkFile) {
        std::optional<double> date = facts_.BackupDate(item);
        if (!date) date = topDate;
        if (!date) date = item.modificationDate();
        if (!facts_.Answer(s.config.conflicts.exactSync, Question(aPath, bPath, date, remove, 42),
                           nullptr)) {
            ++s.task.gConflictsSkipped;
            return copy;
        }
    }
    return remove;
}

void PairDecision::AttrChanged(const PairSide& a, const PairSide& b, int& copyMode) const {
    // The status-change time moves with every change of attributes but cannot be set: a copy
    // of attributes leaves the copy's newer than its source's, and the two would be copied back
    // and forth at every run. So they count as changed only when they differ; the times then
    // say which side changed.
    const auto changed = [](int mode) {
        return mode == run::kModeAttrAtoB || mode == run::kModeAttrBtoA;
    };
    int mode = copyMode;
    CheckAttrChanged(a.attrs, b.attrs, a.name, a.name, mode);  // the status-change times alone
    if (changed(mode) && facts_.AttributesDiffer(a, b)) {
        copyMode = mode;
        return;
    }
    // Names that differ only in case: the access times say which spelling is carried over.
    platform::ItemAttributes sameChange = b.attrs;
    sameChange.ctime = a.attrs.ctime;
    CheckAttrChanged(a.attrs, sameChange, a.name, b.name, copyMode);
}

void PairDecision::CheckAttrChanged(const platform::ItemAttributes& a,
                                    const platform::ItemAttributes& b, const std::string& aName,
                                    const std::string& bName, int& copyMode) const {
    const std::int64_t sA = a.exists() ? a.ctime.sec : 0;
    const std::int64_t sB = b.exists() ? b.ctime.sec : 0;
    if (sA == 0 || sB == 0) return;
    const std::int64_t d2 = std::max<std::int64_t>(state_.config.gModificationDelta, 2);
    if (sA - sB > d2) {
        copyMode = run::kModeAttrAtoB;
    } else if (state_.config.flags.gIsSyncOn && sB - sA > d2) {
        copyMode = run::kModeAttrBtoA;
    }
    if (copyMode == run::kModeAttrAtoB || copyMode == run::kModeAttrBtoA || aName == bName) return;
    const std::int64_t aA = a.atime.sec, aB = b.atime.sec;
    if (aA == 0 || aB == 0) return;
    if (aA - aB > d2) {
        copyMode = run::kModeAttrAtoB;
    } else if (aA - aB < -d2) {
        // A Backup never writes to its source: B takes A's spelling whichever was used last.
        copyMode = state_.config.flags.gIsSyncOn ? run::kModeAttrBtoA : run::kModeAttrAtoB;
    }
}

}  // namespace qv::engine
