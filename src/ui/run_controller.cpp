#include "ui/run_controller.h"

#include "platform/localization.h"
#include "ui/gui_proxy.h"
#include "ui/qt_text.h"

namespace qv::ui {

RunController::RunController(app::MainApp& app, QWidget* dialogParent)
    : QObject(dialogParent), app_(app), dialogParent_(dialogParent) {
    app_.runService().SetHolderName("quorvel-gui");
}

RunController::~RunController() {
    if (!active_) return;
    // A question on screen must not keep the worker waiting while the service joins it.
    app_.runService().Stop();
    proxy_->Abandon();
    app_.runService().Conclude();
}

const run::RunState* RunController::state() const { return app_.runService().state(); }

bool RunController::Start() {
    app::RunRequest request;
    request.executedBy = run::kExecutedByUser;
    request.mayAsk = true;
    return Start(request).started;
}

app::StartResult RunController::Start(const app::RunRequest& request) {
    if (active_) return {false, platform::GLS("A run is already in progress."), {}};
    auto proxy = std::make_unique<GuiProxy>(dialogParent_, &app_);
    connect(proxy.get(), &GuiProxy::sessionScanStarting, this, &RunController::sessionScanStarting);
    connect(proxy.get(), &GuiProxy::scanProgress, this, &RunController::scanProgress);
    connect(proxy.get(), &GuiProxy::previewShowing, this, &RunController::previewShowing);
    connect(proxy.get(), &GuiProxy::copyStarting, this, &RunController::copyStarting);
    connect(proxy.get(), &GuiProxy::concluded, this, &RunController::Conclude);
    const app::StartResult result = app_.runService().Start(request, *proxy);
    if (!result.started) {
        refusal_ = Str(result.message);
        return result;
    }
    // The last run's proxy has heard its last hook: its run has concluded.
    proxy_ = std::move(proxy);
    active_ = true;
    emit started();
    return result;
}

void RunController::Stop(bool quitting) {
    if (active_) app_.runService().Stop(quitting);
}

void RunController::Conclude() {
    if (!active_) return;
    // The worker sends this last; once it has ended, the run's state is the main thread's.
    conclusion_ = app_.runService().Conclude();
    active_ = false;
    emit finished();
}

}  // namespace qv::ui
