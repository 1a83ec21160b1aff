#include "app/trigger_service.h"

namespace qv::app {

namespace {

template <typename T, typename System>
std::unique_ptr<T> OrSystem(std::unique_ptr<T> given) {
    return given ? std::move(given) : std::make_unique<System>();
}

}  // namespace

TriggerService::TriggerService(MainApp& app, std::unique_ptr<platform::MountTableSource> mounts,
                               std::unique_ptr<platform::ChangeSource> changes,
                               schedule::Triggers::Clock clock)
    : app_(app),
      mounts_(OrSystem<platform::MountTableSource, platform::SystemMountTable>(std::move(mounts))),
      changes_(OrSystem<platform::ChangeSource, platform::InotifyTreeWatch>(std::move(changes))),
      triggers_(app.document(), *this, *mounts_, *changes_, std::move(clock)) {}

TriggerService::~TriggerService() {
    if (!running_) return;
    app_.runService().Stop();
    app_.runService().Conclude();
}

bool TriggerService::IsCopying() const { return app_.runService().IsActive(); }

bool TriggerService::DocumentTrusted() const { return app_.OpenDocumentTrusted(); }

bool TriggerService::StartTriggerRun(std::int64_t session, const std::string& reason,
                                     std::string* why) {
    RunRequest request;
    request.executedBy = run::kExecutedByTrigger;
    request.mayAsk = false;
    request.sessionIndex = session;
    request.saveLog = true;
    request.startedBy = reason;
    const StartResult started =
        starter_ ? starter_(request) : app_.runService().Start(request, proxy_);
    if (!started.started) {
        *why = started.message;
        return false;
    }
    running_ = FinishedTriggerRun{
        app_.document().GetSessionName(session), reason, std::time(nullptr), {}, 0};
    return true;
}

std::optional<FinishedTriggerRun> TriggerService::CollectFinishedRun() {
    if (!running_ || !app_.runService().WaitFor(std::chrono::milliseconds(0))) {
        return std::nullopt;
    }
    FinishedTriggerRun finished = std::move(*running_);
    running_.reset();
    finished.conclusion = app_.runService().Conclude();
    finished.exitStatus = ExitStatusOf(finished.conclusion);
    triggers_.TriggerRunDone();
    return finished;
}

bool TriggerService::Tick(std::optional<FinishedTriggerRun>* finished) {
    std::optional<FinishedTriggerRun> ended = CollectFinishedRun();
    if (finished != nullptr) *finished = std::move(ended);
    return triggers_.Tick();
}

void TriggerService::StopTriggerRun(bool quitting) {
    if (running_) app_.runService().Stop(quitting);
}

}  // namespace qv::app
