#pragma once
// The preferences window: one control per preference a user sets, built from the table of
// their labels, over a PreferencesEditor that holds the working copy, the enabling rules and
// the checks. Cancel (99) stores nothing; OK (100) applies and writes the preferences.

#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "sessions/preferences_editor.h"

class QAbstractButton;
class QCheckBox;
class QFileDialog;
class QFormLayout;
class QLabel;
class QMessageBox;
class QTabWidget;

namespace qv::app {
class MainApp;
}

namespace qv::ui {

class PreferencesWindow : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kCancelTag = 99;
    static constexpr int kApplyTag = 100;

    PreferencesWindow(app::MainApp& app, QWidget* parent);
    ~PreferencesWindow() override;

    // PrefSet: every control from the preferences in force, the tab they name selected.
    void PrefSet();
    // PrefApply: kCancelTag closes with 99; any other tag runs the checks and, when they pass,
    // stores, writes and closes with 100. A refusal shows the warning and keeps the window.
    void PrefApply(int tag);
    // The chosen log folder shown; stored only when the window is applied.
    void SetLogFolderInUse(const std::string& path);
    void PrefChooseLogFolder();
    void PrefOpenLogFolder();

    sessions::PreferencesEditor& editor() { return *editor_; }
    QWidget* control(const std::string& key) const;
    QCheckBox* checkbox(const std::string& key) const;
    QTabWidget* tabs() const { return tabs_; }
    QMessageBox* warning() const { return warning_; }  // the open refusal, if any
    QLineEdit* emailPassword() const { return emailPassword_; }
    QPushButton* testMailButton() const { return testMail_; }
    QMessageBox* testMailAlert() const { return testMailAlert_; }
    QString shownLogFolder() const;

    // Escape and the window's close button cancel, as the Cancel button does.
    void reject() override { PrefApply(kCancelTag); }

  signals:
    void testMailEnded();
    // After a successful apply where the run-as-root checkbox differs from its value at
    // opening.
    void runAsRootChanged(bool on);

  private:
    void BuildTab(const char* identifier);
    void ControlChanged(const std::string& key);
    void ApplyEnablingRules();
    void ShowWarning(const std::string& message, QWidget* focus);
    // The e-mail tab's password and its test mail, sent on a worker with an Interrupt button.
    void BuildEmailExtras(QWidget* page, QFormLayout* form);
    void SendTestMail();
    void resizeEvent(QResizeEvent* event) override;

    app::MainApp& app_;
    std::unique_ptr<sessions::PreferencesEditor> editor_;
    QTabWidget* tabs_ = nullptr;
    std::map<std::string, QWidget*> controls_;
    std::map<std::string, QLabel*> labels_;
    QLabel* logFolderField_ = nullptr;
    QAbstractButton* openLogFolder_ = nullptr;
    QMessageBox* warning_ = nullptr;
    QFileDialog* chooser_ = nullptr;
    bool filling_ = false;
    std::int64_t rootAtOpening_ = 0;
    QLineEdit* emailPassword_ = nullptr;
    QPushButton* testMail_ = nullptr;
    QPointer<QMessageBox> testMailAlert_;
    std::thread testMailThread_;
    std::atomic<bool> testMailStop_{false};
};

}  // namespace qv::ui
