#include "engine/run_engine.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "engine/folder_scanner.h"
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
#include "sessions/volume_editor.h"

namespace qv::engine {

using platform::GLS;

RunEngine::RunEngine(const sessions::SessionDocument& document, const plist::Value& preferences,
                     run::MainThreadProxy& proxy, ExactSyncIndex& index,
                     run::CopyExecutor& executor, const items::TWUtilities& tw, RunOptions options)
    : document_(document),
      preferences_(preferences),
      proxy_(proxy),
      index_(index),
      executor_(executor),
      tw_(tw),
      options_(std::move(options)),
      errors_(state_, proxy),
      validator_(errors_, tw),
      sessionErrors_(state_, errors_),
      hooks_(state_, sessionErrors_, document_,
             options_.childRunner ? *options_.childRunner : platform::SystemChildRunner()),
      volumes_(state_, sessionErrors_, document_,
               options_.childRunner ? *options_.childRunner : platform::SystemChildRunner()) {}

RunEngine::~RunEngine() {
    if (worker_.joinable()) {
        state_.mIsCopying = false;
        worker_.join();
    }
}

void RunEngine::Stop(bool quitting) {
    // The worker notices at its next check. A run that has ended is not started again; one
    // that is only running the after-scripts owed after a Stop ends them.
    if (!state_.IsRunning()) {
        hooks_.StopAfterScripts();
        return;
    }
    if (quitting) state_.gTerminateAfterSync = true;
    state_.mIsCopying = false;
    state_.mUserPressedStop = true;
}

void RunEngine::TaskExecuteSyncOrBackup(int executedBy, bool mayAsk) {
    if (state_.IsRunning()) {
        Stop();
        return;
    }
    if (worker_.joinable()) worker_.join();
    state_.config.mExecutedBy = executedBy;
    state_.config.mMayAsk = mayAsk;
    // Marked as running before the thread starts, so that a Stop right away is not lost.
    state_.mUserPressedStop = false;
    state_.gTerminateAfterSync = false;
    state_.mIsCopying = true;
    {
        std::lock_guard lock(workerMutex_);
        workerDone_ = false;
    }
    worker_ = std::thread([this] {
        ExecuteMarkedRun();
        std::lock_guard lock(workerMutex_);
        workerDone_ = true;
        workerEnded_.notify_all();
    });
}

void RunEngine::Wait() {
    if (worker_.joinable()) worker_.join();
}

bool RunEngine::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(workerMutex_);
    return workerEnded_.wait_for(lock, timeout, [this] { return workerDone_; });
}

const plist::Value* RunEngine::Session(std::int64_t index) const {
    return document_.GetSessionDict(index);
}

void RunEngine::ExecuteSyncBackup() {
    state_.mUserPressedStop = false;
    state_.gTerminateAfterSync = false;
    state_.mIsCopying = true;
    ExecuteMarkedRun();
}

void RunEngine::TakeRecord() {
    if (options_.takeRecord) options_.takeRecord(state_);
}

void RunEngine::ExecuteMarkedRun() {
    if (options_.atWorkerStart) options_.atWorkerStart(state_);
    PurgeBeforeWholeSyncBackup();
    proxy_.PurgeBeforeWholeSyncBackup(state_);

    const std::int64_t remembered = state_.session.mSessionIndex;
    const bool all =
        options_.allSessions ||
        (options_.sessionIndex < 0 && document_.IsAllSessions(state_.session.mSessionIndex));
    sessionErrors_.Clear();
    PrepareVolumes();
    CompileScripts(all);
    const bool scanned = all ? ScanAllSessions() : ScanOneSession(state_.session.mSessionIndex);
    state_.session.mSessionIndex = remembered;
    state_.totals.gScanSucceeded = scanned && state_.IsRunning();

    if (!state_.IsRunning() || !scanned) {
        PurgeAfterWholeSyncBackup();
        TakeRecord();
    } else {
        bool goOn = true;
        if (!state_.plan.taskRootList.empty() && state_.config.prefPreview && state_.MayAsk()) {
            goOn = proxy_.ShowPreview(state_);
            if (!goOn) {
                state_.mUserPressedStop = true;
                state_.mIsCopying = false;
            }
        }
        if (goOn && !options_.scanOnly) {
            state_.config.mIntervalToUpdateConsole = 0;
            if (state_.totals.gItemsToDoTotal > 0) {
                PurgeBeforeMainCopy();
                proxy_.PurgeBeforeMainCopy(state_);
            }
            JournalDeletions();
            executor_.MainCopy(state_, *this);
        }
        PurgeAfterWholeSyncBackup();
        if (goOn) TakeRecord();
    }
    proxy_.ConcludeWholeSyncBackup(state_);
    if (state_.config.mExecutedBy == run::kExecutedByTimer) proxy_.SchedulingTimerDone(state_);
    state_.session.gOldSessionIndex = -1;
    state_.mIsCopying = false;
}

