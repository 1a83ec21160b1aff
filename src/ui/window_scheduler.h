#pragma once
// The window's scheduler: every 10 seconds it fires the timers of the sessions in scope, and
// every second it looks at their triggers, but only while this process holds the scheduler
// lock; a background `quorvel scheduler` holding it fires them instead, and the window says
// so. Its runs go through the console's run controller, so that they show as a run from the
// button does.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "app/timer_service.h"
#include "app/trigger_service.h"
#include "platform/run_lock.h"

class QTimer;

namespace qv::ui {

class RunController;

class WindowScheduler : public QObject {
    Q_OBJECT
  public:
    // clock: the time the scheduler sees (tests set it); none for the system clock.
    WindowScheduler(app::MainApp& app, RunController& runs, schedule::Scheduler::Clock clock = {},
                    QObject* parent = nullptr);
    ~WindowScheduler() override;

    schedule::Scheduler& scheduler() { return timers_.scheduler(); }
    const schedule::Scheduler& scheduler() const { return timers_.scheduler(); }
    schedule::Triggers& triggers() { return triggers_.triggers(); }
    // No timer fires while this says false (an option panel is on screen).
    void SetConsoleShownCheck(std::function<bool()> shown);
    // The console came on screen, or its session or document changed: the list is rebuilt
    // and the tick enabled when a session in scope has its timers on; the triggers of the
    // sessions in scope are armed again.
    void Arm();
    // One tick (the 10-second timer calls it): the scheduler lock taken when free, then the
    // scheduler's tick. True when a run was started.
    bool Tick();
    // The triggers' look (the one-second timer calls it). True when a run was started.
    bool TriggerTick();
    // This process holds the scheduler lock and fires the timers.
    bool firesTimers() const { return lock_.has_value(); }
    // What the window says of the timers: who fires them when another process does ("" when
    // this one may), then the next execution while the tick is on.
    QString StatusText() const;

  signals:
    // The list, its blocking, the next execution or the lock's holder changed.
    void changed();

  private:
    void TakeLock();
    void RunFinished();
    // Firing anything needs the scheduler lock: the timers or the triggers are on.
    bool WantsLock() const;

    app::MainApp& app_;
    app::TimerService timers_;
    app::TriggerService triggers_;
    QTimer* tick_ = nullptr;
    QTimer* triggerTick_ = nullptr;
    std::optional<platform::RunLock> lock_;
    std::string heldBy_;      // the other scheduler, when one holds the lock
    std::string lockError_;   // why the lock could not be taken, when no one else holds it
    bool untrusted_ = false;  // the document's timers or triggers are on, but it is not trusted
    bool untrustedTriggersOnly_ = false;  // ... and only its triggers are on
    bool timersArmed_ = false;
};

}  // namespace qv::ui
