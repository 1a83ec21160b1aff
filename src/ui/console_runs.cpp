// The console during a run: starting and stopping it, its progress, the drawer and the
// report at its end.
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <limits>

#include "app/main_app.h"
#include "platform/localization.h"
#include "run/plan_item.h"
#include "ui/console_window.h"
#include "ui/desktop_notification.h"
#include "ui/document_commands.h"
#include "ui/error_alert.h"
#include "ui/info_drawer.h"
#include "ui/log_window.h"
#include "ui/middle_truncation.h"
#include "ui/option_panel.h"
#include "ui/qt_text.h"
#include "ui/run_controller.h"
#include "ui/size_display.h"

namespace qv::ui {

using platform::GLS;

namespace {

// The shortest pause between two progress refreshes, whatever the run asks for.
constexpr double kShortestRefresh = 0.05;
// Steps of the progress bar within one item, as long as the bar's integer range allows.
constexpr int kProgressStepsPerItem = 100;
// A run at least this long that ends while the window is not active is told on the desktop.
constexpr double kNotifiedRunSeconds = 30;

}  // namespace

// ---- Runs ----

bool ConsoleWindow::isRunning() const { return run_->isActive(); }

void ConsoleWindow::TaskExecuteSyncOrBackup() {
    if (isRunning()) {
        StopRun();
        return;
    }
    const sessions::SessionDocument& doc = app_.document();
    if (!IsRealSession(doc.mSessionIndex) && !doc.IsAllSessions(doc.mSessionIndex)) return;
    if (confirmation_) return;  // already asking
    // The run reads the session document: the panel on screen goes into it first.
    if (!GetCurrentPanel()) return;
    // A session without its two folders has nothing to run (the keys reach here too).
    if (IsRealSession(doc.mSessionIndex) && !IsMultiSession(doc.mSessionIndex)) {
        const plist::Value* console = doc.GetSessionDict(doc.mSessionIndex)->dictAt("consoleDict");
        for (const bool source : {true, false}) {
            if (console == nullptr ||
                console->stringAt(source ? "topFolder" : "bottomFolder").empty()) {
                Refuse(Str(
                    GLS(source ? "Source Folder not defined" : "Destination Folder not defined")));
                return;
            }
        }
    }
    const bool exactAsks = app_.MustConfirmExactRun();
    const auto confirmation = app_.runService().AreYouSure(app::RunRequest{}, exactAsks);
    if (!confirmation) {
        StartRun();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, Str(confirmation->title),
                                Str(confirmation->message), QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("confirmation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QPushButton* ok = box->addButton(Str(confirmation->okTitle), QMessageBox::AcceptRole);
    box->addButton(Str(confirmation->cancelTitle), QMessageBox::RejectRole);
    box->setDefaultButton(ok);
    connect(box, &QMessageBox::finished, this, [this, box, ok, exactAsks] {
        if (box->clickedButton() != ok || isRunning() || terminated_) return;
        if (exactAsks) app_.NoteExactRunConfirmed();
        StartRun();
    });
    confirmation_ = box;
    box->open();
}

void ConsoleWindow::StartRun() {
    if (run_->Start()) return;
    Refuse(run_->refusal());
}

void ConsoleWindow::Refuse(const QString& why) {
    if (refusal_) return;
    auto* box =
        new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")), why, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("refusal"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    refusal_ = box;
    box->open();
}

void ConsoleWindow::StopRun() {
    if (!isRunning()) return;
    run_->Stop();
    // Heard: the run ends after the item in hand, or within a large file in a moment.
    stopping_ = true;
    SetComment({Str(GLS("Stopping…"))});
    mainButton_->setText(Str(GLS("Stopping…")));
    mainButton_->setEnabled(false);
}

void ConsoleWindow::RunStarted() {
    stopping_ = false;
    EnableDisableConsolePanes(false);
    SyncRunActions();
    SetComment({});
    mainButton_->setText(Str(GLS("Stop")));
    mainButton_->setIcon(NamedIcon("icn_stop"));
    mainButton_->setProperty("running", true);
    mainButton_->style()->polish(mainButton_);
    progress_->setRange(0, 0);  // busy until the copy knows its size
    copying_ = false;
    runStartedAt_ = clock_();
}

void ConsoleWindow::ScanProgress(qint64 itemsScanned, qint64 itemsToDo) {
    if (copying_ || stopping_) return;
    SetComment({Str(GLS("Items scanned:")) + QStringLiteral(" %1").arg(itemsScanned),
                Str(GLS("Items to do:")) + QStringLiteral(" %1").arg(itemsToDo)});
}

void ConsoleWindow::PreviewShowing() {
    SetComment({Str(GLS("Preview…"))});
    // Nothing moves while the user looks at the plan; the place stays for the copy's bar.
    QSizePolicy policy = progress_->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    progress_->setSizePolicy(policy);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->hide();
}

void ConsoleWindow::CopyStarting(qint64 itemsToDo, double secondsBetweenRefreshes) {
    progress_->show();
    itemsAtCopyStart_ = itemsToDo;
    const std::int64_t items = std::max<qint64>(itemsToDo, 1);
    progressStepsPerItem_ = items <= std::numeric_limits<int>::max() / kProgressStepsPerItem
                                ? kProgressStepsPerItem
                                : 1;
    progress_->setRange(0, static_cast<int>(std::min<std::int64_t>(
                               items * progressStepsPerItem_, std::numeric_limits<int>::max())));
    progress_->setValue(0);
    figures_.reset();
    progressModel_.reset();
    if (const run::RunState* s = run_->state()) progressModel_.emplace(s->progress, clock_);
    const double seconds = std::max(secondsBetweenRefreshes, kShortestRefresh);
    updateTimer_->setInterval(static_cast<int>(seconds * 1000));
    copying_ = true;
    ToggleTimerUpdateField(true);
}

void ConsoleWindow::ToggleTimerUpdateField(bool on) {
    if (on) {
        UpdateItemsToDoField();
        updateTimer_->start();
    } else {
        updateTimer_->stop();
    }
}

void ConsoleWindow::UpdateItemsToDoField() {
    if (!copying_ || !progressModel_) return;
    const std::optional<app::ProgressFigures> f = progressModel_->Sample();
    if (!f) return;
    ShowCopyProgress(*f);
}

void ConsoleWindow::ShowRunForPicture(const app::ProgressFigures& figures) {
    RunStarted();
    CopyStarting(figures.itemsTotal, 1.0);
    updateTimer_->stop();
    ShowCopyProgress(figures);
}

void ConsoleWindow::ShowCopyProgress(const app::ProgressFigures& f) {
    figures_ = f;
    const std::int64_t left = std::max<std::int64_t>(itemsAtCopyStart_ - f.itemsDone, 0);
    // Items left, then the content written of all, the pace of the last seconds and the time
    // left at that pace.
    const QString bytes = Str(BytesCopiedText(f.bytesDone, f.bytesTotal));
    const QString rate = Str(f.bytesPerSecond ? app::RateText(*f.bytesPerSecond) : "--");
    const QString timeLeft =
        Str(GLS("Time left:")) + QLatin1Char(' ') + Str(app::TimeLeftText(f.secondsLeft));
    SetComment({stopping_ ? Str(GLS("Stopping…"))
                          : Str(GLS("Items to do:")) + QStringLiteral(" %1").arg(left),
                bytes + QStringLiteral(" \u2022 ") + rate + QStringLiteral(" \u2022 ") + timeLeft});
    // Within a large file the bar goes on moving with the bytes written.
    const std::int64_t within =
        f.itemBytes == 0 ? 0
                         : static_cast<std::int64_t>(
                               f.itemBytesDone * static_cast<std::uint64_t>(progressStepsPerItem_) /
                               f.itemBytes);
    const std::int64_t value = (itemsAtCopyStart_ - left) * progressStepsPerItem_ +
                               std::min<std::int64_t>(within, progressStepsPerItem_ - 1);
    progress_->setValue(static_cast<int>(std::min<std::int64_t>(value, progress_->maximum())));
    UpdateInfoDrawer();
}

void ConsoleWindow::setInfoDrawerOpen(bool open) {
    if (drawerButton_->isChecked() != open) drawerButton_->setChecked(open);
    if (open == drawer_->isVisible()) return;
    if (open) {
        widthWithoutDrawer_ = width();
    } else {
        // The window gives back the room the drawer took, unless the user resized it since.
        const int drawerRoom = drawer_->width() + centralWidget()->layout()->spacing();
        if (width() >= widthWithoutDrawer_ + drawerRoom) widthWithoutDrawer_ = width() - drawerRoom;
    }
    drawer_->setVisible(open);
    if (open) {
        UpdateInfoDrawer();
    } else if (widthWithoutDrawer_ > 0) {
        // Once the layout has let go of the drawer's minimum width.
        QTimer::singleShot(0, this, [this] {
            if (!drawer_->isVisible()) resize(widthWithoutDrawer_, height());
        });
    }
}

QString ConsoleWindow::infoDrawerText() const { return drawer_->text(); }

void ConsoleWindow::UpdateInfoDrawer() {
    // copying_: a run's copy, until it ends.
    drawer_->Show(figures_.has_value() && copying_ ? &*figures_ : nullptr);
}

void ConsoleWindow::RunFinished() {
    if (copying_) UpdateItemsToDoField();
    ToggleTimerUpdateField(false);
    copying_ = false;
    figures_.reset();
    progressModel_.reset();
    progress_->show();
    if (progress_->maximum() == 0) progress_->setRange(0, 1);
    UpdateInfoDrawer();
    const std::int64_t i = app_.document().mSessionIndex;
    SetConsolePanes(i);
    // A log window on screen follows the run that just ended.
    if (logWindow_ != nullptr && logWindow_->isVisible()) {
        const app::RunService& service = app_.runService();
        logWindow_->FillLogWindow(service.pathLogFile(), service.logString());
    }
    SetReportOnConsole();
    stopping_ = false;
    mainButton_->setEnabled(true);
    EnableDisableConsolePanes(true);
    SyncRunActions();
    TellRunEnded();
    if (terminateAfterRun_) {
        Terminate();
        return;
    }
    emit readyForReload();
}

void ConsoleWindow::TellRunEnded() {
    if (app_.preferences().mPrefDict.intAt("prefBeepWhenDone") != 0) QApplication::beep();
    // Someone watching the window sees the report; a long run finished behind their back is
    // worth a word on the desktop.
    if (clock_() - runStartedAt_ < kNotifiedRunSeconds || isActiveWindow()) return;
    ShowDesktopNotification(Str(GLS("Quorvel run finished")), commentText_);
}

void ConsoleWindow::SetReportOnConsole() {
    if (run_->state() == nullptr) return;
    const app::RunConclusion& c = run_->conclusion();
    QStringList lines;
    for (const std::string& line : c.report) lines << Str(line);
    SetComment(lines);
    if (!c.logSaveError.empty()) {
        auto* alert = new ErrorAlert(
            ErrorAlert::Kind::Stops, GLS("Warning:"), c.logSaveError, [](bool) {}, this);
        alert->open();
    }
}

void ConsoleWindow::SetComment(const QStringList& lines) {
    commentLines_ = lines;
    commentText_ = lines.join(QLatin1Char('\n'));
    QStringList shown;
    for (const QString& line : lines) shown << TruncatedString(line, *comment_);
    comment_->setText(shown.join(QLatin1Char('\n')));
}

void ConsoleWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    SetComment(commentLines_);
}

}  // namespace qv::ui