void RunEngine::PrepareVolumes() {
    MountSetting setting = MountSettingFor(preferences_);
    setting.stop = &state_.mUserPressedStop;
    volumes_.Prepare(setting, options_.scanOnly);
}

void RunEngine::CompileScripts(bool allSessions) {
    if (options_.scanOnly) return;  // a plan changes nothing, and scripts may
    std::vector<std::int64_t> sessions;
    if (allSessions) {
        for (std::int64_t i = 0; i < document_.SessionCount(); ++i) sessions.push_back(i);
    } else {
        sessions.push_back(state_.session.mSessionIndex);
    }
    const std::optional<platform::InvokingUserInfo> user = platform::InvokingUser();
    hooks_.Compile(sessions,
                   sessions::ScriptTimeout(
                       preferences_.intAt("prefScriptTimeout", sessions::kDefaultScriptTimeout)),
                   ::geteuid() == 0, user ? user->uid : ::getuid());
}

std::int64_t RunEngine::TaskErrorsOf(std::int64_t sessionIndex) const {
    std::int64_t errors = 0;
    for (const run::SessionLog& session : state_.logSessionArray) {
        if (session.sessionIndex != sessionIndex) continue;
        for (const run::TaskLog& task : session.logTaskArray) errors += task.gTotError;
    }
    return errors;
}

bool RunEngine::ScanAllSessions() {
    state_.session.gTotSessions = document_.SessionCount();
    state_.session.gTotSessionsDone = 0;
    // As with the rows of one session: a session that can't be scanned does not hold back the
    // others.
    bool anyScanned = state_.session.gTotSessions == 0;
    for (std::int64_t i = 0; i < state_.session.gTotSessions && state_.IsRunning(); ++i) {
        anyScanned = ScanOneSession(i) || anyScanned;
    }
    return anyScanned;
}

bool RunEngine::ScanOneSession(std::int64_t sessionIndex) {
    PurgeBeforeScanOneSession(sessionIndex);
    bool result = true;
    const plist::Value* session = Session(sessionIndex);
    if (state_.IsRunning() && session != nullptr) {
        if (!state_.config.flags.gIsMultiOn) {
            const plist::Value* console = session->dictAt("consoleDict");
            state_.task.gSourceFolder = console ? console->stringAt("topFolder") : "";
            state_.task.gDestFolder = console ? console->stringAt("bottomFolder") : "";
            if (CheckIfCreateSubDestFolder(sessionIndex, 0)) {
                state_.session.gTotMulti = 1;
                state_.session.gTotMultiDone = 0;
                result = ScanOneTask(sessionIndex, 0);
            }
        } else {
            result = ScanMultiTask(sessionIndex);
        }
    }
    PurgeAfterScanOneSession(sessionIndex);
    return state_.IsRunning() ? result : true;
}

bool RunEngine::ScanMultiTask(std::int64_t sessionIndex) {
    state_.session.gTotMultiDone = 0;
    state_.session.gTotMulti = static_cast<std::int64_t>(state_.session.executiveMultiArray.size());
    // Rows that copy a folder into itself through each other nest one level deeper at every
    // run: none of them is done (a document from elsewhere was never checked by the panel).
    const plist::Value* session = Session(sessionIndex);
    const plist::Value* multi = session ? session->dictAt("multiDict") : nullptr;
    if (std::string why = multi ? sessions::MultiEditor(*multi).CheckRowsDoNotNest() : "";
        !why.empty()) {
        PurgeBeforeScanOneTask();
        errors_.SetErrMsg({why});
        errors_.LogAndCountError();
        PurgeAfterScanOneTask(0, false);
        return false;
    }
    rowGroups_ = RowGroups(state_.session.executiveMultiArray);
    // A row whose folders can't be scanned is an error of that row: the rows that could be
    // scanned are still done, whatever their order.
    bool tried = false;
    bool anyScanned = false;
    for (std::size_t i = 0; i < state_.session.executiveMultiArray.size(); ++i) {
        const run::MultiRow row = state_.session.executiveMultiArray[i];
        if (row.source.empty() || row.destination.empty()) continue;
        state_.task.gSourceFolder = row.source;
        state_.task.gDestFolder = row.destination;
        if (CheckIfCreateSubDestFolder(sessionIndex, static_cast<std::int64_t>(i))) {
            state_.session.gCurrentMultiIndex = static_cast<std::int64_t>(i) + 1;
            tried = true;
            currentRow_ = i;
            anyScanned = ScanOneTask(sessionIndex, static_cast<std::int64_t>(i)) || anyScanned;
            currentRow_.reset();
        }
        if (!state_.IsRunning()) break;
    }
    return !tried || anyScanned;
}

