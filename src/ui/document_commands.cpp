#include "ui/document_commands.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "platform/localization.h"
#include "platform/system_log.h"
#include "platform/version.h"
#include "schedule/scheduler.h"
#include "schedule/triggers.h"
#include "ui/console_window.h"
#include "ui/qt_text.h"
#include "ui/window_scheduler.h"

namespace qv::ui {

using platform::GLS;

namespace {

QString DocumentFilter() {
    return Str(GLS("Quorvel documents")) + QStringLiteral(" (*.") +
           QString::fromLatin1(sessions::kDocumentExtension) + QStringLiteral(")");
}

}  // namespace

DocumentCommands::DocumentCommands(app::MainApp& app, ConsoleWindow& window)
    : QObject(&window), app_(app), window_(window) {}

void DocumentCommands::UpdateTitle() {
    const sessions::SessionDocument& doc = app_.document();
    const std::string title = app_.DocumentTitle();
    if (!doc.isDocumentOpen) {
        // Closed: no document's name stays behind.
        window_.setWindowTitle(QStringLiteral("Quorvel"));
        window_.setWindowFilePath(QString());
        window_.setWindowModified(false);
    } else if (title.empty()) {
        // H.: the Hidden edition, which About explains.
        window_.setWindowTitle(QStringLiteral("Quorvel H. %1").arg(Str(platform::kShortVersion)));
        window_.setWindowFilePath(QString());
        window_.setWindowModified(false);
    } else {
        // "[*]" becomes the desktop's mark of unsaved changes while there are some.
        window_.setWindowTitle(Str(title) + QStringLiteral("[*] — Quorvel"));
        window_.setWindowFilePath(Path(doc.pathDocumentFile));
        window_.setWindowModified(doc.isDocumentToBeSaved());
    }
}

QMessageBox* DocumentCommands::Ask(const std::string& text, const std::string& informative) {
    auto* box = new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")), Str(text),
                                QMessageBox::NoButton, &window_);
    box->setObjectName(QStringLiteral("saveQuestion"));
    box->setInformativeText(Str(informative));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    question_ = box;
    return box;
}

void DocumentCommands::Alert(const std::string& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")), Lines(text),
                                QMessageBox::Ok, &window_);
    box->setObjectName(QStringLiteral("documentAlert"));
    box->button(QMessageBox::Ok)->setText(Str(GLS("OK")));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    question_ = box;
    box->open();
}

// ---- Save ----

void DocumentCommands::AskToSaveChanges(const std::function<void(bool)>& proceed) {
    sessions::SessionDocument& doc = app_.document();
    if (!doc.isDocumentOpen || doc.isDocumentTemplate || !doc.isDocumentToBeSaved()) {
        proceed(true);
        return;
    }
    QMessageBox* box = Ask(GLS("Do you want to save changes to this document before closing?"),
                           GLS("If you don't save, your changes will be lost."));
    QAbstractButton* save = box->addButton(Str(GLS("Save")), QMessageBox::AcceptRole);
    QAbstractButton* dont = box->addButton(Str(GLS("Don't Save")), QMessageBox::DestructiveRole);
    box->addButton(Str(GLS("Cancel")), QMessageBox::RejectRole);
    connect(box, &QMessageBox::finished, this, [this, box, save, dont, proceed] {
        if (box->clickedButton() == save) {
            SaveAFile(proceed);
        } else {
            proceed(box->clickedButton() == dont);
        }
    });
    box->open();
}

void DocumentCommands::SaveAFile(const std::function<void(bool)>& done) {
    if (app_.SaveNeedsPath()) {
        SaveAs(done);
        return;
    }
    const sessions::DocResult written = app_.SaveDocument();
    if (!written) Alert(written.alert.empty() ? written.reason : written.alert);
    if (written) KeepTrust();
    done(written.ok);
}

void DocumentCommands::FileSave() {
    if (window_.isRunning() || !app_.document().isDocumentOpen || !window_.GetCurrentPanel())
        return;
    SaveAFile([this](bool) { UpdateTitle(); });
}

void DocumentCommands::FileSaveAs() {
    if (window_.isRunning() || !app_.document().isDocumentOpen || !window_.GetCurrentPanel())
        return;
    SaveAs([this](bool) { UpdateTitle(); });
}

