// The console during a run: starting and stopping it, its progress, the drawer and the
// report at its end.
#include <QApplication>
#include <QEvent>
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
#include "ui/versions_window.h"

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
    if (syncAndQuit_.starting()) {
        StopSyncAndQuit();
        return;
    }
    if (isRunning()) {
        StopRun();
        return;
    }
    const sessions::SessionDocument& doc = app_.document();
    if (!IsRealSession(doc.mSessionIndex) && !doc.IsAllSessions(doc.mSessionIndex)) return;
    if (sheets_.confirmation) return;  // already asking
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
    sheets_.confirmation = box;
    box->open();
}

void ConsoleWindow::StartRun() {
    if (run_->Start()) return;
    Refuse(run_->refusal());
}

void ConsoleWindow::Refuse(const QString& why) {
    if (sheets_.refusal) return;
    auto* box =
        new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")), why, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("refusal"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    sheets_.refusal = box;
    box->open();
}

void ConsoleWindow::StopRun(bool quitting) {
    if (!isRunning()) return;
    run_->Stop(quitting);
    // Heard: the run ends after the item in hand, or within a large file in a moment.
    view_.stopping = true;
    SetComment({Str(GLS("Stopping…"))});
    mainButton_->setText(Str(GLS("Stopping…")));
    mainButton_->setEnabled(false);
}

void ConsoleWindow::RunStarted() {
    view_.stopping = false;
    if (VersionsWindow* versions = versionsWindow()) versions->setRunGoingOn(true);
    EnableDisableConsolePanes(false);
    SyncRunActions();
    SetComment({});
    mainButton_->setText(Str(GLS("Stop")));
    mainButton_->setIcon(NamedIcon("icn_stop"));
    mainButton_->setProperty("running", true);
    mainButton_->style()->polish(mainButton_);
    view_.progress->setRange(0, 0);  // busy until the copy knows its size
    view_.copying = false;
    view_.runStartedAt = view_.clock();
}

void ConsoleWindow::ScanProgress(qint64 itemsScanned, qint64 itemsToDo) {
    if (view_.copying || view_.stopping) return;
    SetComment({Str(GLS("Items scanned:")) + QStringLiteral(" %1").arg(itemsScanned),
                Str(GLS("Items to do:")) + QStringLiteral(" %1").arg(itemsToDo)});
}

void ConsoleWindow::PreviewShowing() {
    SetComment({Str(GLS("Preview…"))});
    // Nothing moves while the user looks at the plan; the place stays for the copy's bar.
    QSizePolicy policy = view_.progress->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    view_.progress->setSizePolicy(policy);
    view_.progress->setRange(0, 1);
    view_.progress->setValue(0);
    view_.progress->hide();
}

void ConsoleWindow::CopyStarting(qint64 itemsToDo, double secondsBetweenRefreshes) {
    view_.progress->show();
    view_.itemsAtCopyStart = itemsToDo;
    const std::int64_t items = std::max<qint64>(itemsToDo, 1);
    view_.progressStepsPerItem = items <= std::numeric_limits<int>::max() / kProgressStepsPerItem
                                     ? kProgressStepsPerItem
                                     : 1;
    view_.progress->setRange(
        0, static_cast<int>(std::min<std::int64_t>(items * view_.progressStepsPerItem,
                                                   std::numeric_limits<int>::max())));
    view_.progress->setValue(0);
    view_.figures.reset();
    view_.progressModel.reset();
    if (const run::RunState* s = run_->state())
        view_.progressModel.emplace(s->progress, view_.clock);
    const double seconds = std::max(secondsBetweenRefreshes, kShortestRefresh);
    view_.updateTimer->setInterval(static_cast<int>(seconds * 1000));
    view_.copying = true;
    ToggleTimerUpdateField(true);
}

void ConsoleWindow::ToggleTimerUpdateField(bool on) {
    if (on) {
        UpdateItemsToDoField();
        view_.updateTimer->start();
    } else {
        view_.updateTimer->stop();
    }
}

void ConsoleWindow::UpdateItemsToDoField() {
    if (!view_.copying || !view_.progressModel) return;
    const std::optional<app::ProgressFigures> f = view_.progressModel->Sample();
    if (!f) return;
    ShowCopyProgress(*f);
}