bool RunEngine::SharesAFolderWithAnEarlierTask(const std::string& source, const std::string& dest) {
    // Only folders can hold one another; a file-to-file task is judged by its files' folders.
    const auto folderOf = [this](const std::string& path) {
        return tw_.IsReallyFolder(path) ? path : platform::ParentFolder(path);
    };
    const run::SessionFlags& f = state_.config.flags;
    const TaskFolders here{folderOf(source), folderOf(dest), f.gIsSyncOn,
                           !f.gIsSyncOn && f.gIsExactOn};
    const auto overlap = [](const std::string& x, const std::string& y) {
        return platform::FolderLiesInside(x, y) || platform::FolderLiesInside(y, x);
    };
    for (const TaskFolders& earlier : runFolders_) {
        // An exact backup deletes from its destination whatever its source lacks. Sharing a
        // folder with another task that writes there, it deletes that task's copies (which a
        // synchronisation's index then deletes from its other side), or, in a circle, what
        // one side alone held. Synchronisations sharing a folder reconcile through their
        // indexes, and a task reading what an earlier one wrote is a chain: both are fine.
        if (!here.exactBackup && !earlier.exactBackup) continue;
        const bool writesIntoEarlier =
            overlap(here.dest, earlier.dest) || overlap(here.dest, earlier.source) ||
            (here.sync &&
             (overlap(here.source, earlier.dest) || overlap(here.source, earlier.source)));
        if (writesIntoEarlier) {
            errors_.SetErrMsg({GLS("An earlier task of this run copies into or from this task's "
                                   "destination: this task is not done, so that neither finds "
                                   "the other's copies unplanned:"),
                               "\r", run::Quoted(source), "\r", run::Quoted(dest)});
            return true;
        }
    }
    runFolders_.push_back(here);
    return false;
}

bool RunEngine::CheckIfCreateSubDestFolder(std::int64_t sessionIndex, std::int64_t taskIndex) {
    const run::SessionFlags& f = state_.config.flags;
    if (!f.gCreateDestFolder) return true;
    std::string name = sessions::GetDestSubFolderName(
        document_, sessionIndex, true, state_.task.gSourceFolder, f.gCreateDestFolderNameKind,
        f.gCreateDestFolderCustomNameFormat, static_cast<double>(std::time(nullptr)));
    // A name may hold "/" (a date pattern such as yyyy/MM/dd): it names one folder, not three.
    for (char& c : name) {
        if (c == '/') c = ':';
    }
    std::string problem = sessions::SubFolderNameProblem(name);
    const std::string subFolder = platform::JoinPath(state_.task.gDestFolder, name);
    std::string reason;
    if (problem.empty()) {
        const platform::ItemAttributes there = platform::ReadItemAttributes(subFolder.c_str());
        // Only a folder of the destination is taken: a link put at tomorrow's name by whoever
        // can write there would otherwise lead the run (and an exact run's deletions) into
        // any folder it points at.
        if (there.isDirectory()) {
            state_.task.gDestFolder = subFolder;
            return true;
        }
        if (there.exists()) {
            problem = GLS("A link or a file stands at its name; the run does not follow it:") +
                      " " + run::Quoted(subFolder);
        } else if (tw_.mEuidIsRoot &&
                   !platform::CheckFolderWay(state_.task.gDestFolder, documentOwner_)
                        .untrusted.empty()) {
            // Root makes nothing where another user could have led it: the folder's check
            // refuses the task and names the way.
            return true;
        } else if (!platform::IsExistingFolder(state_.task.gDestFolder) || options_.scanOnly) {
            // A missing destination (a backup disk not mounted) is not made here, or the run
            // would fill the disk it should not: the task's check reports it. The plan command
            // creates nothing: it plans the sub-folder as if it were there, empty.
            state_.task.gDestFolder = subFolder;
            return true;
        } else if (platform::CreateFolderWithFoldersInBetween(subFolder, &reason,
                                                              platform::CreatedOwner::Process)) {
            state_.task.gDestFolder = subFolder;
            return true;
        }
    }
    // Skipping the session quietly would leave a user believing it ran: the failure is an
    // error of the task, recorded with the destination it was meant for.
    PurgeBeforeScanOneTask();
    if (!problem.empty()) {
        errors_.SetErrMsg({GLS("Can't make the sub-folder of the destination"), " ",
                           run::Quoted(state_.task.gDestFolder), ". ", problem});
    } else {
        errors_.SetErrMsg({GLS("Can't create the folder"), " ", run::Quoted(subFolder),
                           reason.empty() ? "" : ": ", reason});
    }
    errors_.LogAndCountError();
    PurgeAfterScanOneTask(taskIndex, false);
    return false;
}

