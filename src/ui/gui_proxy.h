#pragma once
// The main-thread link of a run: the worker's hooks become queued signals carrying copies of
// what they report, and each question is posted to the main thread, where its dialog opens
// with open(); the worker waits for the promise the dialog fulfils when it finishes.
// One proxy serves one run.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <mutex>

#include "run/main_thread_proxy.h"
#include "run/run_state.h"

namespace qv::app {
class MainApp;
}

namespace qv::ui {

class PreviewWindow;

class GuiProxy : public QObject, public run::MainThreadProxy {
    Q_OBJECT
  public:
    // app: where the preview finds the preferences and the details of the items it shows.
    explicit GuiProxy(QWidget* dialogParent, app::MainApp* app = nullptr);
    ~GuiProxy() override;

    // Main thread: every question waiting for an answer, and every later one, is answered
    // "stop", so that the worker never waits on a window that is going away.
    void Abandon();

    void PurgeBeforeWholeSyncBackup(const run::RunState& state) override;
    void PurgeBeforeScanOneSession(const run::RunState& state, std::int64_t sessionIndex) override;
    void ScanProgress(const run::RunState& state) override;
    // The worker waits while the window changes the plan; the window is gone before it goes on.
    bool ShowPreview(run::RunState& state) override;
    void PurgeBeforeMainCopy(const run::RunState& state) override;
    void ConcludeWholeSyncBackup(const run::RunState& state) override;

    run::ConflictReply AskReplace(const run::ConflictQuestion& question) override;
    void ShowErrorAndStop(const std::string& title, const std::string& message) override;
    bool AskSkipAndContinue(const std::string& title, const std::string& message) override;
    ErrorAnswer AskAboutItemError(const std::string& title, const std::string& message) override;
    bool ConfirmDeletion(const std::string& message) override;

  signals:
    void runPrepared();
    void sessionScanStarting(qint64 sessionIndex);
    void scanProgress(qint64 itemsScanned, qint64 itemsToDo);
    void previewShowing();
    void copyStarting(qint64 itemsToDo, double secondsBetweenRefreshes);
    void concluded();

  private:
    // Runs open(reply) on the main thread and waits for the reply; `abandoned` when the proxy
    // was abandoned before or meanwhile.
    template <typename T>
    T AskOnMainThread(std::function<void(std::function<void(T)>)> open, T abandoned);

    QPointer<QWidget> dialogParent_;
    app::MainApp* app_;
    QPointer<PreviewWindow> preview_;
    std::mutex mutex_;
    bool abandoned_ = false;
    int nextQuestion_ = 0;
    std::map<int, std::function<void()>> pending_;  // each answers its question "abandoned"
};

}  // namespace qv::ui