void ConsoleWindow::ShowRunForPicture(const app::ProgressFigures& figures) {
    RunStarted();
    CopyStarting(figures.itemsTotal, 1.0);
    view_.updateTimer->stop();
    ShowCopyProgress(figures);
}

void ConsoleWindow::ShowCopyProgress(const app::ProgressFigures& f) {
    view_.figures = f;
    const std::int64_t left = std::max<std::int64_t>(view_.itemsAtCopyStart - f.itemsDone, 0);
    // Items left, then the content written of all, the pace of the last seconds and the time
    // left at that pace.
    const QString bytes = Str(BytesCopiedText(f.bytesDone, f.bytesTotal));
    const QString rate = Str(f.bytesPerSecond ? app::RateText(*f.bytesPerSecond) : "--");
    const QString timeLeft =
        Str(GLS("Time left:")) + QLatin1Char(' ') + Str(app::TimeLeftText(f.secondsLeft));
    SetComment({view_.stopping ? Str(GLS("Stopping…"))
                               : Str(GLS("Items to do:")) + QStringLiteral(" %1").arg(left),
                bytes + QStringLiteral(" \u2022 ") + rate + QStringLiteral(" \u2022 ") + timeLeft});
    // Within a large file the bar goes on moving with the bytes written.
    const std::int64_t within =
        f.itemBytes == 0
            ? 0
            : static_cast<std::int64_t>(f.itemBytesDone *
                                        static_cast<std::uint64_t>(view_.progressStepsPerItem) /
                                        f.itemBytes);
    const std::int64_t value = (view_.itemsAtCopyStart - left) * view_.progressStepsPerItem +
                               std::min<std::int64_t>(within, view_.progressStepsPerItem - 1);
    view_.progress->setValue(
        static_cast<int>(std::min<std::int64_t>(value, view_.progress->maximum())));
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
    drawer_->Show(view_.figures.has_value() && view_.copying ? &*view_.figures : nullptr);
}

void ConsoleWindow::RunFinished() {
    if (VersionsWindow* versions = versionsWindow()) {
        versions->setRunGoingOn(false);
        // The run may have kept versions.
        if (versions->isVisible()) versions->Refresh();
    }
    if (view_.copying) UpdateItemsToDoField();
    ToggleTimerUpdateField(false);
    view_.copying = false;
    view_.figures.reset();
    view_.progressModel.reset();
    view_.progress->show();
    if (view_.progress->maximum() == 0) view_.progress->setRange(0, 1);
    UpdateInfoDrawer();
    const std::int64_t i = app_.document().mSessionIndex;
    SetConsolePanes(i);
    // A log window on screen follows the run that just ended.
    if (logWindow_ != nullptr && logWindow_->isVisible()) {
        const app::RunService& service = app_.runService();
        logWindow_->FillLogWindow(service.pathLogFile(), service.logString());
    }
    SetReportOnConsole();
    view_.stopping = false;
    mainButton_->setEnabled(true);
    EnableDisableConsolePanes(true);
    SyncRunActions();
    TellRunEnded();
    ActAfterRun();
}

void ConsoleWindow::TellRunEnded() {
    if (app_.preferences().mPrefDict.intAt("prefBeepWhenDone") != 0) QApplication::beep();
    // Someone watching the window sees the report; a long run finished behind their back is
    // worth a word on the desktop.
    if (view_.clock() - view_.runStartedAt < kNotifiedRunSeconds || isActiveWindow()) return;
    ShowDesktopNotification(Str(GLS("Quorvel run finished")), view_.commentText);
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
    view_.commentLines = lines;
    view_.commentText = lines.join(QLatin1Char('\n'));
    QStringList shown;
    for (const QString& line : lines) shown << TruncatedString(line, *view_.comment);
    view_.comment->setText(shown.join(QLatin1Char('\n')));
}

void ConsoleWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    SetComment(view_.commentLines);
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
    // A text set before the window was first laid out was cut to a label not yet its width.
    if (watched == view_.comment && event->type() == QEvent::Resize) {
        SetComment(view_.commentLines);
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace qv::ui