bool RunEngine::ScanOneTask(std::int64_t sessionIndex, std::int64_t taskIndex) {
    PurgeBeforeScanOneTask();
    const TaskOutcome outcome = ScanTaskFolders(sessionIndex, taskIndex);
    PurgeAfterScanOneTask(taskIndex, outcome.walked, outcome.ok && outcome.privilegesOk);
    return outcome.ok;
}

RunEngine::TaskOutcome RunEngine::ScanTaskFolders(std::int64_t sessionIndex,
                                                  std::int64_t taskIndex) {
    std::string source = state_.task.gSourceFolder;
    std::string dest = state_.task.gDestFolder;
    // A sub-folder the plan command did not create: validate its parent, plan it empty.
    const bool missingSubFolder =
        options_.scanOnly && state_.config.flags.gCreateDestFolder && !platform::ItemExists(dest);
    const std::string validatedDest = missingSubFolder ? platform::ParentFolder(dest) : dest;
    if (!validator_.FoldersAreValid(source, validatedDest, 0)) return {.ok = false};
    if (SharesAFolderWithAnEarlierTask(source, validatedDest)) {
        errors_.AddErrQuickly(0);
        return {.ok = false};
    }
    source = state_.task.gSourceFolder;
    dest = missingSubFolder ? dest : state_.task.gDestFolder;
    state_.task.gDestFolder = dest;
    const run::SessionFlags& f = state_.config.flags;
    const std::string start =
        GLS(f.gIsSyncOn ? (f.gIsExactOn ? "Start Exact Synchronization between:\nSource: "
                                        : "Start Synchronization between:\nSource: ")
                        : (f.gIsExactOn ? "Start Exact Backup between:\nSource: "
                                        : "Start Backup between:\nSource: "));
    platform::SystemLog(start + source + "\n" + GLS("Destination") + ": " + dest);

    run::TaskRoot root;
    root.sessionIndex = sessionIndex;
    root.taskIndex = taskIndex;
    if (!tw_.IsReallyFolder(source) && !tw_.IsReallyFolder(dest)) {
        // A task between two files: the root is their folders, with the one pair in it.
        run::PlanItem first;
        first.name = platform::LastPathComponent(source);
        const std::string destName = platform::LastPathComponent(dest);
        if (destName != first.name) first.destName = destName;
        state_.task.gSourceFileName = first.name;
        state_.task.gDestFileName = destName;
        first.copyMode = run::kModeDescend;
        root.subItems.push_back(std::move(first));
        source = platform::ParentFolder(source);
        dest = platform::ParentFolder(dest);
        state_.task.gSourceFolder = source;
        state_.task.gDestFolder = dest;
    }
    // A sub-folder the plan command did not create is checked through its parent.
    if (!TopPrivilegesOk(source, missingSubFolder ? validatedDest : dest)) {
        return {.ok = true, .privilegesOk = false};
    }
    root.source = source;
    root.dest = dest;
    return WalkTaskRoot(std::move(root));
}

bool RunEngine::TopPrivilegesOk(const std::string& source, const std::string& dest) {
    if (state_.config.flags.mSkipCheckPermissions ||
        validator_.CheckPrivilegesOnFiles(source, dest, run::kModeDescend) == 0) {
        return true;
    }
    ReportPrivileges(false);
    return false;
}

