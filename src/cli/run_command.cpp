#include "cli/run_command.h"

#include <pthread.h>
#include <signal.h>

#include <ctime>
#include <istream>
#include <mutex>
#include <ostream>

#include "cli/plan_command.h"
#include "cli/terminal_text.h"
#include "engine/exact_sync_index_store.h"
#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "fileops/tw_utilities.h"
#include "platform/localization.h"

namespace qv::cli {

namespace {

using platform::GLS;

std::string FormatDate(const std::optional<double>& date) {
    if (!date) return "--";
    const auto t = static_cast<std::time_t>(*date);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

// Answers from the terminal; or, unattended, never asks (the run's own rules then skip).
class TerminalProxy : public run::MainThreadProxy {
  public:
    TerminalProxy(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

    run::ConflictReply AskReplace(const run::ConflictQuestion& q) override {
        std::lock_guard lock(mutex_);
        out_ << "\n"
             << GLS("Conflict") << " " << q.conflict << ": " << run::CopyModeName(q.copyMode)
             << "\n  A: " << q.source << "\n  B: " << q.dest << "\n  "
             << GLS("Since the last Sync/Backup (") << FormatDate(q.date) << ")\n"
             << GLS("[p]roceed, [s]kip") << (q.canChangeDirection ? ", [c]hange direction" : "")
             << ", [q]uit? " << std::flush;
        std::string answer;
        if (!std::getline(in_, answer) || answer.empty()) return {run::ConflictAnswer::Skip, false};
        switch (answer[0]) {
            case 'p':
            case 'P':
                return {run::ConflictAnswer::Proceed, false};
            case 'c':
            case 'C':
                return {
                    q.canChangeDirection ? run::ConflictAnswer::Proceed : run::ConflictAnswer::Skip,
                    q.canChangeDirection};
            case 'q':
            case 'Q':
                return {run::ConflictAnswer::Stop, false};
            default:
                return {run::ConflictAnswer::Skip, false};
        }
    }
    void ShowErrorAndStop(const std::string& title, const std::string& message) override {
        std::lock_guard lock(mutex_);
        out_ << "\n" << title << " " << ForTerminal(message) << "\n";
    }
    bool AskSkipAndContinue(const std::string& title, const std::string& message) override {
        std::lock_guard lock(mutex_);
        out_ << "\n" << title << " " << ForTerminal(message) << " [Y/n] " << std::flush;
        std::string answer;
        if (!std::getline(in_, answer)) return true;
        return answer.empty() || answer[0] != 'n';
    }

  private:
    std::istream& in_;
    std::ostream& out_;
    std::mutex mutex_;
};

// The copy executor of a run, reporting through the run's own error path.
class RealExecutor : public run::CopyExecutor {
  public:
    RealExecutor(run::MainThreadProxy& proxy, const fileops::TWUtilities& tw)
        : proxy_(proxy), tw_(tw) {}
    void MainCopy(run::RunState& state, run::CopyHooks& hooks) override {
        fileops::ErrorPath errors(state, proxy_);
        fileops::Executor executor(errors, tw_);
        executor.MainCopy(state, hooks);
    }

  private:
    run::MainThreadProxy& proxy_;
    const fileops::TWUtilities& tw_;
};

bool Confirm(app::MainApp& app, const RunArguments& args, std::istream& in, std::ostream& out) {
    if (args.yes || app.preferences().mPrefDict.intAt("prefAskConfirmation", 1) == 0) return true;
    out << (args.all
                ? GLS("Are you sure you want to execute the tasks defined in all the sessions?")
                : GLS("Run the session") + " \"" + args.session + "\"?")
        << " [y/N] " << std::flush;
    std::string answer;
    return std::getline(in, answer) && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void PrintReport(app::MainApp& app, const run::RunState& s, std::ostream& out) {
    for (const run::SessionLog& session : s.logSessionArray) {
        for (const run::TaskLog& task : session.logTaskArray) {
            out << "Session \"" << app.document().GetSessionName(session.sessionIndex)
                << "\", task " << task.taskIndex << ": " << task.gSourceFolder << " -> "
                << task.gDestFolder << "\n";
            out << ForTerminal(task.gDetailedLogText);
            if (task.copyCounters) {
                const run::CopyCounters& c = *task.copyCounters;
                out << GLS("Copied:") << " " << c.gBFilesCopied << " A→B, " << c.gAFilesCopied
                    << " B→A; " << GLS("replaced:") << " " << c.gBFilesReplaced << " A→B, "
                    << c.gAFilesReplaced << " B→A; " << GLS("folders created:") << " "
                    << c.gBFoldersCreated + c.gAFoldersCreated << "; " << GLS("deleted:") << " "
                    << c.gAFilesDeleted + c.gBFilesDeleted << " " << GLS("files") << ", "
                    << c.gAFoldersDeleted + c.gBFoldersDeleted << " " << GLS("folders") << "\n";
            }
        }
    }
    out << GLS("items scanned:") << " " << s.gGlobalItemsScanned << ", "
        << GLS("conflicts skipped:") << " " << s.gGlobalConflictsSkipped << ", " << GLS("errors:")
        << " " << s.gGlobalError << "\n";
}

}  // namespace

int RunSessions(app::MainApp& app, const RunArguments& args, std::istream& in, std::ostream& out,
                std::ostream& err, bool interactive) {
    sessions::SessionDocument& doc = app.document();
    engine::RunOptions options;
    if (!SelectSessions(doc, args.session, args.all, &options, err)) return 2;
    const bool attended = interactive && !args.unattended;
    if (attended && !Confirm(app, args, in, out)) return kExitRunStopped;

    TerminalProxy proxy(in, out);
    engine::ExactSyncIndexStore index(app.paths().pathExactSyncIndexFolder);
    fileops::TWUtilities tw;
    RealExecutor executor(proxy, tw);
    engine::RunEngine engine(doc, app.preferences().mPrefDict, proxy, index, executor, tw, options);

    // SIGINT and SIGTERM are taken by this thread only, and turned into the Stop button.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    engine.TaskExecuteSyncOrBackup(attended ? run::kExecutedByUser : run::kExecutedByCommandLine);
    bool stopRequested = false;
    while (engine.state().IsRunning()) {
        const timespec tick{0, 100 * 1000 * 1000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if ((sig == SIGINT || sig == SIGTERM) && !stopRequested && engine.state().IsRunning()) {
            stopRequested = true;
            err << "\nquorvel: " << GLS("stopping after the current action...") << "\n";
            engine.TaskExecuteSyncOrBackup(run::kExecutedByUser);
        }
    }
    engine.Wait();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    const run::RunState& s = engine.state();
    PrintReport(app, s, out);
    if (s.mUserPressedStop) return kExitRunStopped;
    return s.gGlobalError > 0 || !s.gScanSucceeded ? kExitRunErrors : 0;
}

}  // namespace qv::cli
