#pragma once
// Starts and stops the runs of the console through the run service, with one main-thread proxy
// per run. Signals arrive on the main thread.

#include <QObject>
#include <QWidget>
#include <memory>

#include "app/main_app.h"
#include "run/run_state.h"

namespace qv::ui {

class GuiProxy;

class RunController : public QObject {
    Q_OBJECT
  public:
    RunController(app::MainApp& app, QWidget* dialogParent);
    ~RunController() override;

    // Starts a run of the document's current session (or of all sessions) as the user's;
    // false, with the reason in refusal(), when another run holds the run lock.
    bool Start();
    // Starts a run as the request says (a timer's, unattended); it shows as the user's does.
    app::StartResult Start(const app::RunRequest& request);
    const QString& refusal() const { return refusal_; }
    // Tells the run to stop; it concludes at its next check. quitting: because the user quits.
    void Stop(bool quitting = false);
    // Between Start() and the finished() signal.
    bool isActive() const { return active_; }
    // The run going on or the last one (null before the first). Read the counters only once
    // finished() came; during the run only the shared flags and the progress.
    const run::RunState* state() const;
    // What the last run did, once finished() came.
    const app::RunConclusion& conclusion() const { return conclusion_; }

  signals:
    void started();
    void sessionScanStarting(qint64 sessionIndex);
    void scanProgress(qint64 itemsScanned, qint64 itemsToDo);
    void previewShowing();
    void copyStarting(qint64 itemsToDo, double secondsBetweenRefreshes);
    void finished();

  private:
    void Conclude();

    app::MainApp& app_;
    QWidget* dialogParent_;
    std::unique_ptr<GuiProxy> proxy_;
    app::RunConclusion conclusion_;
    QString refusal_;
    bool active_ = false;
};

}  // namespace qv::ui
