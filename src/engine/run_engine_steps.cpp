// The steps around the scan and the copy: what a run, a session and a task set up before and
// conclude after.
#include <dirent.h>
#include <unistd.h>

#include <ctime>

#include "engine/folder_scanner.h"
#include "engine/run_engine.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/folder_handle.h"
#include "platform/folder_way.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "platform/system_log.h"
#include "platform/volumes.h"
#include "run/log_name.h"
#include "sessions/dest_subfolder.h"
#include "sessions/exclude_options.h"
#include "sessions/filter_editor.h"
#include "sessions/multi_editor.h"
#include "sessions/multi_options.h"
#include "sessions/settings_options.h"

namespace qv::engine {

using platform::GLS;

namespace {

bool IsOn(const plist::Value* dict, std::string_view key) {
    return dict != nullptr && dict->intAt(key) == 1;
}

run::ConflictPolicy Policy(const plist::Value* conflicts, std::string_view radio,
                           std::string_view ask, std::int64_t proceedsWhen,
                           std::int64_t defaultRadio) {
    run::ConflictPolicy p;
    p.proceeds = (conflicts ? conflicts->intAt(radio, defaultRadio) : defaultRadio) == proceedsWhen;
    p.ask = IsOn(conflicts, ask);
    return p;
}

}  // namespace

void RunEngine::PurgeBeforeWholeSyncBackup() {
    run::RunState& s = state_;
    documentOwner_ = DocumentOwner();
    validator_.SetDocumentOwner(documentOwner_);
    s.totals.gErrorMessages.clear();
    // mIsCopying, mUserPressedStop and gTerminateAfterSync were set when the run was started.
    if (options_.sessionIndex >= 0) {
        s.session.mSessionIndex = options_.sessionIndex;
    } else if (s.session.gOldSessionIndex < 0) {
        s.session.mSessionIndex = document_.mMainDict.intAt("sessionIndex");
    }
    s.totals.gStartSyncDateTime =
        static_cast<double>(options_.startTime.value_or(std::time(nullptr)));
    s.totals.gStartSyncDateTimeUTC = static_cast<std::int64_t>(s.totals.gStartSyncDateTime);
    s.plan.taskRootList.clear();
    runFolders_.clear();
    s.plan.exactIndexAdditionLists.clear();
    s.plan.failedItemLists.clear();
    s.plan.doneItemLists.clear();
    s.plan.gItemsDeleted.clear();
    s.logSessionArray.clear();
    s.totals.gItemsToDoTotal = 0;
    s.totals.bytesToDoTotal = 0;
    s.totals.gItemsSkipped = 0;
    s.totals.gGlobalItemsScanned = 0;
    s.totals.gGlobalConflictsSkipped = 0;
    s.totals.gSpecialFilesSkipped = 0;
    s.totals.categories = {};
    s.totals.gAtLeastOneItemDone = false;
    s.progress.Reset();
    const std::int64_t logKind = preferences_.intAt("prefLogKind", 2);
    s.config.gMakeDetailedLog = logKind == 2;
    s.config.gMakeErrorsLog = logKind == 3;
    const std::int64_t delta = preferences_.intAt("prefModificationDeltaField", 10);
    s.config.gModificationDelta =
        preferences_.intAt("prefModificationDelta") == 1 && delta > 0 ? delta : 0;
    s.config.prefPreview = options_.preview || preferences_.intAt("prefPreview") != 0;
    s.config.prefConfirmEmptySideDeletion =
        preferences_.intAt("prefConfirmEmptySideDeletion", 1) != 0;
    s.gErrorTitleDialog = GLS("Warning:");
}

void RunEngine::PurgeBeforeScanOneSession(std::int64_t sessionIndex) {
    run::RunState& s = state_;
    s.config.gIsOnError = static_cast<int>(preferences_.intAt("prefOnError", run::kOnErrorAsk));
    proxy_.PurgeBeforeScanOneSession(s, sessionIndex);
    if (s.IsRunning()) hooks_.RunBefore(sessionIndex);
    const plist::Value* session = Session(sessionIndex);
    static const plist::Value kEmpty;
    const plist::Value& sess = session ? *session : kEmpty;
    s.config.flags.gIsTimerOn = IsOn(sess.dictAt("timerDict"), "timerOn");
    s.config.flags.gIsMultiOn = IsOn(sess.dictAt("multiDict"), "multiOn");
    const plist::Value* filters = sess.dictAt("filterDict");
    // Compiling resolves account names, which may ask a directory service: only when needed.
    filter_.reset();
    if (IsOn(filters, "filterOn")) filter_ = std::make_unique<ItemFilter>(*filters, tw_);
    s.config.flags.gIsFilterOn = filter_ != nullptr && !filter_->empty();
    s.session.executiveExcludeArray = sessions::CountExcludeValid(sess);
    s.config.flags.gIsExcludeOn =
        IsOn(sess.dictAt("excludeDict"), "excludeOn") && !s.session.executiveExcludeArray.empty();
    s.session.executiveMultiArray.clear();
    for (const auto& pair : sessions::CountMultiValid(sess)) {
        s.session.executiveMultiArray.push_back({pair.source, pair.destination});
    }
    const plist::Value* settings = sess.dictAt("settingsDict");
    s.config.flags.gIsInvisibleOn =
        settings == nullptr || settings->intAt("settInvisibleItems", 1) == 1;
    s.config.flags.gIsResolveAliasOn = IsOn(settings, "settResolveAlias");
    s.config.flags.gIsResolveSymLinkOn = IsOn(settings, "settResolveSymLink");
    s.config.flags.gIsSkipEmptyFolders = IsOn(settings, "settSkipEmptyFolders");
    s.config.flags.gIsTreatPackagesAsFolders = IsOn(settings, "settPackagesFolders");
    s.config.flags.gIsNewItemsOnly = IsOn(settings, "settNewItemsOnly");
    if (s.IsRunning()) volumes_.MountAllVolumesForSession(sessionIndex);
    PurgeBeforeScanAndCopyOneSession(sess);

    const plist::Value* c = sess.dictAt("conflictsDict");
    s.config.conflicts.backup = Policy(c, "conflictBackupRadio", "conflictBackupAsk", 2, 2);
    s.config.conflicts.backup2 = Policy(c, "conflictBackupRadio2", "conflictBackupAsk2", 2, 1);
    s.config.conflicts.exactBackup =
        Policy(c, "conflictExactBackupRadio", "conflictExactBackupAsk", 2, 2);
    s.config.conflicts.sync = Policy(c, "conflictSyncRadio", "conflictSyncAsk", 2, 2);
    s.config.conflicts.exactSync =
        Policy(c, "conflictExactSyncRadio", "conflictExactSyncAsk", 2, 1);
    s.config.conflicts.fileFolder =
        Policy(c, "conflictFileFolderRadio", "conflictFileFolderAsk", 1, 1);

    run::SessionLog log;
    log.sessionIndex = sessionIndex;
    if (s.config.flags.gIsMultiOn) log.executiveMultiArray = s.session.executiveMultiArray;
    if (s.config.flags.gIsFilterOn) {
        log.executiveFilterArray.emplace();
        for (const plist::Value& row : sessions::CountFilterValid(sess)) {
            log.executiveFilterArray->push_back(row.stringAt("filterNameField"));
        }
    }
    if (s.config.flags.gIsExcludeOn) log.executiveExcludeArray = s.session.executiveExcludeArray;
    s.logSessionArray.push_back(std::move(log));
    currentSessionLog_ = static_cast<std::int64_t>(s.logSessionArray.size()) - 1;
}

void RunEngine::PurgeBeforeScanAndCopyOneSession(const plist::Value& session) {
    run::SessionFlags& f = state_.config.flags;
    const plist::Value* settings = session.dictAt("settingsDict");
    f.gIsUnlockOn = settings == nullptr || settings->intAt("settLockedItems", 1) == 1;
    f.gIsMoveToTrash = settings && settings->intAt("settMoveToTrash") != 0;
    f.gCheckAttrChanged = settings && settings->intAt("settCheckAttrChanged") != 0;
    f.gCreateDestFolder = settings && settings->intAt("settCreateDestFolder") != 0;
    f.gCreateDestFolderCustomNameFormat =
        settings ? settings->stringAt("settCreateDestFolderCustomNameFormat") : "";
    f.gCreateDestFolderNameKind = settings ? settings->intAt("settCreateDestFolderNameKind", 1) : 1;
    f.mSkipCheckPermissions = settings && settings->intAt("settSkipCheckPermissions") != 0;
    f.gIsSyncOn = settings && settings->intAt("settTask") == sessions::kTaskSynchronize;
    f.gIsExactOn = IsOn(settings, "settExact");
    f.versions = sessions::VersionsSettingsOf(settings);
}

void RunEngine::PurgeBeforeScanOneTask() {
    run::TaskInHand& task = state_.task;
    static_cast<run::TaskFigures&>(task) = {};
    task.bytesToDo = 0;
    task.gCompareExactSyncAtIndex = false;
    task.gSourceFileName.clear();
    task.gDestFileName.clear();
}

void RunEngine::PurgeAfterScanOneTask(std::int64_t taskIndex, bool walked, bool scanned) {
    run::RunState& s = state_;
    // The record takes the task's figures whole; the task in hand keeps its counters for the
    // totals and hands over its text and lists.
    run::TaskLog log;
    static_cast<run::TaskFigures&>(log) = std::move(static_cast<run::TaskFigures&>(s.task));
    s.task.ClearLists();
    log.taskIndex = taskIndex;
    log.gSourceFolder = s.task.gSourceFolder;
    log.gDestFolder = s.task.gDestFolder;
    log.gSourceFileName = s.task.gSourceFileName;
    log.gDestFileName = s.task.gDestFileName;
    log.walked = walked;
    log.scanned = scanned;
    if (currentSessionLog_ >= 0) {
        s.logSessionArray[static_cast<std::size_t>(currentSessionLog_)].logTaskArray.push_back(
            std::move(log));
    }
    s.totals.gItemsToDoTotal += s.task.gItemsToDo;
    s.totals.bytesToDoTotal += s.task.bytesToDo;
    s.totals.gGlobalItemsScanned += s.task.gAFoldersScanned + s.task.gAFilesScanned +
                                    s.task.gBFoldersScanned + s.task.gBFilesScanned;
    s.totals.gGlobalConflictsSkipped += s.task.gConflictsSkipped;
    if (scanned) ++s.session.gTotMultiDone;
}

void RunEngine::PurgeAfterScanOneSession(std::int64_t /*sessionIndex*/) {
    // The session's log record was opened before its scan and has collected its tasks.
    currentSessionLog_ = -1;
}

void RunEngine::PurgeBeforeMainCopy() {
    // The copy's progress runs from 0 to the items to do; the more there are, the less often
    // the front end is refreshed.
    run::RunState& s = state_;
    s.totals.gItemsAtCopyStart = s.totals.gItemsToDoTotal;
    s.progress.CopyStarts(s.totals.gItemsAtCopyStart, s.totals.bytesToDoTotal);
    s.config.mIntervalToUpdateConsole = s.totals.gItemsAtCopyStart > 2000   ? 2.0
                                        : s.totals.gItemsAtCopyStart > 1000 ? 1.0
                                        : s.totals.gItemsAtCopyStart > 500  ? 0.5
                                                                            : 0.0;
}

namespace {

// The items a tree deletes; a folder deleted stands for what it holds.
void CollectDeletions(const std::vector<run::PlanItem>& items, const std::string& a,
                      const std::string& b, std::vector<PlannedDeletion>& into) {
    for (const run::PlanItem& item : items) {
        const std::string inA =
            item.sourcePath ? *item.sourcePath : platform::JoinPath(a, item.name);
        const std::string inB =
            item.destPath ? *item.destPath : platform::JoinPath(b, item.nameInB());
        if (item.copyMode == run::kModeDeleteInA) {
            into.push_back({inA, item.seenA});
        } else if (item.copyMode == run::kModeDeleteInB) {
            into.push_back({inB, item.seenB});
        } else {
            CollectDeletions(item.subItems, inA, inB, into);
        }
    }
}

}  // namespace

// Without an index, what tells a later run that a conflict left as it was is one is the backup
// date: an item that has none is judged against the top folder's, which every run moves on, and
// a later run would take it for unchanged and replace it. It gets the earliest date there is.
namespace {

// Every file below a folder left in conflict was never in step either: it gets the earliest
// backup date too (a file without one would be judged against the last run's date). The
// folder is walked through handles, never through a link.
// onlyUndated: files that have a backup date keep it.
void MarkFilesNeverInStep(const platform::FolderHandle& dir, const std::string& value,
                          bool onlyUndated = false) {
    std::vector<platform::FolderEntry> entries;
    if (!dir.valid() || platform::sys().readfolder(dir.fd(), entries) != 0) return;
    for (const platform::FolderEntry& e : entries) {
        unsigned char type = e.type;
        if (type == DT_UNKNOWN) {
            const platform::StatResult stat = platform::StatAt(dir.fd(), e.name);
            if (!stat.ok()) continue;
            type = stat.attributes.isDirectory()                             ? DT_DIR
                   : stat.attributes.type == platform::ItemType::RegularFile ? DT_REG
                                                                             : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            MarkFilesNeverInStep(dir.OpenChild(e.name), value, onlyUndated);
        } else if (type == DT_REG) {
            if (onlyUndated &&
                platform::sys().getxattrat(dir.fd(), e.name.c_str(), items::kBackupDateXattr,
                                           nullptr, 0) >= 0) {
                continue;
            }
            platform::sys().setxattrat(dir.fd(), e.name.c_str(), items::kBackupDateXattr,
                                       value.data(), value.size(), 0);
        }
    }
}

}  // namespace

void RunEngine::MarkNeverInStep(const run::TaskLog& task) {
    const std::string value = std::to_string(kNeverInStepBackupDate);
    platform::FolderHandle tops[2];  // opened when first needed
    // The folder at path, below one of the task's top folders; invalid for anything else.
    const auto folderAt = [&](const std::string& path) {
        for (int side : {0, 1}) {
            const std::string& topPath = side == 0 ? task.gSourceFolder : task.gDestFolder;
            const std::optional<std::string> below = PathBelow(path, topPath);
            if (!below || below->empty()) continue;
            if (!tops[side].valid()) tops[side] = platform::FolderHandle::OpenTaskTop(topPath);
            return tops[side].OpenBelow(below->substr(1));
        }
        return platform::FolderHandle{};
    };
    // An item whose action failed was not brought into step either: what never was (no backup
    // date: new since) must not be taken for what is unchanged since the last run.
    for (const std::string& path : task.failedItemArray) {
        if (platform::ItemExists(path) && !tw_.GetDate(path, items::kBackupDate)) {
            tw_.SetBackupDateDitto(path, kNeverInStepBackupDate);
        }
        MarkFilesNeverInStep(folderAt(path), value, true);
    }
    for (const std::string& path : task.skippedConflictArray) {
        const std::optional<double> date = tw_.GetDate(path, items::kBackupDate);
        if (!date || *date != kNeverInStepBackupDate) {
            tw_.SetBackupDateDitto(path, kNeverInStepBackupDate);
        }
        MarkFilesNeverInStep(folderAt(path), value);
    }
}

void RunEngine::JournalDeletions() {
    for (const run::TaskRoot& root : state_.plan.taskRootList) {
        if (!root.gIsSyncOn) continue;
        std::vector<PlannedDeletion> deleting;
        CollectDeletions(root.subItems, root.source, root.dest, deleting);
        index_.JournalDeletions(root.source, root.dest, deleting);
    }
}

void RunEngine::PurgeBeforeScanAndCopyOneSession(std::int64_t sessionIndex) {
    if (const plist::Value* session = Session(sessionIndex))
        PurgeBeforeScanAndCopyOneSession(*session);
}

void RunEngine::PurgeBeforeCopyOneTask() {
    run::RunState& s = state_;
    s.task.copy = {};
    s.task.gTotError = 0;
    s.task.gItemsToDo = 0;
    s.task.gDetailedLogText.clear();
}

void RunEngine::PurgeAfterCopyOneTask(run::TaskLog& task) {
    run::RunState& s = state_;
    // A backup of the system onto a volume of its own: there is nothing to bless on this
    // system (the copy holds its boot loader), which the log says.
    if (task.gSourceFolder == "/" && !task.gDestFolder.empty() && s.config.gMakeDetailedLog &&
        platform::VolumeRoot(task.gDestFolder) == task.gDestFolder) {
        s.task.gDetailedLogText +=
            GLS("The destination disk needs no blessing here: its boot loader is the one "
                "copied, to be installed by the system's own tools") +
            " " + run::Quoted(task.gDestFolder) + "\r";
    }
    task.copyCounters = s.task.copy;
    task.copyCompleted = s.IsRunning();
    task.gTotError += s.task.gTotError;
    task.gDetailedLogText += s.task.gDetailedLogText;
    s.task.gDetailedLogText.clear();
}

void RunEngine::PurgeAfterCopyOneSession(std::int64_t sessionIndex) {
    if (state_.IsRunning()) ++state_.session.gTotSessionsDone;
    hooks_.RunAfter(sessionIndex, TaskErrorsOf(sessionIndex), !state_.IsRunning());
}

void RunEngine::PurgeAfterWholeSyncBackup() {
    run::RunState& s = state_;
    // A session whose before-script ran gets its after-script whatever became of the run: it
    // may have stopped what must be started again.
    for (const std::int64_t index : hooks_.AfterScriptsOwed()) {
        hooks_.RunAfter(index, TaskErrorsOf(index), true);
    }
    if (s.session.gOldSessionIndex > 0) {
        s.session.mSessionIndex = s.session.gOldSessionIndex;
    } else if (options_.sessionIndex < 0) {
        s.session.mSessionIndex = document_.mMainDict.intAt("sessionIndex");
    }
    s.totals.gEndSyncDateTime = static_cast<double>(std::time(nullptr));
    // A plan is made to be shown: its trees outlive the run.
    if (!options_.scanOnly) s.plan.taskRootList.clear();
    const std::vector<std::string> deleted = std::move(s.plan.gItemsDeleted);
    s.plan.gItemsDeleted.clear();
    s.totals.gGlobalError = 0;
    for (run::SessionLog& sessionLog : s.logSessionArray) {
        if (const plist::Value* session = Session(sessionLog.sessionIndex)) {
            PurgeBeforeScanAndCopyOneSession(*session);
        }
        sessionLog.hookErrors =
            sessionErrors_.Take(sessionLog.sessionIndex, &sessionLog.hookLogText);
        std::int64_t sessionErrors = sessionLog.hookErrors;
        s.totals.gGlobalError += sessionLog.hookErrors;
        for (run::TaskLog& task : sessionLog.logTaskArray) {
            sessionErrors += task.gTotError;
            s.totals.gGlobalError += task.gTotError;
            if (!options_.scanOnly) MarkNeverInStep(task);
            if (!options_.scanOnly && s.config.flags.gIsSyncOn && task.walked &&
                !s.mUserPressedStop) {
                index_.KeepLeftConflicts(task.gSourceFolder, task.gDestFolder,
                                         task.skippedConflictArray);
            }
            // A task whose folders were not valid, whose walk did not complete, or whose copy
            // did not run to its end (another task failed its scan, the run was stopped) was
            // not brought into step: stamping its folders would hide later changes from the
            // conflict checks, and an index rebuilt from the disk would take the deletions it
            // did not carry out for items never there, and bring them back at the next run.
            // Its previous index stays.
            if (s.mUserPressedStop || options_.scanOnly || !task.walked || !task.copyCompleted) {
                // What it did delete is no longer the index's to delete again.
                if (!options_.scanOnly && s.config.flags.gIsSyncOn && s.config.flags.gIsExactOn) {
                    index_.ForgetDeletedItems(task.gSourceFolder, task.gDestFolder, deleted,
                                              task.doneItemArray);
                    index_.ClearJournal(task.gSourceFolder, task.gDestFolder);
                }
                continue;
            }
            s.task.gSourceFolder = task.gSourceFolder;
            s.task.gDestFolder = task.gDestFolder;
            s.task.gSourceFileName = task.gSourceFileName;
            s.task.gDestFileName = task.gDestFileName;
            if (s.config.flags.gIsSyncOn && s.config.flags.gIsExactOn) {
                s.task.addToExactIndexArray = task.addToExactIndexArray;
                s.task.restoreBackupDateArray = task.restoreBackupDateArray;
                s.task.restoreBackupDateArray.insert(s.task.restoreBackupDateArray.end(),
                                                     task.failedItemArray.begin(),
                                                     task.failedItemArray.end());
                s.task.doneItemArray = std::move(task.doneItemArray);
                s.task.skippedConflictArray = task.skippedConflictArray;
                s.task.settledFolders = std::move(task.settledFolders);
                s.task.gTotError = 0;
                s.task.gDetailedLogText.clear();
                if (!index_.WriteExactSyncIndex(2, errors_, tw_)) {
                    // The previous index stays: it forgets what was deleted all the same.
                    index_.ForgetDeletedItems(task.gSourceFolder, task.gDestFolder, deleted);
                }
                index_.ClearJournal(task.gSourceFolder, task.gDestFolder);
                // A failure belongs to the task's record like the others.
                task.gTotError += s.task.gTotError;
                task.gDetailedLogText += s.task.gDetailedLogText;
                sessionErrors += s.task.gTotError;
                s.totals.gGlobalError += s.task.gTotError;
                s.task.gTotError = 0;
                s.task.gDetailedLogText.clear();
            }
            // The two top folders are now in step as of the run's start.
            tw_.SetBackupDateDitto(task.gSourceFolder, s.totals.gStartSyncDateTimeUTC);
            tw_.SetBackupDateDitto(task.gDestFolder, s.totals.gStartSyncDateTimeUTC);
        }
        // Once the top folders are stamped: they may lie on the volumes.
        volumes_.UnmountAllVolumesForSession(sessionLog.sessionIndex);
        const std::int64_t unmountErrors =
            sessionErrors_.Take(sessionLog.sessionIndex, &sessionLog.hookLogText);
        sessionLog.hookErrors += unmountErrors;
        s.totals.gGlobalError += unmountErrors;
        sessionLog.gTotError = sessionErrors + unmountErrors;
    }
    s.totals.gGlobalError += sessionErrors_.TakeRemaining();
}

}  // namespace qv::engine
