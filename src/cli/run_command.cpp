#include "cli/run_command.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>

#include "app/progress_meter.h"
#include "cli/live_status.h"
#include "cli/plan_command.h"
#include "cli/terminal_proxy.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"
#include "platform/terminal.h"

namespace qv::cli {

namespace {

using platform::GLS;

// SIGINT and SIGTERM are taken by the waiting thread only, and turned into the Stop button
// (SIGTERM, the system's way to end a program, as quitting in the middle of the run); the worker
// threads started meanwhile inherit the mask.
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    }
    ~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    // The signal that came, or 0.
    int Pending() {
        const timespec now{0, 0};
        const int sig = sigtimedwait(&signals_, nullptr, &now);
        return sig == SIGINT || sig == SIGTERM ? sig : 0;
    }

  private:
    sigset_t signals_;
    sigset_t previous_;
};

// The status line's figures, from the run's progress model on a steady clock.
class StatusSampler {
  public:
    explicit StatusSampler(const run::RunState& state)
        : model_(state.progress, [] {
              return std::chrono::duration<double>(
                         std::chrono::steady_clock::now().time_since_epoch())
                  .count();
          }) {}

    std::optional<StatusFacts> operator()() {
        const std::optional<app::ProgressFigures> f = model_.Sample();
        if (!f) return std::nullopt;
        return f;
    }

  private:
    app::ProgressModel model_;
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
    if (args.preview && !attended && !args.quiet) {
        err << "quorvel: "
            << GLS(args.unattended ? "An unattended run shows no preview; it goes on without."
                                   : "The preview needs a terminal; the run goes on without it.")
            << "\n";
    }
    if (attended && !args.yes) {
        const auto confirmation = service.AreYouSure(request);
        if (confirmation && !AskConfirmation(*confirmation, in, out)) return kExitRunStopped;
    }

    // The status line only ever reaches a terminal: a log file or a pipe gets the report alone.
    const bool showStatus = !args.quiet && !args.noProgress && &err == &std::cerr &&
                            platform::IsTerminal(STDERR_FILENO);
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
    std::unique_ptr<LiveStatus> status;
    if (showStatus && service.state() != nullptr) {
        status = std::make_unique<LiveStatus>(
            err,
            [] {
                // A terminal that tells no width (a bare pseudo-terminal) gets the usual one.
                const int columns = platform::TerminalColumns(STDERR_FILENO);
                return columns > 0 ? columns : 80;
            },
            StatusSampler(*service.state()));
        proxy.SetStatus(status.get());
    }
    bool stopRequested = false;
    // The end of the run is seen at once; a signal within a tick.
    while (!service.WaitFor(std::chrono::milliseconds(20))) {
        if (const int sig = signals.Pending()) {
            if (!stopRequested) {
                const LiveStatus::Pause pause(status.get());
                err << "\nquorvel: " << GLS("stopping after the current action...") << "\n";
            }
            stopRequested = true;
            // A second signal ends an after-script still running after the first.
            service.Stop(sig == SIGTERM);
            // A question waiting for its answer is answered with Stop.
            proxy.CancelQuestions();
        }
    }
    // The line is cleared before the report.
    proxy.SetStatus(nullptr);
    status.reset();
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
    if (c.logSaved && !args.quiet)
        out << GLS("Log saved:") << " " << TerminalName(c.pathLogFile) << "\n";
    return app::ExitStatusOf(c);
}

}  // namespace qv::cli