RunEngine::TaskOutcome RunEngine::WalkTaskRoot(run::TaskRoot root) {
    const run::SessionFlags& f = state_.config.flags;
    root.copyMode = run::kModeDescend;
    root.isTheRootOfTheTree = true;
    root.gIsSyncOn = f.gIsSyncOn;
    state_.task.mainSourceFolderBackupDate = tw_.GetDate(root.source, items::kBackupDate);
    state_.task.mainDestFolderBackupDate = tw_.GetDate(root.dest, items::kBackupDate);
    const bool exactSync = f.gIsSyncOn && f.gIsExactOn;
    state_.task.gCompareExactSyncAtIndex =
        index_.ExactSyncFileExists({root.source, root.dest, exactSync, !options_.scanOnly}, true);
    if (exactSync && !state_.task.gCompareExactSyncAtIndex) NoteExactSyncIndexNotUsed();
    FolderScanner scanner(state_, *this, validator_, tw_, index_, options_.caseProbe,
                          !options_.scanOnly);
    scanner.MakeItemsToDontCopyList();
    if (f.gIsFilterOn) scanner.SetFilter(filter_.get());
    if (currentRow_) scanner.SetOtherTops(rowGroups_.TopsCopiedWith(*currentRow_));
    const FolderScanner::ScanResult scan = scanner.ScanSingleFolder(root);
    if (scan == FolderScanner::ScanResult::kFoldersNotFound) return {.ok = false};
    // A task some folders of which could not be read still copies the rest; its ExactSync
    // index keeps what it held, since the unread folders were not seen.
    const bool walked = scan == FolderScanner::ScanResult::kComplete && state_.IsRunning();
    // Nothing is copied into a folder that may stand where a drive was; nothing of a task
    // whose empty side would delete the other is done, and its index stays as it was.
    if (!ChangedEmptyTopAccepted(root) || !EmptySideDeletionAllowed(root)) {
        return {.ok = false, .privilegesOk = true};
    }
    if (!root.subItems.empty() || !root.leftovers.empty() || !root.keepInIndex.empty()) {
        if (root.copyMode == run::kModeDescend) {
            ++state_.totals.categories.gFoldersToDescend;
        } else if (auto* counter = state_.totals.categories.ForMode(root.copyMode)) {
            ++*counter;
            ++state_.task.gItemsToDo;
        }
        state_.plan.exactIndexAdditionLists.push_back(std::move(root.keepInIndex));
        state_.plan.taskRootList.push_back(std::move(root));
    }
    return {.ok = true, .walked = walked, .privilegesOk = true};
}

namespace {

// The items a tree deletes on one side (a folder and each item inside it count one each).
std::int64_t CountDeletions(const std::vector<run::PlanItem>& items, int mode) {
    std::int64_t n = 0;
    for (const run::PlanItem& item : items) {
        if (item.copyMode == mode) ++n;
        n += CountDeletions(item.subItems, mode);
    }
    return n;
}

}  // namespace

bool RunEngine::ChangedEmptyTopAccepted(const run::TaskRoot& root) {
    run::RunState& s = state_;
    const int side = index_.ChangedTopSide();
    if (side < 0) return true;
    const std::int64_t scanned = side == kSideA ? s.task.gAFilesScanned + s.task.gAFoldersScanned
                                                : s.task.gBFilesScanned + s.task.gBFoldersScanned;
    if (scanned != 0) return true;
    // An empty folder that is not the one the index knew: most often the mount point of a
    // drive that is not plugged in. Filling it would fill the system's disk with a copy.
    const std::string message = platform::FormatText(
        GLS("The folder \"%@\" is not the one the last run knew: is its drive unmounted?"),
        {run::LogName(side == kSideA ? root.source : root.dest)});
    if (s.MayAsk() &&
        proxy_.AskSkipAndContinue(
            GLS("Warning:"),
            message + "\r" + GLS("Continue copies the other side into it all the same."))) {
        return true;
    }
    errors_.SetErrMsg({message});
    errors_.LogAndCountError();
    return false;
}

