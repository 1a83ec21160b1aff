#pragma once
// The state of one run: who started it, the flags of the session being scanned, the counters
// of the task, the session and the whole run, the planned-actions trees and the log record.
// Written by the run's worker thread; only mIsCopying, mUserPressedStop and gTerminateAfterSync
// are shared with the front end, which may clear the first to stop the run.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/item_attributes.h"
#include "run/plan_item.h"
#include "run/run_progress.h"
#include "run/versions_settings.h"

namespace qv::run {

// Who started a run (mExecutedBy). Whether the run may ask questions is told apart
// (mMayAsk): a run of the command asks on a terminal and never does from a script.
inline constexpr int kExecutedByUser = 1;  // the console's button or menu
inline constexpr int kExecutedByTimer = 2;
inline constexpr int kExecutedBySyncAndQuit = 3;
inline constexpr int kExecutedBySyncAndLogout = 4;
inline constexpr int kExecutedByCommandLine = 5;
inline constexpr int kExecutedByTrigger = 6;  // a session's trigger: a volume, a change

// Lines of the detailed log that report an error begin with this marker ("√ ").
inline constexpr const char* kErrorMarker = "\xE2\x88\x9A ";

inline constexpr std::size_t kMaxListedErrors = 1000;

// Error policies (prefOnError and the forceToCase argument).
inline constexpr int kOnErrorStop = 1;
inline constexpr int kOnErrorContinue = 2;
inline constexpr int kOnErrorAsk = 3;

// Options of the session being scanned, read before its scan.
struct SessionFlags {
    bool gIsTimerOn = false;
    bool gIsMultiOn = false;
    bool gIsFilterOn = false;
    bool gIsExcludeOn = false;
    bool gIsInvisibleOn = true;
    bool gIsResolveAliasOn = false;
    bool gIsResolveSymLinkOn = false;
    bool gIsSkipEmptyFolders = false;
    bool gIsTreatPackagesAsFolders = false;
    bool gIsNewItemsOnly = false;
    bool gIsUnlockOn = true;
    bool gIsMoveToTrash = false;
    bool gCheckAttrChanged = false;
    bool gCreateDestFolder = false;
    std::string gCreateDestFolderCustomNameFormat;
    std::int64_t gCreateDestFolderNameKind = 1;
    bool mSkipCheckPermissions = false;
    bool gIsSyncOn = false;
    bool gIsExactOn = false;
    VersionsSettings versions;
};

// One conflict kind: whether its planned action proceeds, and whether the user is asked.
struct ConflictPolicy {
    bool proceeds = true;
    bool ask = false;
};

struct ConflictPolicies {
    ConflictPolicy backup;       // code 11
    ConflictPolicy backup2;      // code 12
    ConflictPolicy exactBackup;  // codes 21, 22
    ConflictPolicy sync;         // code 31
    ConflictPolicy exactSync;    // codes 41, 42
    ConflictPolicy fileFolder;   // codes 51, 52
};

// Counters the copy of a task adds to its log record.
struct CopyCounters {
    std::int64_t gAFoldersCreated = 0, gAFilesRenamed = 0, gAFilesCopied = 0, gAFilesReplaced = 0,
                 gAFoldersDeleted = 0, gAFilesDeleted = 0, gAItemInvisible = 0, gAItemVisible = 0;
    std::int64_t gBFoldersCreated = 0, gBFilesRenamed = 0, gBFilesCopied = 0, gBFilesReplaced = 0,
                 gBFoldersDeleted = 0, gBFilesDeleted = 0, gBItemInvisible = 0, gBItemVisible = 0;
    std::int64_t gAFoldersTrashed = 0, gAFilesTrashed = 0, gBFoldersTrashed = 0, gBFilesTrashed = 0;
    // Items moved into the versions folder of each side.
    std::int64_t gAVersionsKept = 0, gBVersionsKept = 0;
};

// An item of a folder that a task's scan found with the same names on both sides and nothing
// to do among them: what the ExactSync index keeps of it.
struct SettledEntry {
    std::string name;
    platform::ItemType type = platform::ItemType::Missing;  // as listed, the same on both sides
    bool isFolder = false;  // a directory that is not a package: a folder of the index
    bool stamp = false;     // a file or package whose backup date the index rebuild sets
    // Each side's record of a file as the scan found it (ItemRecord), for the index.
    std::uint64_t aRecord = 0, bRecord = 0;
};
// A folder that a task's scan found with the same names on both sides and nothing to do among
// them.
struct SettledFolder {
    // Each side's inode and status-change time when the scan listed it. Adding, removing or
    // renaming a name changes the time; a time unchanged since, and older than the run, shows
    // that the folder still holds what the scan found.
    platform::Timestamp aChanged, bChanged;
    ino_t aInode = 0, bInode = 0;
    std::vector<SettledEntry> entries;
    // False: the folder was not settled, and entries are the items the scan left as they were,
    // with their records: its files in step since the last exact run (stamp false: the rebuild
    // leaves their backup dates alone) and the others (stamp true); the times and inodes are not
    // set.
    bool complete = true;
};
// Such folders by their path below the task's two folders ("" for the top, then "/name"...).
// When the index is rebuilt, a folder that still holds the same names (another task of the run,
// or someone else, may have changed it) takes its kinds and stamps from here: its files already
// in step since the last exact run keep their dates.
using SettledFolders = std::unordered_map<std::string, SettledFolder>;

// What one task counts and lists while it is scanned and copied: the same struct for the task in
// hand and for its log record, which takes it whole when the task ends.
struct TaskFigures {
    std::int64_t gAFoldersScanned = 0, gAFilesScanned = 0, gBFoldersScanned = 0, gBFilesScanned = 0;
    std::int64_t gTotError = 0;
    std::int64_t gItemsToDo = 0;
    std::int64_t gConflictsSkipped = 0;
    std::string gDetailedLogText;
    std::vector<std::string> restoreBackupDateArray;
    // Both paths of each conflict of an exact task left as it was (dropped or skipped): never
    // in step, so that no later run takes either side for one in step by a date.
    std::vector<std::string> skippedConflictArray;
    // Paths kept in the ExactSync index of the task although gone from their side (deletions
    // the user cancelled in the preview).
    std::vector<std::string> addToExactIndexArray;
    // Both sides of each item the copy wrote to or read from: what changed there during the run
    // was the run's doing.
    std::vector<std::string> doneItemArray;
    // What the scan of the task found settled (Exact Synchronize only).
    SettledFolders settledFolders;

