#include "ui/gui_proxy.h"

#include <QMetaObject>
#include <future>
#include <memory>

#include "platform/localization.h"
#include "ui/error_alert.h"
#include "ui/preview_window.h"
#include "ui/replace_file_dialog.h"

namespace qv::ui {

GuiProxy::GuiProxy(QWidget* dialogParent, app::MainApp* app)
    : dialogParent_(dialogParent), app_(app) {}

GuiProxy::~GuiProxy() { Abandon(); }

void GuiProxy::Abandon() {
    // The preview works on the run's own plan: it must be gone before the worker goes on.
    delete preview_.data();
    std::map<int, std::function<void()>> pending;
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        pending.swap(pending_);
    }
    for (auto& [id, answer] : pending) answer();
}

template <typename T>
T GuiProxy::AskOnMainThread(std::function<void(std::function<void(T)>)> open, T abandoned) {
    // The dialog's reply and Abandon() may both answer: the first one counts.
    struct Answer {
        std::promise<T> promise;
        std::once_flag once;
        void Give(T value) {
            std::call_once(once, [&] { promise.set_value(value); });
        }
    };
    auto answer = std::make_shared<Answer>();
    std::future<T> future = answer->promise.get_future();
    int id;
    {
        std::lock_guard lock(mutex_);
        if (abandoned_) return abandoned;
        id = nextQuestion_++;
        pending_[id] = [answer, abandoned] { answer->Give(abandoned); };
    }
    QMetaObject::invokeMethod(
        this, [open, answer] { open([answer](T value) { answer->Give(value); }); },
        Qt::QueuedConnection);
    T value = future.get();
    std::lock_guard lock(mutex_);
    pending_.erase(id);
    return value;
}

void GuiProxy::PurgeBeforeWholeSyncBackup(const run::RunState&) { emit runPrepared(); }

void GuiProxy::PurgeBeforeScanOneSession(const run::RunState&, std::int64_t sessionIndex) {
    emit sessionScanStarting(sessionIndex);
}

void GuiProxy::ScanProgress(const run::RunState& s) {
    // Read here, on the run's thread, and sent as copies.
    const std::int64_t scanned = s.totals.gGlobalItemsScanned + s.task.gAFoldersScanned +
                                 s.task.gAFilesScanned + s.task.gBFoldersScanned +
                                 s.task.gBFilesScanned;
    emit scanProgress(scanned, s.totals.gItemsToDoTotal + s.task.gItemsToDo);
}

bool GuiProxy::ShowPreview(run::RunState& state) {
    emit previewShowing();
    return AskOnMainThread<bool>(
        [this, &state](std::function<void(bool)> reply) {
            {
                // Abandoned before this came round: the worker has its answer and the plan
                // is its own again.
                std::lock_guard lock(mutex_);
                if (abandoned_) return;
            }
            PreviewSettings settings = app_ ? PreviewSettingsFor(*app_, state) : PreviewSettings{};
            auto* window = new PreviewWindow(state, std::move(settings), dialogParent_);
            auto code = std::make_shared<int>(PreviewWindow::kStopCode);
            QObject::connect(window, &QDialog::finished, window, [window, code](int result) {
                *code = result;
                window->deleteLater();
            });
            // Answered once the window and its nodes are gone: nothing of the window touches
            // the plan after the worker takes it back.
            QObject::connect(window, &QObject::destroyed,
                             [reply, code] { reply(*code == PreviewWindow::kContinueCode); });
            preview_ = window;
            window->open();
        },
        false);
}

void GuiProxy::PurgeBeforeMainCopy(const run::RunState& s) {
    emit copyStarting(s.totals.gItemsAtCopyStart, s.config.mIntervalToUpdateConsole);
}

void GuiProxy::ConcludeWholeSyncBackup(const run::RunState&) { emit concluded(); }

run::ConflictReply GuiProxy::AskReplace(const run::ConflictQuestion& question) {
    return AskOnMainThread<run::ConflictReply>(
        [this, question](std::function<void(run::ConflictReply)> reply) {
            auto* dialog = new ReplaceFileDialog(question, std::move(reply), dialogParent_);
            dialog->open();
        },
        {run::ConflictAnswer::Stop, false});
}

void GuiProxy::ShowErrorAndStop(const std::string& title, const std::string& message) {
    AskOnMainThread<bool>(
        [this, title, message](std::function<void(bool)> reply) {
            auto* alert = new ErrorAlert(ErrorAlert::Kind::Stops, title, message, std::move(reply),
                                         dialogParent_);
            alert->open();
        },
        false);
}

bool GuiProxy::AskSkipAndContinue(const std::string& title, const std::string& message) {
    return AskOnMainThread<bool>(
        [this, title, message](std::function<void(bool)> reply) {
            auto* alert = new ErrorAlert(ErrorAlert::Kind::AsksSkipAndContinue, title, message,
                                         std::move(reply), dialogParent_);
            alert->open();
        },
        false);
}

run::MainThreadProxy::ErrorAnswer GuiProxy::AskAboutItemError(const std::string& title,
                                                              const std::string& message) {
    return AskOnMainThread<ErrorAnswer>(
        [this, title, message](std::function<void(ErrorAnswer)> reply) {
            auto* alert = new ErrorAlert(ErrorAlert::Kind::AsksSkipAndContinue, title, message,
                                         nullptr, dialogParent_);
            alert->OfferContinueAll(std::move(reply));
            alert->open();
        },
        ErrorAnswer::Stop);
}

bool GuiProxy::ConfirmDeletion(const std::string& message) {
    return AskOnMainThread<bool>(
        [this, message](std::function<void(bool)> reply) {
            auto* alert =
                new ErrorAlert(ErrorAlert::Kind::ConfirmsDeletion, platform::GLS("Warning:"),
                               message, std::move(reply), dialogParent_);
            alert->open();
        },
        false);
}

}  // namespace qv::ui
