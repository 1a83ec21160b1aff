#pragma once
// The File menu: New, Open, Open Recent, Close, Save and Save As, and the save question asked
// before a document with changes is closed or the application quits. Dialogs are opened with
// open() and answer through callbacks, so that no nested event loop runs while a run's worker
// may be waiting on the window.

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

#include "app/main_app.h"

namespace qv::ui {

class ConsoleWindow;

class DocumentCommands : public QObject {
    Q_OBJECT
  public:
    DocumentCommands(app::MainApp& app, ConsoleWindow& window);

    void FileNew();
    void FileOpen();
    void FileClose();
    void FileSave();
    void FileSaveAs();
    // Opens the document at path (the command line, Open Recent, a second instance). Refused
    // during a run.
    void OpenFile(const std::string& path);

    // Before the document is closed or the application quits: asks the save question when
    // the document has changes, saves when told to, then calls proceed(true); proceed(false)
    // when the user cancelled or saving failed.
    void AskToSaveChanges(const std::function<void(bool)>& proceed);
    // Save: writes the document to its file, or asks for one (Save As) when it has none.
    void SaveAFile(const std::function<void(bool)>& done);

    // The console's title: the document's name, or the application's for the template.
    void UpdateTitle();

    // For tests: the question or file dialog on screen.
    QMessageBox* question() const { return question_; }
    QFileDialog* fileDialog() const { return fileDialog_; }

  signals:
    // The recent documents changed: the menu is rebuilt.
    void recentDocumentsChanged();

  private:
    void SaveAs(const std::function<void(bool)>& done);
    void DoNew();
    void DoOpen(const std::string& path);
    // A document opened from elsewhere with timers or triggers on: may they run sessions? (No
    // unless the user says.) timers: the question names its timers, otherwise its triggers.
    void AskToTrustTimers(bool timers);
    // After a save from the window: a trusted document stays trusted as it now is.
    void KeepTrust();
    // Before another document replaces the one on screen, or it is closed: refused during a
    // run or while the panel on screen holds a value it refuses; then the save question.
    void PrepareToLeave(const std::function<void(bool)>& done);
    QMessageBox* Ask(const std::string& text, const std::string& informative);
    void Alert(const std::string& text);

    app::MainApp& app_;
    ConsoleWindow& window_;
    QPointer<QMessageBox> question_;
    QPointer<QFileDialog> fileDialog_;
};

}  // namespace qv::ui
