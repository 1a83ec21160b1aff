#pragma once
// The run service: the one place that builds a run from the document, the preferences and a
// front end's proxy, starts it on its worker thread, stops it, and concludes it (the log
// composed and saved, the run lock released, the front end told). The window, the command,
// the scheduler and the tests all start runs through it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/are_you_sure.h"
#include "platform/login_manager.h"
#include "platform/support_paths.h"
#include "platform/system_facts.h"
#include "run/main_thread_proxy.h"
#include "run/run_state.h"
#include "schedule/log_mail.h"
#include "sessions/preferences.h"
#include "sessions/session_document.h"

namespace qv::app {

inline constexpr std::int64_t kCurrentSession = -1;

struct RunRequest {
    int executedBy = run::kExecutedByUser;  // run::kExecutedBy...
    bool mayAsk = true;                     // someone is there to answer questions
    // The session to run; kCurrentSession for the document's current one (all sessions when
    // "All" is current).
    std::int64_t sessionIndex = kCurrentSession;
    bool allSessions = false;
    // Save this run's log whatever the preferences say about saving (the command's
    // --save-log); where and in which format still follow them.
    bool saveLog = false;
    // Show the preview of this run's planned actions whatever the preferences say (the
    // command's --preview); only where someone may be asked.
    bool preview = false;
    // Why a trigger started the run, for its log ("volume /media/disk appeared").
    std::string startedBy;
};

struct StartResult {
    bool started = false;
    std::string message;  // why not: another run holds the run lock, or the lock failed
    // The process whose run holds the run lock, as it wrote itself there ("quorvel-gui,
    // process 1234"); "unknown process" when it has not; "" when no lock stood in the way.
    std::string heldBy;
};

// What the front end learns once a run has concluded.
struct RunConclusion {
    bool stopped = false;     // the user stopped it (or stopped in the preview)
    std::int64_t errors = 0;  // gGlobalError
    bool scanSucceeded = false;
    bool logMade = false;  // false when the user stopped in the preview
    bool logSaved = false;
    std::string pathLogFile;          // the saved log, or the name it would have had
    std::string logSaveError;         // the log folder could not be used
    std::vector<std::string> report;  // the end report, one text a line
    // The errors of the run, each message on one line (its own line ends made blanks): the
    // first thousand, then how many more the log holds, the log folder's problem last.
    std::vector<std::string> errorMessages;
};

// The exit status a run's conclusion gives a command: 0 no errors, 1 errors (or nothing
// scanned), 3 stopped.
inline int ExitStatusOf(const RunConclusion& c) {
    if (c.stopped) return 3;
    return c.errors > 0 || !c.scanSucceeded ? 1 : 0;
}

class RunService {
  public:
    RunService(sessions::SessionDocument& document, sessions::Preferences& preferences,
               platform::SupportPaths paths);
    ~RunService();
    RunService(const RunService&) = delete;
    RunService& operator=(const RunService&) = delete;

    // The confirmation to ask before the run, or nothing when none is asked.
    // exactAsks: a run with an exact task asks whatever the preferences say.
    std::optional<engine::Confirmation> AreYouSure(const RunRequest& request,
                                                   bool exactAsks = false) const;

    // Starts a run on a worker thread; the proxy answers its questions and hears its hooks,
    // and must outlive the run. Refused while a run of this or another process holds the
    // run lock.
    StartResult Start(const RunRequest& request, run::MainThreadProxy& proxy);
    // Stops the run going on, if any; never starts one. quitting: the user quits the
    // application, and the log says so instead of the Stop button.
    void Stop(bool quitting = false);
    // Between a successful Start() and Conclude().
    bool IsActive() const;
    // Waits at most `timeout` for the worker; true once it has ended (or no run exists).
    bool WaitFor(std::chrono::milliseconds timeout);
    // Waits for the worker, releases the run lock and tells what the run did. Call it once
    // the proxy's ConcludeWholeSyncBackup came (or after WaitFor); a second call repeats the
    // answer.
    RunConclusion Conclude();

    // Scans as a run would, changing nothing on disk, and hands the plan to `consumer`;
    // nothing is asked, no log is made. Needs no run lock.
    void Plan(const RunRequest& request, const std::function<void(const run::RunState&)>& consumer);

    // The run going on or the last one; null before the first. During a run, read only the
    // shared flags and the progress.
    const run::RunState* state() const;
    // The log of the last run (the fixed header before the first), lines ending with CR.
    const std::string& logString() const { return logString_; }
    const std::string& pathLogFile() const { return pathLogFile_; }
    std::string LogFolder() const;  // the log folder in use

    // Tests inject the system facts of the log header and the run lock's folder.
    void SetSystemFacts(platform::SystemFacts facts) { facts_ = std::move(facts); }
    void SetRunLockFolder(std::string folder) { lockFolder_ = std::move(folder); }
    // The name the lock file gives to whoever asks who runs ("quorvel", "quorvel-gui").
    void SetHolderName(std::string name) { holderName_ = std::move(name); }
    // Who keeps the machine from sleeping during a run (tests put a fake in its place).
    void SetLoginManager(platform::LoginManager& login) { login_ = &login; }

  private:
    struct ActiveRun;
    // On the worker, once the engine hands over the run's record: MakeLog and
    // SaveLogFileToDisk, then the log mailed when the preferences say so.
    void MakeAndSaveLog(run::RunState& state);
    // On the worker, first: takes the run's sleep inhibitor, or notes for its log why there is
    // none.
    void KeepAwake(run::RunState& state);
    // Stop during the mailing of the log, which comes after the run's own Stop can act.
    std::atomic<bool> mailStop_{false};
    std::atomic<bool> mailing_{false};

    sessions::SessionDocument& document_;
    sessions::Preferences& preferences_;
    platform::SupportPaths paths_;
    platform::SystemFacts facts_;
    std::string lockFolder_;
    std::string holderName_ = "quorvel";
    std::unique_ptr<ActiveRun> run_;
    platform::LoginManager* login_ = &platform::SystemLoginManager();
    // How a message is sent (tests put a fake in its place).
    schedule::MailSending sendMail_ = schedule::SendMailMessage;

  public:
    void SetMailSending(schedule::MailSending send) { sendMail_ = std::move(send); }
    std::string logString_;
    std::string pathLogFile_;
};

}  // namespace qv::app
