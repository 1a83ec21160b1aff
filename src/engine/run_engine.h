#pragma once
// A run: every task of the current session (or of all sessions) scanned into a tree of planned
// actions, optionally previewed, performed, and concluded (backup dates of the task folders,
// the log record). The run body executes on a worker thread of its own and reaches the front
// end only through the MainThreadProxy.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/exact_sync_index.h"
#include "engine/folder_listing.h"
#include "engine/item_filter.h"
#include "engine/row_groups.h"
#include "engine/scan_listener.h"
#include "engine/session_hooks.h"
#include "engine/volume_passes.h"
#include "items/error_path.h"
#include "items/tw_utilities.h"
#include "items/validation.h"
#include "run/copy_executor.h"
#include "run/main_thread_proxy.h"
#include "run/run_state.h"
#include "sessions/plist_value.h"
#include "sessions/session_document.h"

namespace qv::engine {

struct RunOptions {
    // Scan only: nothing on disk is created, stamped or copied (the plan command).
    bool scanOnly = false;
    // The session to run; -1 for the document's current session (or all, when it is "All").
    std::int64_t sessionIndex = -1;
    bool allSessions = false;
    // Preview the planned actions whatever prefPreview says.
    bool preview = false;
    CaseProbe caseProbe = ProbeCaseInsensitive;
    // The run's start in seconds since 1970, which dates what it brings into step; now when
    // not given (a replay of a run at a chosen time).
    std::optional<std::int64_t> startTime;
    // Starts the sessions' scripts and the mount tools (none: the real processes).
    platform::ChildRunner* childRunner = nullptr;
    // Takes the run's record on the worker once the run has ended, unless the user stopped in
    // the preview: the run service makes and saves the log there, before the front end hears
    // that the run has concluded.
    std::function<void(run::RunState&)> takeRecord;
    // Called first on the worker, before anything is scanned: the run service keeps the machine
    // awake from there (a wait for the login manager then holds up neither the front end nor a
    // Stop).
    std::function<void(run::RunState&)> atWorkerStart;
};

class RunEngine : private run::CopyHooks, private ScanListener {
  public:
    // The backup date of an item never brought into step (one side of a conflict left as it
    // was): earlier than any change.
    static constexpr std::int64_t kNeverInStepBackupDate = 1;

    RunEngine(const sessions::SessionDocument& document, const plist::Value& preferences,
              run::MainThreadProxy& proxy, ExactSyncIndex& index, run::CopyExecutor& executor,
              const items::TWUtilities& tw, RunOptions options = {});
    ~RunEngine();
    RunEngine(const RunEngine&) = delete;
    RunEngine& operator=(const RunEngine&) = delete;

    // Starts a run on a worker thread or, while one is going on, stops it. executedBy says who
    // started it (run::kExecutedByUser, run::kExecutedByTimer, ...), mayAsk whether someone is
    // there to answer its questions.
    void TaskExecuteSyncOrBackup(int executedBy, bool mayAsk);
    // Stops the run going on, if any; never starts one (a stop that arrives as a run ends must
    // not start another). quitting: the user quits the application, and the log says so.
    void Stop(bool quitting = false);
    // Waits for the worker thread of the last run, if any.
    void Wait();
    // Waits at most `timeout` for the worker of the last run to end; true once it has.
    bool WaitFor(std::chrono::milliseconds timeout);
    // The body of a run, on the calling thread.
    void ExecuteSyncBackup();

    run::RunState& state() { return state_; }
    const run::RunState& state() const { return state_; }

  private:
    // The body of a run already marked as running, so that a Stop that comes before the run
    // has prepared itself is not undone.
    void ExecuteMarkedRun();
    void TakeRecord();  // hands the record to whoever makes the log
    bool ScanAllSessions();
    bool ScanOneSession(std::int64_t sessionIndex);
    bool ScanMultiTask(std::int64_t sessionIndex);
    bool ScanOneTask(std::int64_t sessionIndex, std::int64_t taskIndex);
    // What the scan of a task came to: ok false fails the run's scan; walked: every folder
    // was read, so its index may be rebuilt; privilegesOk: the top folders may be acted on.
    struct TaskOutcome {
        bool ok = true;
        bool walked = false;
        bool privilegesOk = false;
    };
    TaskOutcome ScanTaskFolders(std::int64_t sessionIndex, std::int64_t taskIndex);
    bool TopPrivilegesOk(const std::string& source, const std::string& dest);
    // An item the run lacks the privileges for, or a locked one (the message already made):
    // counted, and put to whoever can grant them.
    void ReportPrivileges(bool locked);
    TaskOutcome WalkTaskRoot(run::TaskRoot root);
    // Moves gDestFolder into the session's sub-folder, when it asks for one, creating it. A
    // name that cannot be used or a folder that cannot be made is an error of the task, which
    // is then recorded without a scan.
    bool CheckIfCreateSubDestFolder(std::int64_t sessionIndex, std::int64_t taskIndex);

