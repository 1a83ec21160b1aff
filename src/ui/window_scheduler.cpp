#include "ui/window_scheduler.h"

#include <unistd.h>

#include <QTimer>

#include "platform/localization.h"
#include "sessions/trigger_options.h"
#include "ui/qt_text.h"
#include "ui/run_controller.h"

namespace qv::ui {

using platform::GLS;

WindowScheduler::WindowScheduler(app::MainApp& app, RunController& runs,
                                 schedule::Scheduler::Clock clock, QObject* parent)
    : QObject(parent), app_(app), timers_(app, std::move(clock)), triggers_(app) {
    timers_.SetRunStarter([&runs](const app::RunRequest& request) { return runs.Start(request); });
    triggers_.SetRunStarter(
        [&runs](const app::RunRequest& request) { return runs.Start(request); });
    scheduler().SetOnChange([this] { emit changed(); });
    // The controller has concluded the run: its entry becomes Done before anything else can
    // start another run.
    connect(&runs, &RunController::finished, this, &WindowScheduler::RunFinished);
    tick_ = new QTimer(this);
    tick_->setInterval(schedule::kTickSeconds * 1000);
    connect(tick_, &QTimer::timeout, this, &WindowScheduler::Tick);
    tick_->start();
    triggerTick_ = new QTimer(this);
    triggerTick_->setInterval(schedule::kTriggerTickSeconds * 1000);
    connect(triggerTick_, &QTimer::timeout, this, &WindowScheduler::TriggerTick);
}

WindowScheduler::~WindowScheduler() = default;

void WindowScheduler::SetConsoleShownCheck(std::function<bool()> shown) {
    triggers().SetMayFireCheck(shown);
    scheduler().SetConsoleShownCheck(std::move(shown));
}

void WindowScheduler::Arm() {
    const sessions::SessionDocument& doc = app_.document();
    bool on = app_.preferences().mPrefDict.intAt("prefSyncAndQuit") == 0;
    if (doc.IsCurrentSessionAllSessions()) {
        on = on && schedule::Scheduler::IsTimerOnInSomeSession(doc);
    } else {
        const plist::Value* session = doc.GetSessionDict(doc.mSessionIndex);
        const plist::Value* timers = session ? session->dictAt("timerDict") : nullptr;
        on = on && timers != nullptr && timers->intAt("timerOn") != 0;
    }
    // The triggers follow the timers' scope, and wait while sync-and-quit is set as they do.
    schedule::Triggers& t = triggers();
    const schedule::TimerScope scope = scheduler().Scope();
    t.SetScope(scope);
    const bool triggersOn =
        app_.preferences().mPrefDict.intAt("prefSyncAndQuit") == 0 &&
        (scope.allSessions
             ? schedule::IsTriggerOnInSomeSession(doc)
             : sessions::SessionTriggerOptions(doc.GetSessionDict(scope.sessionIndex)).any());
    // A document from elsewhere shows its timers but fires none until the user trusts it; its
    // triggers watch nothing until then.
    const bool timersOn = on;
    untrusted_ = (on || triggersOn) && !app_.OpenDocumentTrusted();
    on = on && !untrusted_;
    timersArmed_ = on;
    triggersOn ? t.Arm() : t.Disarm();
    t.armed() ? triggerTick_->start() : triggerTick_->stop();
    untrustedTriggersOnly_ = untrusted_ && !timersOn;
    schedule::Scheduler& s = scheduler();
    s.TimerSyncEnabled(false);
    s.GetExecutiveTimerArray(false);
    s.TimerSyncEnabled(on);
    // Without timers or triggers to fire the lock goes, so that a background scheduler may
    // take it.
    if (WantsLock()) {
        TakeLock();
    } else {
        lock_.reset();
        heldBy_.clear();
        lockError_.clear();
    }
    emit changed();
}

void WindowScheduler::TakeLock() {
    if (lock_) return;
    std::string heldBy, error;
    lock_ = app::AcquireSchedulerLock(
        app_.paths(), "quorvel-gui, " + GLS("process") + " " + std::to_string(::getpid()), &heldBy,
        &error);
    const std::string holder = lock_ || !error.empty() ? std::string()
                               : heldBy.empty()        ? GLS("unknown process")
                                                       : heldBy;
    if (holder != heldBy_ || error != lockError_) {
        heldBy_ = holder;
        lockError_ = error;
        emit changed();
    }
}

bool WindowScheduler::WantsLock() const { return timersArmed_ || triggers_.triggers().armed(); }

bool WindowScheduler::TriggerTick() {
    if (!triggers().armed()) return false;
    TakeLock();
    if (!lock_) return false;
    std::optional<app::FinishedTriggerRun> ignored;
    return triggers_.Tick(&ignored);
}

bool WindowScheduler::Tick() {
    if (!scheduler().tickEnabled()) return false;
    TakeLock();
    // The list goes on being kept (a change of day) but nothing fires.
    if (!lock_) {
        scheduler().RebuildAtChangeOfDay();
        return false;
    }
    return timers_.Tick();
}

void WindowScheduler::RunFinished() {
    if (timers_.TimerRunActive()) timers_.CollectFinishedRun();
    if (triggers_.TriggerRunActive()) triggers_.CollectFinishedRun();
}

QString WindowScheduler::StatusText() const {
    if (untrustedTriggersOnly_) {
        return Str(
            GLS("The triggers of this document do not run: it was not made here. Open it "
                "again to let them run."));
    }
    if (untrusted_) {
        return Str(
            GLS("The timers of this document do not fire: it was not made here. Open it "
                "again to let them run."));
    }
    if (!heldBy_.empty()) {
        return Str(platform::FormatText(
            GLS("The timers are fired by the background scheduler (%@)."), {heldBy_}));
    }
    // Not firing, and not because someone else does: the user has to know.
    if (!lockError_.empty()) {
        return Str(platform::FormatText(GLS("The timers cannot fire: %@"), {lockError_}));
    }
    const schedule::Scheduler& s = scheduler();
    return s.tickEnabled() ? Str(s.NextTimer()) : QString();
}

}  // namespace qv::ui
