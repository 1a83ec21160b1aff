#pragma once
// The run-as-root preference put into effect: turned on in an ordinary instance, the program
// is started again as root (the administrator's password asked by the launcher) and this
// instance quits once that one is up; turned off in a root instance, the user is told to quit
// and start Quorvel again as themselves.

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "app/root_relaunch.h"

class QMessageBox;
class QTimer;
class QWidget;

namespace qv::app {
class MainApp;
}

namespace qv::ui {

class RunAsRootController : public QObject {
    Q_OBJECT
  public:
    RunAsRootController(app::MainApp& app, QWidget* window,
                        std::vector<std::string> launcher = {"pkexec"});
    ~RunAsRootController() override;

    // What the checkbox now says; acts only when it differs from how the process runs.
    void PrefRunAsRoot(bool checkboxOn);

    // The program started as root; this one by default.
    void setExecutable(std::string path) { executable_ = std::move(path); }
    // Whether this process runs as root; its effective user by default.
    void setRunningAsRoot(bool root) { runningAsRoot_ = root; }
    QMessageBox* alert() const { return alert_; }  // the open alert, if any
    bool launching() const { return timer_ != nullptr; }

  signals:
    // Before the root instance starts: the documents and preferences are to be written, so
    // that it reads what this one shows.
    void saveRequested();
    // Quit; writeFiles false when they were written for the root instance already.
    void quitRequested(bool writeFiles);

  private:
    void PollLaunch();
    void StoreRootOff();
    QMessageBox* NewAlert(const std::string& message);

    app::MainApp& app_;
    QWidget* window_;
    app::RootRelaunch relaunch_;
    std::string executable_;
    bool runningAsRoot_;
    QTimer* timer_ = nullptr;
    QPointer<QMessageBox> alert_;
};

}  // namespace qv::ui
