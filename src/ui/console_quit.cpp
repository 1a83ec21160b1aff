// Quitting the console: asked during a run or with unsaved changes, done once the run has
// concluded and the files are written.
#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>

#include "app/main_app.h"
#include "platform/localization.h"
#include "platform/system_log.h"
#include "ui/console_window.h"
#include "ui/document_commands.h"
#include "ui/option_panel.h"
#include "ui/qt_text.h"
#include "ui/run_controller.h"

namespace qv::ui {

using platform::GLS;

// ---- Quitting ----

void ConsoleWindow::RequestQuit() {
    if (terminated_ || sheets_.quitQuestion || documents_->question()) return;
    if (!isRunning()) {
        // What the panel on screen says is kept with the sessions written at quit.
        if (!GetCurrentPanel()) return;
        documents_->AskToSaveChanges([this](bool proceed) {
            if (proceed) Terminate();
        });
        return;
    }
    auto* box =
        new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")),
                        Str(GLS("Do you really want to quit in the middle of the current task?")),
                        QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("quitQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QAbstractButton* ok = box->addButton(Str(GLS("OK")), QMessageBox::AcceptRole);
    box->addButton(Str(GLS("Cancel")), QMessageBox::RejectRole);
    connect(box, &QMessageBox::finished, this, [this, box, ok] {
        if (box->clickedButton() != ok || !isRunning()) return;
        // The run concludes first; the application ends after it.
        terminateAfterRun_ = true;
        StopRun(true);
    });
    sheets_.quitQuestion = box;
    box->open();
}

void ConsoleWindow::TerminateNow() {
    if (terminated_) return;
    if (isRunning()) {
        terminateAfterRun_ = true;
        StopRun(true);
        return;
    }
    // Nothing is asked: whatever the panel on screen holds and is valid is kept.
    auto* page = static_cast<OptionPanel*>(pages_->currentWidget());
    if (plist::Value* session = app_.document().GetSessionDict(app_.document().mSessionIndex)) {
        std::string ignored;
        if (page != panels_[kConsolePanel] && page != closedPage_)
            page->GetPanels(*session, &ignored);
    }
    Terminate();
}

void ConsoleWindow::QuitWithoutWriting() {
    if (terminated_ || isRunning()) return;
    terminated_ = true;
    emit terminated();
    close();
}

void ConsoleWindow::WriteSettingsFiles() {
    GetCurrentPanel();
    for (const std::string& problem : app_.WriteTemplateAndPreferences()) {
        platform::SystemLog(problem);
    }
}

void ConsoleWindow::Terminate() {
    if (terminated_) return;
    terminated_ = true;
    for (const std::string& problem : app_.WriteTemplateAndPreferences()) {
        platform::SystemLog(problem);
    }
    emit terminated();
    close();
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    if (terminated_) {
        event->accept();
        return;
    }
    event->ignore();
    RequestQuit();
}

}  // namespace qv::ui