bool RunEngine::EmptySideDeletionAllowed(const run::TaskRoot& root) {
    run::RunState& s = state_;
    if (!s.config.flags.gIsExactOn || !s.config.prefConfirmEmptySideDeletion) return true;
    // A side that held nothing the walk examined, while the plan empties the other: an
    // unplugged drive, a wrong folder, a script that cleared it. Its deletions are not done
    // without a person saying so.
    for (const bool aEmpty : {true, false}) {
        const std::int64_t scanned = aEmpty ? s.task.gAFilesScanned + s.task.gAFoldersScanned
                                            : s.task.gBFilesScanned + s.task.gBFoldersScanned;
        const std::int64_t deletions =
            CountDeletions(root.subItems, aEmpty ? run::kModeDeleteInB : run::kModeDeleteInA);
        if (scanned != 0 || deletions == 0) continue;
        const std::string& empty = aEmpty ? root.source : root.dest;
        const std::string& other = aEmpty ? root.dest : root.source;
        const std::string message = platform::FormatText(
            GLS("The folder \"%@\" is empty. Delete the %ld items of \"%@\"?"),
            {run::LogName(empty), std::to_string(deletions), run::LogName(other)});
        if (s.MayAsk() && proxy_.ConfirmDeletion(message)) return true;
        errors_.SetErrMsg({message});
        errors_.LogAndCountError();
        return false;
    }
    return true;
}

void RunEngine::NoteExactSyncIndexNotUsed() {
    // Without the index, what is missing on one side cannot be told from what is new on the
    // other: the task synchronizes like a plain Synchronize and deletes nothing.
    run::RunState& s = state_;
    const std::string problem = run::LogName(index_.LoadProblem());
    if (problem.empty()) {
        if (s.config.gMakeDetailedLog) {
            s.task.gDetailedLogText +=
                GLS("No Exact Sync index of these two folders yet: this run deletes nothing.") +
                "\r";
        }
        return;
    }
    platform::SystemLog(GLS("The Exact Sync index of these two folders cannot be read") + ": " +
                        problem);
    if (index_.ChangedTopSide() >= 0) {
        // Another folder at a side's path: the index speaks of folders that are not there. Not
        // a fault of the index; what is done about an empty one is decided after the scan.
        if (s.config.gMakeDetailedLog || s.config.gMakeErrorsLog) {
            s.task.gDetailedLogText += problem + ". " + GLS("This run deletes nothing.") + "\r";
        }
        return;
    }
    // A damaged index undoes, for this run, every deletion the user made since the last one:
    // the user must hear of it, and the run must not end as a clean one.
    errors_.SetErrMsg({GLS("The Exact Sync index of these two folders cannot be read"), ": ",
                       problem, ". ",
                       GLS("This run copies both ways and deletes nothing: what was deleted on "
                           "one side since the last run comes back from the other.")});
    errors_.LogAndCountError();
}

// Whose settings the run carries out: the owner of the document's file (the template's while
// it is open), else the user a root instance was started for, else this process's user.
uid_t RunEngine::DocumentOwner() const {
    // The file as it was read: the path may lead to another one now.
    if (document_.readFrom) return document_.readFrom->owner;
    const std::string& file =
        document_.isDocumentTemplate ? document_.pathFileDocTemplate() : document_.pathDocumentFile;
    const platform::ItemAttributes a = platform::ReadItemAttributes(file.c_str());
    if (!file.empty() && a.exists()) return a.uid;
    if (const std::optional<platform::InvokingUserInfo> user = platform::InvokingUser()) {
        return user->uid;
    }
    return ::geteuid();
}

void RunEngine::ReportPrivileges(bool locked) {
    errors_.LogAndCountError();
    if (!state_.MayAsk() || state_.config.gIsOnError == run::kOnErrorContinue) return;
    // Someone is there to act on it: say what would let the run go on.
    errors_.AppendErrMsg(
        {"\r",
         locked ? GLS("Try to unmark the check-box \"Locked\" in the Finder \"Get Info\" "
                      "panel or to mark the check-box")
                : GLS("Try to log in as root or mark the check-box"),
         " \"", GLS(locked ? kUnlockCheckboxTitle : kRunAsRootCheckboxTitle), "\" ",
         GLS(locked ? "in the QV Settings panel" : "in the QV Preferences panel")});
    state_.gErrorTitleDialog = GLS(locked ? "Item Locked" : "Insufficient Privileges") + ":";
    errors_.ManageTheError(state_.mErrString, 0);
    state_.gErrorTitleDialog = GLS("Warning:");
}

void RunEngine::OnScanError(const ScanError& error) {
    state_.mErrString = error.text;
    if (error.kind == ScanError::Kind::kPrivileges) {
        ReportPrivileges(error.locked);
        return;
    }
    errors_.LogAndCountError();
    errors_.ManageTheError(state_.mErrString, 0);
}

run::ConflictReply RunEngine::OnQuestion(const run::ConflictQuestion& question) {
    return errors_.AskReplace(question);
}

void RunEngine::OnScanProgress() { errors_.proxy().ScanProgress(state_); }

}  // namespace qv::engine
