#include "cli/run_command.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <istream>
#include <ostream>

#include "cli/plan_command.h"
#include "cli/terminal_proxy.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"

namespace qv::cli {

namespace {

using platform::GLS;

// SIGINT and SIGTERM are taken by the waiting thread only, and turned into the Stop button;
// the worker threads started meanwhile inherit the mask.
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    }
    ~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    bool Pending() {
        const timespec now{0, 0};
        const int sig = sigtimedwait(&signals_, nullptr, &now);
        return sig == SIGINT || sig == SIGTERM;
    }

  private:
    sigset_t signals_;
    sigset_t previous_;
};

}  // namespace

int RunSessions(app::MainApp& app, const RunArguments& args, std::istream& in, std::ostream& out,
                std::ostream& err, bool interactive) {
    app::RunService& service = app.runService();
    const bool attended = interactive && !args.unattended;
    app::RunRequest request;
    request.executedBy = run::kExecutedByCommandLine;
    request.mayAsk = attended;
    request.saveLog = args.saveLog;
    request.preview = args.preview;
    if (!SelectSessions(app.document(), args.session, args.all, &request, err)) return 2;
    if (args.preview && !attended) {
        err << "quorvel: "
            << GLS(args.unattended ? "An unattended run shows no preview; it goes on without."
                                   : "The preview needs a terminal; the run goes on without it.")
            << "\n";
    }
    if (attended && !args.yes) {
        const auto confirmation = service.AreYouSure(request);
        if (confirmation && !AskConfirmation(*confirmation, in, out)) return kExitRunStopped;
    }

    TerminalProxy proxy(in, out);
    if (attended) {
        proxy.EnablePreview(app.utilities(), [&app](std::int64_t session) {
            return app.document().GetSessionName(session);
        });
    }
    // On a terminal the questions read the keyboard directly, so that Ctrl-C can end a wait.
    if (interactive && &in == &std::cin) proxy.ReadFrom(STDIN_FILENO);
    StopSignals signals;
    const app::StartResult started = service.Start(request, proxy);
    if (!started.started) {
        err << "quorvel: " << ForTerminal(started.message) << "\n";
        return kExitRunRefused;
    }
    bool stopRequested = false;
    // The end of the run is seen at once; a signal within a tick.
    while (!service.WaitFor(std::chrono::milliseconds(20))) {
        if (signals.Pending() && !stopRequested) {
            stopRequested = true;
            err << "\nquorvel: " << GLS("stopping after the current action...") << "\n";
            service.Stop();
            // A question waiting for its answer is answered with Stop.
            proxy.CancelQuestions();
        }
    }
    const app::RunConclusion c = service.Conclude();

    if (args.printLog) {
        out << ForTerminal(service.logString());
    } else {
        for (const std::string& line : c.report) out << ForTerminal(line) << "\n";
    }
    // Which items failed, without opening the log.
    for (const std::string& message : c.errorMessages) {
        err << "quorvel: " << ForTerminal(message) << "\n";
    }
    if (c.logSaved) out << GLS("Log saved:") << " " << TerminalName(c.pathLogFile) << "\n";
    if (c.stopped) return kExitRunStopped;
    return c.errors > 0 || !c.scanSucceeded ? kExitRunErrors : 0;
}

}  // namespace qv::cli
