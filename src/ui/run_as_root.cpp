#include "ui/run_as_root.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/main_app.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

namespace {
// The launcher waits on the user's password: a few looks a second are plenty.
constexpr int kPollMs = 100;
}  // namespace

RunAsRootController::RunAsRootController(app::MainApp& app, QWidget* window,
                                         std::vector<std::string> launcher)
    : QObject(window),
      app_(app),
      window_(window),
      relaunch_(std::move(launcher)),
      executable_(app::RootRelaunch::OwnExecutable()),
      runningAsRoot_(platform::RunningAsRoot()) {}

RunAsRootController::~RunAsRootController() = default;

void RunAsRootController::PrefRunAsRoot(bool checkboxOn) {
    if (checkboxOn && !runningAsRoot_) {
        if (timer_ != nullptr) return;  // already asking
        emit saveRequested();
        if (relaunch_.Start(executable_) == app::RootRelaunch::Status::NotFound) return;
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, &RunAsRootController::PollLaunch);
        timer_->start(kPollMs);
        PollLaunch();
    } else if (!checkboxOn && runningAsRoot_) {
        StoreRootOff();
        QMessageBox* alert = NewAlert(GLS("Quit and re-launch Quorvel to apply the changes."));
        QPushButton* quit = alert->addButton(Str(GLS("Quit Now")), QMessageBox::AcceptRole);
        alert->addButton(Str(GLS("Later")), QMessageBox::RejectRole);
        connect(alert, &QMessageBox::finished, this, [this, alert, quit] {
            if (alert->clickedButton() == quit) emit quitRequested(true);
        });
        alert->open();
    }
}

void RunAsRootController::PollLaunch() {
    using Status = app::RootRelaunch::Status;
    const Status status = relaunch_.Poll();
    if (status == Status::Pending) return;
    timer_->stop();
    timer_->deleteLater();
    timer_ = nullptr;
    switch (status) {
        case Status::Started:
            emit quitRequested(false);
            break;
        case Status::Cancelled:
            StoreRootOff();
            break;
        default: {
            StoreRootOff();
            QMessageBox* alert = NewAlert(GLS("Authorization denied."));
            alert->addButton(Str(GLS("OK")), QMessageBox::AcceptRole);
            alert->open();
            break;
        }
    }
}

void RunAsRootController::StoreRootOff() {
    app_.preferences().mPrefDict.set("prefRoot", 0);
    app_.preferences().WriteFilePreferences(false);
}

QMessageBox* RunAsRootController::NewAlert(const std::string& message) {
    if (alert_) alert_->deleteLater();
    auto* alert = new QMessageBox(QMessageBox::Warning, Str(GLS("Root Permissions:")),
                                  Lines(message), QMessageBox::NoButton, window_);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert_ = alert;
    return alert;
}

}  // namespace qv::ui
