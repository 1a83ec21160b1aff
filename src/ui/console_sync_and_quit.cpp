// The console before and after an unattended run that ends the application: the sync-and-quit
// countdown, then shutting the machine down or quitting once the run has concluded.
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/main_app.h"
#include "platform/localization.h"
#include "platform/system_log.h"
#include "ui/console_window.h"
#include "ui/document_commands.h"
#include "ui/error_alert.h"
#include "ui/qt_text.h"
#include "ui/run_controller.h"

namespace qv::ui {

using platform::GLS;

void ConsoleWindow::PrepareToExecuteSyncAndQuit(int executedBy) {
    if (isRunning() || syncAndQuit_.starting() || terminated_) return;
    EnableDisableConsolePanes(false);
    mainButton_->setText(Str(GLS("Stop")));
    syncAndQuit_.Start(executedBy, view_.clock());
    SetComment({Str(syncAndQuit_.FirstComment())});
    if (syncAndQuitTimer_ == nullptr) {
        syncAndQuitTimer_ = new QTimer(this);
        syncAndQuitTimer_->setInterval(1000);
        connect(syncAndQuitTimer_, &QTimer::timeout, this, &ConsoleWindow::ExecuteSyncAndQuit);
    }
    syncAndQuitTimer_->start();
    SyncRunActions();
}

void ConsoleWindow::ExecuteSyncAndQuit() {
    if (!syncAndQuit_.starting()) return;
    if (const std::optional<std::string> left = syncAndQuit_.Tick(view_.clock())) {
        SetComment({Str(*left)});
        return;
    }
    syncAndQuitTimer_->stop();
    app::RunRequest request;
    request.executedBy = syncAndQuit_.executedBy();
    request.mayAsk = false;
    request.saveLog = true;
    const app::StartResult started = run_->Start(request);
    if (started.started) return;
    syncAndQuit_.Cancel();
    SetMainButtonName(app_.document().mSessionIndex);
    EnableDisableConsolePanes(true);
    SetComment({});
    SyncRunActions();
    Refuse(Str(started.message));
}

void ConsoleWindow::StopSyncAndQuit() {
    if (syncAndQuitTimer_ != nullptr) syncAndQuitTimer_->stop();
    syncAndQuit_.Cancel();
    SetMainButtonName(app_.document().mSessionIndex);
    EnableDisableConsolePanes(true);
    SetComment({});
    SyncRunActions();
}

void ConsoleWindow::ActAfterRun() {
    const bool syncAndQuitRun = syncAndQuit_.executing();
    syncAndQuit_.RunEnded();
    const app::RunConclusion& c = run_->conclusion();
    const bool shutDown = app_.preferences().mPrefDict.intAt("prefShutDown") != 0;
    switch (app::WhatAfterRun(shutDown, c.stopped, terminateAfterRun_, syncAndQuitRun)) {
        case app::AfterRun::StayOpen:
            emit readyForReload();
            return;
        case app::AfterRun::ShutDown: {
            const std::optional<std::string> refused = app::ShutDownAfterRun(app_, *login_);
            if (refused && syncAndQuitRun) break;  // quits all the same; the system log says why
            if (refused) TellEndOfRun(*refused);
            emit readyForReload();
            return;
        }
        case app::AfterRun::Quit:
            break;
    }
    // Nobody is there to answer the save question of an unattended quit: changes not saved keep
    // the window open.
    if (!terminateAfterRun_ && app_.document().isDocumentToBeSaved()) {
        const std::string why =
            GLS("Sync and Quit did not quit: the document has unsaved changes.");
        platform::SystemLog(why);
        TellEndOfRun(why);
        emit readyForReload();
        return;
    }
    Terminate();
}

void ConsoleWindow::TellEndOfRun(const std::string& why) {
    if (sheets_.endOfRun) return;
    sheets_.endOfRun =
        OpenAlert(this, QMessageBox::Warning, GLS("Warning:"), why, QStringLiteral("endOfRun"));
}

}  // namespace qv::ui