void DocumentCommands::SaveAs(const std::function<void(bool)>& done) {
    auto* dialog = new QFileDialog(&window_, Str(GLS("Save As")));
    dialog->setObjectName(QStringLiteral("saveAsDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog, qEnvironmentVariableIsSet("QV_TEST"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(DocumentFilter());
    dialog->setDefaultSuffix(QString::fromLatin1(sessions::kDocumentExtension));
    const sessions::SessionDocument& doc = app_.document();
    const std::string proposed =
        doc.isDocumentSaved && !doc.isDocumentTemplate ? app_.DocumentTitle() : GLS("Untitled");
    dialog->selectFile(Str(proposed));
    connect(dialog, &QFileDialog::finished, this, [this, dialog, done](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result != QDialog::Accepted || files.isEmpty()) {
            done(false);
            return;
        }
        const sessions::DocResult written = app_.SaveDocumentAs(PathBytes(files.front()));
        if (!written) {
            Alert(written.alert.empty() ? written.reason : written.alert);
        } else {
            KeepTrust();
            UpdateTitle();
            emit recentDocumentsChanged();
        }
        done(written.ok);
    });
    fileDialog_ = dialog;
    dialog->open();
}

// ---- New, Open, Close ----

void DocumentCommands::FileNew() {
    if (window_.isRunning()) return;
    if (app_.document().isDocumentOpen && !window_.GetCurrentPanel()) return;
    if (app_.document().isDocumentOpen && app_.NewAsksTemplateQuestion()) {
        QMessageBox* box = Ask(GLS("This is a template document. Do you want to save these "
                                   "settings to a file before closing?"),
                               GLS("If you create a new document without saving, you will lose "
                                   "these settings."));
        QAbstractButton* save = box->addButton(Str(GLS("Save")), QMessageBox::AcceptRole);
        QAbstractButton* dont =
            box->addButton(Str(GLS("Don't Save")), QMessageBox::DestructiveRole);
        box->addButton(Str(GLS("Cancel")), QMessageBox::RejectRole);
        connect(box, &QMessageBox::finished, this, [this, box, save, dont] {
            if (box->clickedButton() == save) {
                SaveAFile([this](bool saved) {
                    if (saved) DoNew();
                });
            } else if (box->clickedButton() == dont) {
                DoNew();
            }
        });
        box->open();
        return;
    }
    PrepareToLeave([this](bool leave) {
        if (leave) DoNew();
    });
}

void DocumentCommands::DoNew() {
    app_.NewDocument();
    window_.SetDocumentSessions();
    window_.GoPanel("console");
    UpdateTitle();
    window_.show();
}

void DocumentCommands::FileOpen() {
    if (window_.isRunning()) return;
    auto* dialog = new QFileDialog(&window_, Str(GLS("Open")));
    dialog->setObjectName(QStringLiteral("openDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog, qEnvironmentVariableIsSet("QV_TEST"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(DocumentFilter());
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty()) OpenFile(PathBytes(files.front()));
    });
    fileDialog_ = dialog;
    dialog->open();
}

void DocumentCommands::OpenFile(const std::string& path) {
    if (window_.isRunning()) return;
    // The document on screen stays until the new one has been read.
    PrepareToLeave([this, path](bool leave) {
        if (leave) DoOpen(path);
    });
}

void DocumentCommands::DoOpen(const std::string& path) {
    const sessions::DocResult read = app_.OpenDocument(path);
    emit recentDocumentsChanged();
    if (!read) {
        Alert(!read.alert.empty()
                  ? read.alert
                  : GLS("Can't open the file") + " \"" + path + "\": " + read.reason);
        return;
    }
    window_.SetDocumentSessions();
    window_.GoPanel("console");
    UpdateTitle();
    window_.show();
    window_.raise();
    window_.activateWindow();
    if (app_.OpenDocumentTrusted()) return;
    const bool timers = schedule::Scheduler::IsTimerOnInSomeSession(app_.document());
    if (timers || schedule::IsTriggerOnInSomeSession(app_.document())) AskToTrustTimers(timers);
}

void DocumentCommands::KeepTrust() {
    // What the user saved here is theirs; a document not trusted stays so until they say.
    if (!app_.OpenDocumentTrusted()) return;
    std::string reason;
    if (!app_.TrustOpenDocument(&reason)) {
        platform::SystemLog("Can't record the document as trusted: " + reason);
    }
}

void DocumentCommands::AskToTrustTimers(bool timers) {
    auto* box = new QMessageBox(
        QMessageBox::Question, Str(GLS("Warning:")),
        Str(timers ? GLS("This document has timers. Let them run sessions automatically?")
                   : GLS("This document has triggers. Let them run sessions automatically?")),
        QMessageBox::NoButton, &window_);
    box->setObjectName(QStringLiteral("timersQuestion"));
    box->setInformativeText(Str(timers
                                    ? GLS("It was not made in this window: until you let them, its "
                                          "timers are shown but run nothing.")
                                    : GLS("It was not made in this window: until you let them, its "
                                          "triggers run nothing.")));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QAbstractButton* yes = box->addButton(Str(GLS("Yes")), QMessageBox::YesRole);
    QPushButton* no = box->addButton(Str(GLS("No")), QMessageBox::NoRole);
    box->setDefaultButton(no);
    box->setEscapeButton(no);
    connect(box, &QMessageBox::finished, this, [this, box, yes] {
        if (box->clickedButton() != yes) return;
        std::string reason;
        if (!app_.TrustOpenDocument(&reason)) {
            platform::SystemLog("Can't record the document as trusted: " + reason);
        }
        window_.windowScheduler().Arm();
    });
    question_ = box;
    box->open();
}

void DocumentCommands::FileClose() {
    if (window_.isRunning()) {
        QApplication::beep();
        return;
    }
    PrepareToLeave([this](bool leave) {
        if (!leave) return;
        app_.CloseDocument();
        window_.ShowDocumentClosed();
        UpdateTitle();
    });
}

void DocumentCommands::PrepareToLeave(const std::function<void(bool)>& done) {
    if (window_.isRunning()) {
        QApplication::beep();
        done(false);
        return;
    }
    if (!app_.document().isDocumentOpen) {
        done(true);
        return;
    }
    if (!window_.GetCurrentPanel()) {
        done(false);
        return;
    }
    AskToSaveChanges(done);
}

}  // namespace qv::ui
