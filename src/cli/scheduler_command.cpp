#include "cli/scheduler_command.h"

#include <unistd.h>

#include <chrono>
#include <ostream>

#include "app/end_of_run.h"
#include "app/timer_service.h"
#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "cli/timers_command.h"
#include "platform/file_io.h"
#include "platform/login_manager.h"
#include "platform/termination_signals.h"

namespace qv::cli {

namespace {

using Steady = std::chrono::steady_clock;

constexpr std::size_t kMaxDocumentBytes = 64 << 20;
constexpr int kLockRetryMilliseconds = 1000;
// Notices a change of the document or of the preferences on disk between runs and reads them
// again: a scheduler runs for weeks, and what the user set since must hold for its next run.
class DocumentWatch {
  public:
    DocumentWatch(app::MainApp& app, std::string document)
        : app_(app), document_(std::move(document)) {
        if (!document_.empty()) bytes_ = Read();
    }
    // True when the sessions or the preferences were read again.
    bool ReloadIfChanged(std::ostream& err) {
        // The template too, while it is the document the timers come from.
        const app::SettingsFilesReload settings = app_.ReloadChangedSettingsFiles();
        for (const std::string& problem : settings.problems) {
            err << "quorvel: warning: " << ForTerminal(problem) << "\n";
        }
        bool changed = settings.templateReloaded || settings.preferencesReloaded;
        if (!document_.empty()) {
            std::string now = Read();
            if (now != bytes_) {
                bytes_ = std::move(now);
                // A document that cannot be read now keeps its sessions as they were.
                changed = OpenDocument(app_, document_, err) || changed;
            }
        }
        return changed;
    }

  private:
    std::string Read() const {
        platform::ReadFileResult r = platform::ReadWholeFile(document_, kMaxDocumentBytes);
        return r.status == platform::ReadStatus::Ok ? std::move(r.bytes) : std::string();
    }
    app::MainApp& app_;
    std::string document_;
    std::string bytes_;
};

// A timer run ended: its line, its errors, and the machine shut down when the preferences ask
// for that after a run nobody stopped.
void Finished(app::MainApp& app, const app::FinishedTimerRun& f, std::ostream& out,
              std::ostream& err) {
    std::string when = schedule::IsoMinute(f.entry.startDate);
    when[10] = ' ';
    out << when << '\t' << TerminalName(f.entry.sessionName) << "\texit " << f.exitStatus << '\t'
        << (f.conclusion.logSaved ? TerminalName(f.conclusion.pathLogFile) : std::string("-"))
        << std::endl;
    for (const std::string& message : f.conclusion.errorMessages) {
        err << "quorvel: " << ForTerminal(message) << "\n";
    }
    const bool shutDown = app.preferences().mPrefDict.intAt("prefShutDown") != 0;
    if (app::WhatAfterRun(shutDown, f.conclusion.stopped, false, false) ==
        app::AfterRun::ShutDown) {
        if (const std::optional<std::string> refused =
                app::ShutDownAfterRun(app, platform::SystemLoginManager())) {
            err << "quorvel: " << ForTerminal(*refused) << "\n";
        }
    }
    err.flush();
}

}  // namespace

int RunSchedulerCommand(app::MainApp& app, const SchedulerArguments& args, std::ostream& out,
                        std::ostream& err) {
    // Before anything can be fired: a signal from now on ends the loop instead of the process.
    if (platform::TerminationSignalDescriptor() < 0) {
        err << "quorvel: cannot watch for SIGTERM\n";
        return kExitUsage;
    }
    std::string heldBy, error;
    const std::string holder = "quorvel scheduler, process " + std::to_string(::getpid());
    std::optional<platform::RunLock> lock =
        app::AcquireSchedulerLock(app.paths(), holder, &heldBy, &error);
    const auto other = [&heldBy] { return TerminalName(heldBy.empty() ? "?" : heldBy); };
    if (!lock && error.empty() && args.wait) {
        // Another scheduler (the window's, say) fires the timers: take over when it stops,
        // rather than fail and be started again and again by a service manager.
        out << "quorvel scheduler: another scheduler (" << other()
            << ") fires the timers; waiting to take over" << std::endl;
        while (!lock && error.empty()) {
            if (platform::WaitForTerminationSignal(kLockRetryMilliseconds) != 0) return kExitOk;
            lock = app::AcquireSchedulerLock(app.paths(), holder, &heldBy, &error);
        }
    }
    if (!lock) {
        err << "quorvel: "
            << (error.empty() ? "another scheduler (" + other() + ") already fires the timers"
                              : "cannot take the scheduler lock: " + TerminalName(error))
            << "\n";
        return kExitUsage;
    }

    app::TimerService timers(app, CommandClock());
    schedule::Scheduler& scheduler = timers.scheduler();
    scheduler.SetFireAllSessions(true);
    scheduler.ChooseHorizon(ParseTimerDays(args.days).value_or(1));
    scheduler.TimerSyncEnabled(true);
    const auto warnSyncAndQuit = [&app, &err] {
        if (app.preferences().mPrefDict.intAt("prefSyncAndQuit") != 0) {
            err << "quorvel: warning: prefSyncAndQuit is set: while it is, no timer fires\n";
        }
    };
    warnSyncAndQuit();
    out << "quorvel scheduler: " << scheduler.executiveTimerArray().size() << " executions listed; "
        << TerminalName(scheduler.NextTimer()) << std::endl;

    DocumentWatch watch(app, args.document);
    const auto tick = std::chrono::seconds(schedule::kTickSeconds);
    auto nextTick = Steady::now();
    bool stopping = false;
    for (;;) {
        if (std::optional<app::FinishedTimerRun> f = timers.CollectFinishedRun()) {
            Finished(app, *f, out, err);
        }
        if (stopping && !timers.TimerRunActive()) return kExitOk;
        if (!stopping && Steady::now() >= nextTick) {
            // Between runs only: a run reads the sessions while it goes on.
            if (!app.runService().IsActive() && watch.ReloadIfChanged(err)) {
                scheduler.GetExecutiveTimerArray(false);
                // A list built while prefSyncAndQuit was set left the tick off.
                scheduler.TimerSyncEnabled(true);
                warnSyncAndQuit();
            }
            // A run that ended since the look above is told now, not lost.
            std::optional<app::FinishedTimerRun> ended;
            timers.Tick(&ended);
            if (ended) Finished(app, *ended, out, err);
            nextTick = Steady::now() + tick;
        }
        const auto untilTick =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Steady::now());
        // While a run goes on its end is looked for often, so that its line comes at once.
        const int wait = timers.TimerRunActive() || stopping
                             ? 200
                             : static_cast<int>(std::max<std::int64_t>(0, untilTick.count()));
        if (platform::WaitForTerminationSignal(wait) != 0 && !stopping) {
            stopping = true;
            if (timers.TimerRunActive()) {
                err << "quorvel: stopping the run after the current action..." << std::endl;
                timers.StopTimerRun(true);
            }
        }
    }
}

}  // namespace qv::cli