    // Empties the text and the lists; the counters stay.
    void ClearLists();
};

struct TaskLog : TaskFigures {
    std::int64_t taskIndex = 0;
    std::string gSourceFolder;
    std::string gDestFolder;
    std::string gSourceFileName;  // a task between two files: their names
    std::string gDestFileName;
    bool walked = false;   // the folders were valid and the walk completed
    bool scanned = false;  // the folders passed their checks and were read: the task can be done
    bool copyCompleted = false;                // the task's copy ran to its end
    std::optional<CopyCounters> copyCounters;  // once the task's copy ended
    // Both sides of each item whose action failed: not brought into step, they keep what the
    // index knew of them, and their backup dates.
    std::vector<std::string> failedItemArray;
};

struct MultiRow {
    std::string source;
    std::string destination;
};

struct SessionLog {
    std::int64_t sessionIndex = 0;
    std::optional<std::vector<MultiRow>> executiveMultiArray;
    // The descriptions of the filter rows in force, in table order.
    std::optional<std::vector<std::string>> executiveFilterArray;
    std::optional<std::vector<std::string>> executiveExcludeArray;
    std::vector<TaskLog> logTaskArray;
    std::int64_t gTotError = 0;
    // Errors of the session's own steps (its scripts, its volumes), which belong to none of its
    // tasks, and their lines for the detailed log.
    std::int64_t hookErrors = 0;
    std::string hookLogText;
};

// Items a run counts by category (the preview and the progress display read them).
struct CategoryCounters {
    std::int64_t gItemsAtoB = 0;         // modes 2 and 4
    std::int64_t gItemsBtoA = 0;         // modes 3 and 5
    std::int64_t gItemsToDelete = 0;     // modes 6 and 7
    std::int64_t gItemsAttrAtoB = 0;     // mode 8
    std::int64_t gItemsAttrBtoA = 0;     // mode 9
    std::int64_t gFoldersToDescend = 0;  // folders stored with mode 1

