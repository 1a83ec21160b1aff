#pragma once
// Starts and stops the runs of the console: one engine, proxy and copy executor per run, the
// run itself on the engine's worker thread. Signals arrive on the main thread.

#include <QObject>
#include <QWidget>
#include <memory>

#include "app/main_app.h"
#include "run/run_state.h"

namespace qv::ui {

class RunController : public QObject {
    Q_OBJECT
  public:
    RunController(app::MainApp& app, QWidget* dialogParent);
    ~RunController() override;

    // Starts a run of the document's current session (or of all sessions) as the user's.
    void Start();
    // Tells the run to stop; it concludes at its next check.
    void Stop();
    // Between Start() and the finished() signal.
    bool isActive() const { return active_; }
    // The run going on or the last one (null before the first). Read the counters only once
    // finished() came; during the run only the shared flags and the progress.
    const run::RunState* state() const;

  signals:
    void started();
    void sessionScanStarting(qint64 sessionIndex);
    void scanProgress(qint64 itemsScanned, qint64 itemsToDo);
    void copyStarting(qint64 itemsToDo, double secondsBetweenRefreshes);
    void finished();

  private:
    struct ActiveRun;
    void Conclude();

    app::MainApp& app_;
    QWidget* dialogParent_;
    std::unique_ptr<ActiveRun> run_;
    bool active_ = false;
};

}  // namespace qv::ui
