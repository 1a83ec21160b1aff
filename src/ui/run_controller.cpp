#include "ui/run_controller.h"

#include "engine/exact_sync_index_store.h"
#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "fileops/tw_utilities.h"
#include "ui/gui_proxy.h"

namespace qv::ui {

// Declared so that the engine, which uses everything above it, goes first.
struct RunController::ActiveRun {
    ActiveRun(app::MainApp& app, QWidget* dialogParent)
        : proxy(dialogParent),
          index(app.paths().pathExactSyncIndexFolder),
          executor(proxy, tw),
          engine(app.document(), app.preferences().mPrefDict, proxy, index, executor, tw) {}
    GuiProxy proxy;
    fileops::TWUtilities tw;
    engine::ExactSyncIndexStore index;
    fileops::RunExecutor executor;
    engine::RunEngine engine;
};

RunController::RunController(app::MainApp& app, QWidget* dialogParent)
    : QObject(dialogParent), app_(app), dialogParent_(dialogParent) {}

RunController::~RunController() {
    if (!run_) return;
    // A question on screen must not keep the worker waiting: the engine joins it.
    run_->engine.state().mIsCopying = false;
    run_->proxy.Abandon();
    run_.reset();
}

const run::RunState* RunController::state() const { return run_ ? &run_->engine.state() : nullptr; }

void RunController::Start() {
    if (active_) return;
    run_.reset();  // the last run has concluded: its worker has ended
    run_ = std::make_unique<ActiveRun>(app_, dialogParent_);
    GuiProxy* proxy = &run_->proxy;
    connect(proxy, &GuiProxy::sessionScanStarting, this, &RunController::sessionScanStarting);
    connect(proxy, &GuiProxy::scanProgress, this, &RunController::scanProgress);
    connect(proxy, &GuiProxy::copyStarting, this, &RunController::copyStarting);
    connect(proxy, &GuiProxy::concluded, this, &RunController::Conclude);
    active_ = true;
    emit started();
    run_->engine.TaskExecuteSyncOrBackup(run::kExecutedByUser, true);
}

void RunController::Stop() {
    if (!active_ || !run_) return;
    run_->engine.Stop();
}

void RunController::Conclude() {
    if (!active_) return;
    // The worker sends this last; once it has ended, the run's state is the main thread's.
    run_->engine.Wait();
    active_ = false;
    emit finished();
}

}  // namespace qv::ui