    // The counter of a copy mode, or nullptr for modes that have none.
    std::int64_t* ForMode(int copyMode);
};

// What is in force for the run: who started it, the preferences, and the options of the session
// being scanned.
struct RunConfig {
    int mExecutedBy = kExecutedByUser;
    // Someone is there to answer: conflicts may ask, errors follow prefOnError, the preview
    // is shown. Otherwise conflicts that would ask are skipped and errors do not stop the run.
    bool mMayAsk = true;
    std::int64_t gModificationDelta = 0;
    bool gMakeDetailedLog = true;
    bool gMakeErrorsLog = false;
    int gIsOnError = kOnErrorAsk;
    bool prefPreview = false;
    // An exact task that would delete the items of one side because the other side is empty
    // asks first (or, unattended, fails).
    bool prefConfirmEmptySideDeletion = true;
    double mIntervalToUpdateConsole = 0;  // seconds between two progress refreshes
    SessionFlags flags;
    ConflictPolicies conflicts;
};

// Where the run is among its sessions and the rows of a multiple list.
struct SessionInHand {
    std::int64_t mSessionIndex = 0;
    std::int64_t gOldSessionIndex = -1;
    std::int64_t gTotSessions = 0, gTotSessionsDone = 0;
    std::int64_t gTotMulti = 0, gTotMultiDone = 0, gCurrentMultiIndex = 0;
    std::vector<MultiRow> executiveMultiArray;
    std::vector<std::string> executiveExcludeArray;
    std::vector<std::string> executiveCannotAutomountArray;  // volumes that failed to mount
};

// The task being scanned or copied: its folders, and what it counts.
struct TaskInHand : TaskFigures {
    std::string gSourceFolder;
    std::string gDestFolder;
    // A task between two files: gSourceFolder and gDestFolder are their folders, and these
    // are the two files' names; nothing else in those folders belongs to the task.
    std::string gSourceFileName;
    std::string gDestFileName;
    std::optional<double> mainSourceFolderBackupDate;
    std::optional<double> mainDestFolderBackupDate;
    bool gCompareExactSyncAtIndex = false;
    std::uint64_t bytesToDo = 0;  // the file content the task's planned actions copy
    // Copy counters of the task being performed, and the lines of a folder being trashed.
    CopyCounters copy;
    std::string gTrashDetailedLogText;
    // Top-level names never copied, and folders copied empty.
    std::vector<std::string> bootFoldersToCopyEmptyArray;
    std::vector<std::string> bootItemsToDontCopyArray;
};

// What the whole run has counted.
struct RunTotals {
    double gStartSyncDateTime = 0;
    double gEndSyncDateTime = 0;
    std::int64_t gStartSyncDateTimeUTC = 0;  // whole seconds since 1970 UTC
    std::int64_t gItemsToDoTotal = 0;
    // The file content the run's plan copies, as the scan saw it: items skipped in the preview
    // are still counted, so this is an estimate for the progress display, never a log figure.
    std::uint64_t bytesToDoTotal = 0;
    std::int64_t gItemsSkipped = 0;      // items the user skipped in the preview
    std::int64_t gItemsAtCopyStart = 0;  // the progress maximum of the copy
    std::int64_t gGlobalItemsScanned = 0;
    std::int64_t gGlobalConflictsSkipped = 0;
    std::int64_t gSpecialFilesSkipped = 0;  // FIFOs, sockets, devices: never copied
    std::int64_t gGlobalError = 0;
    // The messages of the errors counted, in order, whatever the log kind: what a front end
    // lists at the end of a run without reading the log. The first kMaxListedErrors only: a
    // run with a million unreadable files keeps them in its log, not twice.
    std::vector<std::string> gErrorMessages;
    CategoryCounters categories;
    bool gAtLeastOneItemDone = false;
    // The scan's result: false when the last task scanned failed, so the run copies nothing.
    bool gScanSucceeded = false;
};

// The planned actions of every task, and what the copy learnt of them for the index.
struct RunPlan {
    std::vector<TaskRoot> taskRootList;
    std::vector<std::vector<std::string>> exactIndexAdditionLists;
    std::vector<std::vector<std::string>> failedItemLists;  // per task root, see failedItemArray
    std::vector<std::vector<std::string>> doneItemLists;    // per task root, see doneItemArray
    std::vector<std::string> gItemsDeleted;
};

struct RunState {
    // Shared with the front end.
    std::atomic<bool> mIsCopying{false};
    std::atomic<bool> mUserPressedStop{false};
    // The run was stopped because the user quits the application: the log says so instead of
    // the Stop button.
    std::atomic<bool> gTerminateAfterSync{false};

    RunConfig config;
    SessionInHand session;
    TaskInHand task;
    RunTotals totals;
    RunPlan plan;
    RunProgress progress;                     // read by the front end during the copy
    std::vector<SessionLog> logSessionArray;  // the record: each session with its tasks' records

    // The message being assembled and the title of the dialog that shows it.
    std::string mErrString;
    std::string gErrorTitleDialog;

    bool MayAsk() const { return config.mMayAsk; }
    bool IsRunning() const { return mIsCopying.load(std::memory_order_relaxed); }
};

}  // namespace qv::run
