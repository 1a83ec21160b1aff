#include "cli/scheduler_command.h"

#include <unistd.h>

#include <chrono>
#include <ostream>

#include "app/end_of_run.h"
#include "app/timer_service.h"
#include "app/trigger_service.h"
#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "cli/timers_command.h"
#include "platform/civil_day.h"
#include "platform/file_io.h"
#include "platform/localization.h"
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

// A timer's or a trigger's run ended: its line, its errors, and the machine shut down when the
// preferences ask for that after a run nobody stopped.
void Finished(app::MainApp& app, const platform::LocalMinute& when, const std::string& session,
              const app::RunConclusion& conclusion, int exitStatus, std::ostream& out,
              std::ostream& err) {
    std::string minute = schedule::IsoMinute(when);
    minute[10] = ' ';
    out << minute << '\t' << TerminalName(session) << "\texit " << exitStatus << '\t'
        << (conclusion.logSaved ? TerminalName(conclusion.pathLogFile) : std::string("-"))
        << std::endl;
    for (const std::string& message : conclusion.errorMessages) {
        err << "quorvel: " << ForTerminal(message) << "\n";
    }
    const bool shutDown = app.preferences().mPrefDict.intAt("prefShutDown") != 0;
    if (app::WhatAfterRun(shutDown, conclusion.stopped, false, false) == app::AfterRun::ShutDown) {
        if (const std::optional<std::string> refused =
                app::ShutDownAfterRun(app, platform::SystemLoginManager())) {
            err << "quorvel: " << ForTerminal(*refused) << "\n";
        }
    }
    err.flush();
}

// The scheduler's loop: the timers looked at every 10 seconds, the triggers every second, the
// end of their runs told as soon as it comes, until a signal and the end of the run going on.
class SchedulerLoop {
  public:
    SchedulerLoop(app::MainApp& app, const SchedulerArguments& args, std::ostream& out,
                  std::ostream& err)
        : app_(app),
          out_(out),
          err_(err),
          timers_(app, CommandClock()),
          triggers_(app),
          watch_(app, args.document) {
        schedule::Scheduler& scheduler = timers_.scheduler();
        scheduler.SetFireAllSessions(true);
        scheduler.ChooseHorizon(ParseTimerDays(args.days).value_or(1));
        scheduler.TimerSyncEnabled(true);
        triggers_.triggers().SetScope({true, 0});
        triggers_.triggers().Arm();
        WarnSyncAndQuit();
        out_ << "quorvel scheduler: " << scheduler.executiveTimerArray().size()
             << " executions listed; " << TerminalName(scheduler.NextTimer()) << std::endl;
        SayArmed();
    }

    int Run() {
        auto nextTick = Steady::now();
        auto nextTrigger = Steady::now();
        for (;;) {
            TellFinished();
            if (stopping_ && !RunActive()) return kExitOk;
            if (!stopping_ && Steady::now() >= nextTick) {
                LookAtTimers();
                nextTick = Steady::now() + std::chrono::seconds(schedule::kTickSeconds);
            }
            if (!stopping_ && Steady::now() >= nextTrigger) {
                LookAtTriggers();
                nextTrigger = Steady::now() + std::chrono::seconds(schedule::kTriggerTickSeconds);
            }
            const auto next =
                triggers_.triggers().armed() ? std::min(nextTick, nextTrigger) : nextTick;
            const auto untilNext =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - Steady::now());
            // While a run goes on its end is looked for often, so that its line comes at once.
            const int wait = RunActive() || stopping_
                                 ? 200
                                 : static_cast<int>(std::max<std::int64_t>(0, untilNext.count()));
            if (platform::WaitForTerminationSignal(wait) != 0 && !stopping_) Stop();
        }
    }

  private:
    bool RunActive() const { return timers_.TimerRunActive() || triggers_.TriggerRunActive(); }

    void Stop() {
        stopping_ = true;
        if (!RunActive()) return;
        err_ << "quorvel: stopping the run after the current action..." << std::endl;
        timers_.StopTimerRun(true);
        triggers_.StopTriggerRun(true);
    }

    void TellFinished() {
        if (std::optional<app::FinishedTimerRun> f = timers_.CollectFinishedRun()) {
            Finished(app_, f->entry.startDate, f->entry.sessionName, f->conclusion, f->exitStatus,
                     out_, err_);
        }
        if (std::optional<app::FinishedTriggerRun> f = triggers_.CollectFinishedRun()) {
            Finished(app_, platform::LocalMinuteOf(f->started), f->sessionName, f->conclusion,
                     f->exitStatus, out_, err_);
        }
    }

    void LookAtTimers() {
        schedule::Scheduler& scheduler = timers_.scheduler();
        // Between runs only: a run reads the sessions while it goes on.
        if (!app_.runService().IsActive() && watch_.ReloadIfChanged(err_)) {
            scheduler.GetExecutiveTimerArray(false);
            // A list built while prefSyncAndQuit was set left the tick off.
            scheduler.TimerSyncEnabled(true);
            WarnSyncAndQuit();
            const bool wasArmed = triggers_.triggers().armed();
            triggers_.triggers().Arm();
            if (wasArmed || triggers_.triggers().armed()) SayArmed();
        }
        // A run that ended since the look above is told now, not lost.
        std::optional<app::FinishedTimerRun> ended;
        timers_.Tick(&ended);
        if (ended) {
            Finished(app_, ended->entry.startDate, ended->entry.sessionName, ended->conclusion,
                     ended->exitStatus, out_, err_);
        }
    }

    void LookAtTriggers() {
        // The triggers wait while the timers' tick is off (prefSyncAndQuit), as the timers do.
        if (!timers_.scheduler().tickEnabled()) return;
        if (triggers_.triggers().Tick()) {
            const app::FinishedTriggerRun* run = triggers_.RunGoingOn();
            out_ << "quorvel scheduler: " << TerminalName(run->sessionName) << ": "
                 << TerminalName(platform::GLS("Started by trigger:") + " " + run->reason)
                 << std::endl;
        }
        for (const std::string& notice : triggers_.triggers().TakeNotices()) {
            err_ << "quorvel: warning: " << ForTerminal(notice) << std::endl;
        }
    }

    void WarnSyncAndQuit() {
        if (app_.preferences().mPrefDict.intAt("prefSyncAndQuit") != 0) {
            err_ << "quorvel: warning: prefSyncAndQuit is set: while it is, no timer or trigger "
                    "fires\n";
        }
    }

    void SayArmed() {
        out_ << "quorvel scheduler: sessions with triggers armed: "
             << triggers_.triggers().sessionsArmed() << std::endl;
    }

    app::MainApp& app_;
    std::ostream& out_;
    std::ostream& err_;
    app::TimerService timers_;
    app::TriggerService triggers_;
    DocumentWatch watch_;
    bool stopping_ = false;
};

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
    return SchedulerLoop(app, args, out, err).Run();
}

}  // namespace qv::cli
