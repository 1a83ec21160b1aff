#include "cli/run_command.h"

#include <pthread.h>
#include <signal.h>

#include <iostream>
#include <istream>
#include <ostream>

#include "cli/plan_command.h"
#include "cli/terminal_proxy.h"
#include "cli/terminal_text.h"
#include "engine/exact_sync_index_store.h"
#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "fileops/tw_utilities.h"
#include "platform/localization.h"

namespace qv::cli {

namespace {

using platform::GLS;

void PrintReport(app::MainApp& app, const run::RunState& s, std::ostream& out) {
    for (const run::SessionLog& session : s.logSessionArray) {
        for (const run::TaskLog& task : session.logTaskArray) {
            out << "Session \"" << TerminalName(app.document().GetSessionName(session.sessionIndex))
                << "\", task " << task.taskIndex << ": " << TerminalName(task.gSourceFolder)
                << " -> " << TerminalName(task.gDestFolder) << "\n";
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
    if (attended && !args.yes) {
        const std::int64_t shown =
            options.allSessions ? doc.SessionCount() + 1 : options.sessionIndex;
        const auto confirmation = engine::AreYouSure(doc, shown, app.preferences().mPrefDict, true);
        if (confirmation && !AskConfirmation(*confirmation, in, out)) return kExitRunStopped;
    }

    TerminalProxy proxy(in, out);
    // On a terminal the questions read the keyboard directly, so that Ctrl-C can end a wait.
    if (interactive && &in == &std::cin) proxy.ReadFrom(STDIN_FILENO);
    engine::ExactSyncIndexStore index(app.paths().pathExactSyncIndexFolder);
    fileops::TWUtilities tw;
    fileops::RunExecutor executor(proxy, tw);
    engine::RunEngine engine(doc, app.preferences().mPrefDict, proxy, index, executor, tw, options);

    // SIGINT and SIGTERM are taken by this thread only, and turned into the Stop button.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    engine.TaskExecuteSyncOrBackup(run::kExecutedByCommandLine, attended);
    bool stopRequested = false;
    // The end of the run is seen at once; a signal within a tick.
    while (!engine.WaitFor(std::chrono::milliseconds(20))) {
        const timespec now{0, 0};
        const int sig = sigtimedwait(&stopSignals, nullptr, &now);
        if ((sig == SIGINT || sig == SIGTERM) && !stopRequested && engine.state().IsRunning()) {
            stopRequested = true;
            err << "\nquorvel: " << GLS("stopping after the current action...") << "\n";
            engine.Stop();
            // A question waiting for its answer is answered with Stop.
            proxy.CancelQuestions();
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