    void NoteExactSyncIndexNotUsed();
    // False when an exact task would empty one side because the other is empty, and no person
    // confirmed it (an unattended run never deletes so); the refusal is the task's error.
    bool EmptySideDeletionAllowed(const run::TaskRoot& root);
    // False when the index found one top folder to be another folder than it knew and that
    // folder is empty, and no person said to go on; the refusal is the task's error.
    bool ChangedEmptyTopAccepted(const run::TaskRoot& root);
    void PurgeBeforeWholeSyncBackup();
    void PurgeBeforeScanOneSession(std::int64_t sessionIndex);
    void PurgeBeforeScanAndCopyOneSession(const plist::Value& session);
    void PurgeBeforeScanOneTask();
    void PurgeAfterScanOneTask(std::int64_t taskIndex, bool walked, bool scanned = false);
    void PurgeAfterScanOneSession(std::int64_t sessionIndex);
    void PurgeBeforeMainCopy();
    // Writes down, for each task of a pair with an index, what its copy is about to delete.
    void JournalDeletions();
    // Gives the sides of conflicts left as they were the earliest backup date
    // (kNeverInStepBackupDate): neither was brought into step, so that every later run, with
    // an index or without, finds them in conflict again until someone decides.
    // A folder left so has every file below it marked the same way; so are the sides of a failed
    // action that have no backup date yet.
    void MarkNeverInStep(const run::TaskLog& task);
    void PurgeAfterWholeSyncBackup();

    // Around the copy of each task and session.
    void PurgeBeforeScanAndCopyOneSession(std::int64_t sessionIndex) override;
    void PurgeBeforeCopyOneTask() override;
    void PurgeAfterCopyOneTask(run::TaskLog& task) override;
    void PurgeAfterCopyOneSession(std::int64_t sessionIndex) override;
    // What a task's walk meets: counted, logged and put to the error policy here.
    void OnScanError(const ScanError& error) override;
    run::ConflictReply OnQuestion(const run::ConflictQuestion& question) override;
    void OnScanProgress() override;

    const plist::Value* Session(std::int64_t index) const;
    // The errors counted so far in the records of the session's tasks.
    std::int64_t TaskErrorsOf(std::int64_t sessionIndex) const;
    // Checks the scripts of the sessions the run takes, unless it only plans.
    void CompileScripts(bool allSessions);
    // How the sessions' volumes are mounted in this run.
    void PrepareVolumes();
    uid_t DocumentOwner() const;
    uid_t documentOwner_ = 0;  // of the run under way, read once as it is prepared

    const sessions::SessionDocument& document_;
    const plist::Value& preferences_;
    run::MainThreadProxy& proxy_;
    ExactSyncIndex& index_;
    run::CopyExecutor& executor_;
    const items::TWUtilities& tw_;
    RunOptions options_;
    run::RunState state_;
    items::ErrorPath errors_;
    items::Validator validator_;
    SessionErrors sessionErrors_;
    SessionHooks hooks_;
    VolumePasses volumes_;
    std::thread worker_;
    std::mutex workerMutex_;
    std::condition_variable workerEnded_;
    bool workerDone_ = true;
    std::int64_t currentSessionLog_ = -1;
    // The filters of the session being scanned, compiled when its flags are loaded.
    std::unique_ptr<ItemFilter> filter_;
    // The two folders of each task of the run taken so far: every task is scanned before any
    // is copied, so a later task may not share a folder an earlier one copies into.
    struct TaskFolders {
        std::string source;
        std::string dest;
        bool sync = false;         // writes into its source too
        bool exactBackup = false;  // deletes from its destination what its source lacks
    };
    std::vector<TaskFolders> runFolders_;
    bool SharesAFolderWithAnEarlierTask(const std::string& source, const std::string& dest);
    // The rows of the multiple list being scanned, grouped by the folders they share.
    RowGroups rowGroups_;
    std::optional<std::size_t> currentRow_;
};

}  // namespace qv::engine
