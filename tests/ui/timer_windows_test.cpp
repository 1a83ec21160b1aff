// The timer panel with its row dialog and its trigger section, the scheduling window over the
// window's scheduler with a clock of the test's own, and the scheduler lock that keeps the window
// from firing while a background scheduler does.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/main_app.h"
#include "app/timer_service.h"
#include "platform/civil_day.h"
#include "platform/run_lock.h"
#include "schedule/scheduler.h"
#include "sessions/plist_codec.h"
#include "sessions/session_document.h"
#include "sessions/timer_editor.h"
#include "sessions/trigger_options.h"
#include "support/test_support.h"
#include "support/tree_fixture.h"
#include "ui/console_window.h"
#include "ui/document_commands.h"
#include "ui/run_controller.h"
#include "ui/scheduling_window.h"
#include "ui/stepper_field.h"
#include "ui/timer_panel.h"
#include "ui/timer_row_dialog.h"
#include "ui/window_scheduler.h"

namespace qv::ui {
namespace {

const platform::CivilDay kMonday{2030, 1, 7};

// A private home with the two-session document; the first session backs a small tree up.
struct Home {
    Home() {
        test::UsePrivateHome(env, home.path());
        env.Set("LC_ALL", "en_US.UTF-8");
        app = std::make_unique<app::MainApp>(QV_RESOURCES_DIR);
        if (!app->Start().ok) qFatal("start-up failed");
        app->document().mMainDict =
            test::TwoFolderDocument(tree.a(), tree.b(), sessions::kTaskBackup).mMainDict;
        app->document().mSessionIndex = 0;
    }
    // The first session's row 0 fires every hour from 00:00 on the test's Monday.
    void HourlyTimer() {
        plist::Value& timers = *app->document().GetSessionDict(0)->dictAt("timerDict");
        timers.set("timerOn", 1);
        plist::Value& row = timers.arrayAt("timerArray")->array()[0];
        row.set("start", sessions::TimerDate(kMonday.day, kMonday.month, kMonday.year, 0, 0));
        row.set("valid", 1);
        row.set("intervalOn", 1);
        row.set("intervalHours", 1);
    }

    test::TempDir home;
    test::ScopedEnv env;
    test::TreeFixture tree;
    std::unique_ptr<app::MainApp> app;
};

// The window's scheduler on its own, at the test's time.
struct Scheduling : Home {
    Scheduling() {
        HourlyTimer();
        at(10, 30);
        runs = std::make_unique<RunController>(*app, &parent);
        scheduler = std::make_unique<WindowScheduler>(*app, *runs, [this] { return now; });
        window = std::make_unique<SchedulingWindow>(*scheduler, nullptr);
    }
    void at(std::int64_t hour, std::int64_t minute) {
        now = platform::MomentOf({kMonday, hour * 60 + minute});
    }
    std::vector<QString> Column(int column) const {
        std::vector<QString> texts;
        for (int r = 0; r < window->table()->rowCount(); ++r) {
            texts.push_back(window->table()->item(r, column)->text());
        }
        return texts;
    }
    // Fires the entry due now and waits for its run to conclude.
    void FireAndConclude() {
        QSignalSpy finished(runs.get(), &RunController::finished);
        if (!scheduler->Tick()) qFatal("nothing fired");
        if (!finished.wait(60000)) qFatal("the timer run did not conclude");
    }

    std::time_t now = 0;
    QWidget parent;
    std::unique_ptr<RunController> runs;
    std::unique_ptr<WindowScheduler> scheduler;
    std::unique_ptr<SchedulingWindow> window;
};

struct Console : Home {
    Console() {
        window = std::make_unique<ConsoleWindow>(*app);
        window->SetDocumentSessions();
        window->show();
        window->GoPanel("timer");
    }
    TimerPanel& panel() { return *static_cast<TimerPanel*>(window->panel("timer")); }
    QString Cell(int row, int column) { return panel().table()->item(row, column)->text(); }
    void Click(int row, int column, Qt::KeyboardModifiers modifiers = {}) {
        QTableWidget* t = panel().table();
        const QPoint at = t->visualRect(t->model()->index(row, column)).center();
        QTest::mouseClick(t->viewport(), Qt::LeftButton, modifiers, at);
    }
    TimerRowDialog& Open(int row) {
        Click(row, 1);
        TimerRowDialog* dialog = panel().rowDialog();
        if (dialog == nullptr || !dialog->isVisible()) qFatal("the row dialog did not open");
        return *dialog;
    }
    const plist::Value& StoredRow(std::size_t row) {
        window->ChooseGoPanel(0);
        return app->document()
            .GetSessionDict(0)
            ->dictAt("timerDict")
            ->arrayAt("timerArray")
            ->array()
            .at(row);
    }

    std::unique_ptr<ConsoleWindow> window;
};

void Type(TimerRowDialog& d, const char* name, const QString& text) {
    d.field(name)->setText(text);
}

}  // namespace

class TimerWindowsTest : public QObject {
    Q_OBJECT
  private slots:
    void TheRowDialogStoresARepeatingRowThatTheTableShows();
    void ARefusedRowKeepsTheDialogOpenOnTheCorrectedField();
    void TheDaySteppersFollowTheMonthAndTheRepeatBoxEnablesItsFields();
    void AltClickClearsARow();
    void TheSchedulingWindowListsFiresAndDeletesOnlyDoneEntries();
    void TheHorizonPopUpListsMoreDays();
    void TheWindowDoesNotFireWhileABackgroundSchedulerHoldsTheLock();
    void TheWindowSaysWhyItCannotTakeTheLock();
    void ADocumentFromElsewhereRunsNothingUntilTheUserTrustsIt();
    void TheTriggerSectionEditsTheSessionAndRefusesABadNumber();
};

void TimerWindowsTest::TheRowDialogStoresARepeatingRowThatTheTableShows() {
    Console c;
    QVERIFY(!c.panel().onOffBox()->isChecked());
    TimerRowDialog& d = c.Open(2);
    Type(d, "startHour", "22");
    Type(d, "startMinute", "0");
    Type(d, "startDay", "29");
    Type(d, "startMonth", "2");
    Type(d, "startYear", "2028");
    d.checkBox("intervalOn")->setChecked(true);
    Type(d, "intervalHours", "5");
    Type(d, "intervalMinutes", "30");
    Type(d, "intervalDays", "1");
    QTest::mouseClick(d.okButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return c.panel().rowDialog() == nullptr; }));

    // Accepting a row switches the timers on.
    QVERIFY(c.panel().onOffBox()->isChecked());
    QVERIFY(c.window->optionMarker(kTimerOption));
    QCOMPARE(c.Cell(2, 0), QStringLiteral("•"));
    QCOMPARE(c.Cell(2, 1), QStringLiteral("29 Feb 2028, 22:00"));
    QCOMPARE(c.Cell(2, 2), QStringLiteral("05:30 1D"));
    QCOMPARE(c.Cell(3, 1), QString());

    const plist::Value& row = c.StoredRow(2);
    QCOMPARE(row.intAt("valid"), 1);
    QCOMPARE(row.intAt("intervalOn"), 1);
    QCOMPARE(row.intAt("intervalHours"), 5);
    QCOMPARE(row.intAt("intervalMinutes"), 30);
    QCOMPARE(row.intAt("intervalDays"), 1);
    QCOMPARE(*row.find("start"), plist::Value(sessions::TimerDate(29, 2, 2028, 22, 0)));
    QCOMPARE(c.app->document().GetSessionDict(0)->dictAt("timerDict")->intAt("timerOn"), 1);
}

void TimerWindowsTest::ARefusedRowKeepsTheDialogOpenOnTheCorrectedField() {
    Console c;
    TimerRowDialog& d = c.Open(0);
    Type(d, "startMonth", "13");
    QTest::mouseClick(d.okButton(), Qt::LeftButton);
    QVERIFY(d.isVisible());
    QVERIFY(d.alert() != nullptr);
    QCOMPARE(d.alert()->text(),
             QStringLiteral("The Start Month field must contains values from 1 to 12."));
    QCOMPARE(d.field("startMonth")->text(), QStringLiteral("1"));
    d.alert()->button(QMessageBox::Ok)->click();
    QVERIFY(QTest::qWaitFor([&] { return d.alert() == nullptr; }));
    QVERIFY(d.isVisible());
    QWidget* focus = d.focusWidget();
    QVERIFY(focus == d.field("startMonth") || focus->isAncestorOf(d.field("startMonth")));

    // A refusal without a field to correct: a repetition of nothing.
    d.checkBox("intervalOn")->setChecked(true);
    for (const char* name :
         {"intervalHours", "intervalMinutes", "intervalDays", "intervalMonths", "intervalYears"}) {
        Type(d, name, "0");
    }
    QTest::mouseClick(d.okButton(), Qt::LeftButton);
    QVERIFY(d.isVisible());
    QCOMPARE(d.alert()->text(), QStringLiteral("Can't set a zero interval."));
    d.alert()->button(QMessageBox::Ok)->click();
    QVERIFY(QTest::qWaitFor([&] { return d.alert() == nullptr; }));

    // Cancel leaves the row as it was: not valid, and the timers off.
    QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return c.panel().rowDialog() == nullptr; }));
    QCOMPARE(c.Cell(0, 1), QString());
    QVERIFY(!c.panel().onOffBox()->isChecked());
    QCOMPARE(c.StoredRow(0).intAt("valid"), 0);
}

void TimerWindowsTest::TheDaySteppersFollowTheMonthAndTheRepeatBoxEnablesItsFields() {
    Console c;
    TimerRowDialog& d = c.Open(0);
    Type(d, "startDay", "31");
    Type(d, "startMonth", "1");
    Type(d, "startYear", "2027");
    d.stepper("startMonth")->stepUp();
    QCOMPARE(d.field("startMonth")->text(), QStringLiteral("2"));
    QCOMPARE(d.field("startDay")->text(), QStringLiteral("28"));
    QCOMPARE(d.startWeekday()->text(), QStringLiteral("Sunday"));
    d.stepper("startDay")->stepUp();  // the last day of February 2027 is the stepper's top
    QCOMPARE(d.field("startDay")->text(), QStringLiteral("28"));
    // The minutes of a time keep two digits: 18:04, never 18:4.
    Type(d, "startMinute", "3");
    d.stepper("startMinute")->stepUp();
    QCOMPARE(d.field("startMinute")->text(), QStringLiteral("04"));

    d.checkBox("intervalOn")->setChecked(false);
    QVERIFY(!d.stepper("intervalHours")->isEnabled());
    QVERIFY(!d.checkBox("endOn")->isEnabled());
    QVERIFY(!d.checkBox("onlyMonday")->isEnabled());
    d.checkBox("intervalOn")->setChecked(true);
    d.checkBox("endOn")->setChecked(true);
    d.checkBox("endDateOn")->setChecked(false);
    QVERIFY(d.stepper("intervalHours")->isEnabled());
    QVERIFY(d.stepper("endHour")->isEnabled());
    QVERIFY(!d.stepper("endDay")->isEnabled());
    d.checkBox("endDateOn")->setChecked(true);
    QVERIFY(d.stepper("endDay")->isEnabled());
    d.reject();
    QVERIFY(QTest::qWaitFor([&] { return c.panel().rowDialog() == nullptr; }));
}

void TimerWindowsTest::AltClickClearsARow() {
    Console c;
    TimerRowDialog& d = c.Open(1);
    QTest::mouseClick(d.okButton(), Qt::LeftButton);  // now and its fields as they came
    QVERIFY(QTest::qWaitFor([&] { return c.panel().rowDialog() == nullptr; }));
    QVERIFY(!c.Cell(1, 1).isEmpty());
    c.Click(1, 0);  // the first column switches the row off
    QCOMPARE(c.Cell(1, 0), QStringLiteral("-"));
    c.Click(1, 2, Qt::AltModifier);
    QVERIFY(c.panel().rowDialog() == nullptr);
    QCOMPARE(c.Cell(1, 0), QString());  // an empty row is neither on nor off
    QCOMPARE(c.Cell(1, 1), QString());
    QCOMPARE(c.StoredRow(1).intAt("valid"), 0);
}

void TimerWindowsTest::TheSchedulingWindowListsFiresAndDeletesOnlyDoneEntries() {
    Scheduling s;
    s.scheduler->Arm();
    // 11:00 to 23:00 of today.
    QCOMPARE(s.window->table()->rowCount(), 13);
    QCOMPARE(s.Column(1).front(), QStringLiteral("2030.01.07, 11:00 - Monday"));
    QCOMPARE(s.Column(3).front(), QStringLiteral("Wait"));
    QVERIFY(!s.window->table()->item(0, 5)->icon().isNull());  // the next execution
    QVERIFY(
        s.window->notice()->text().startsWith(QStringLiteral("Next Timer: 07 Jan 2030 - 11:00")));

    s.at(11, 0);
    s.FireAndConclude();
    QCOMPARE(s.Column(3).front(), QStringLiteral("Done"));
    QCOMPARE(s.Column(4).front(), QStringLiteral("0"));
    QVERIFY(!s.window->table()->item(1, 5)->icon().isNull());

    // A selection holding a Wait entry is not deleted.
    s.window->table()->selectRow(1);
    QVERIFY(!s.window->deleteButton()->isEnabled());
    s.window->DeleteTimerRow();
    QCOMPARE(s.window->table()->rowCount(), 13);

    // The Done entry opens its log, and goes.
    QString opened;
    s.window->onOpenLog = [&opened](const std::string& path) {
        opened = QString::fromStdString(path);
    };
    s.window->table()->selectRow(0);
    QVERIFY(s.window->openLogButton()->isEnabled());
    QTest::mouseClick(s.window->openLogButton(), Qt::LeftButton);
    QVERIFY(!opened.isEmpty() && QFileInfo::exists(opened));
    QVERIFY(s.window->deleteButton()->isEnabled());
    QTest::mouseClick(s.window->deleteButton(), Qt::LeftButton);
    QCOMPARE(s.window->table()->rowCount(), 12);
    QCOMPARE(s.Column(1).front(), QStringLiteral("2030.01.07, 12:00 - Monday"));
}

void TimerWindowsTest::TheHorizonPopUpListsMoreDays() {
    Scheduling s;
    s.scheduler->Arm();
    QCOMPARE(s.window->horizonPopUp()->currentIndex(), 0);
    s.window->horizonPopUp()->activated(2);  // three days
    QCOMPARE(s.scheduler->scheduler().howManyDaysPreview(), 3);
    QCOMPARE(s.window->table()->rowCount(), 13 + 2 * 24);
    QCOMPARE(s.Column(1).back(), QStringLiteral("2030.01.09, 23:00 - Wednesday"));
    // Entries of later days wait for their day.
    s.at(11, 0);
    QSignalSpy finished(s.runs.get(), &RunController::finished);
    QVERIFY(s.scheduler->Tick());
    QVERIFY(!s.window->horizonPopUp()->isEnabled());  // blocked while the timer run goes on
    QVERIFY(finished.wait(60000));
    QVERIFY(s.window->horizonPopUp()->isEnabled());
}

void TimerWindowsTest::TheWindowDoesNotFireWhileABackgroundSchedulerHoldsTheLock() {
    Scheduling s;
    std::string heldBy, error;
    std::optional<platform::RunLock> background = app::AcquireSchedulerLock(
        s.app->paths(), "quorvel scheduler, process 4242", &heldBy, &error);
    QVERIFY(background.has_value());
    s.scheduler->Arm();
    s.at(11, 0);
    QVERIFY(!s.scheduler->Tick());
    QVERIFY(!s.scheduler->firesTimers());
    QCOMPARE(s.Column(3).front(), QStringLiteral("Wait"));
    QVERIFY(s.window->notice()->text().contains(QStringLiteral("quorvel scheduler, process 4242")));
    // Not firing, the list still follows the days.
    const QString monday = s.Column(1).back();
    s.now = platform::MomentOf({platform::DayFromNumber(platform::DayNumber(kMonday) + 1), 60});
    QVERIFY(!s.scheduler->Tick());
    QVERIFY(s.Column(1).back() != monday);
    s.at(11, 0);
    s.scheduler->Arm();

    // Once the background scheduler has gone, the window takes the timers over.
    background.reset();
    s.FireAndConclude();
    QVERIFY(s.scheduler->firesTimers());
    QVERIFY(!s.window->notice()->text().contains(QStringLiteral("4242")));
    QCOMPARE(s.Column(3).front(), QStringLiteral("Done"));
}

void TimerWindowsTest::TheWindowSaysWhyItCannotTakeTheLock() {
    Scheduling s;
    // A file where the lock's folder should be: no one holds the lock, and it cannot be taken.
    const std::string folder = platform::RunLockFolder(s.app->paths());
    const char* home = std::getenv("HOME");
    if (home == nullptr || folder.rfind(home, 0) != 0) {
        QSKIP("the lock's folder is not the test's own here (run through sudo?)");
    }
    std::filesystem::remove_all(folder);
    test::WriteText(folder, "not a folder");
    s.scheduler->Arm();
    s.at(11, 0);
    QVERIFY(!s.scheduler->Tick());
    QVERIFY(!s.scheduler->firesTimers());
    QVERIFY(s.window->notice()->text().contains(QStringLiteral("The timers cannot fire")));
    QCOMPARE(s.Column(3).front(), QStringLiteral("Wait"));
}

// A document received by mail with a timer due and an exact task: opening it asks, and until
// the user says yes nothing runs, by the timer or (unconfirmed) by the button.
void TimerWindowsTest::ADocumentFromElsewhereRunsNothingUntilTheUserTrustsIt() {
    Console c;
    c.tree.Build({"A/a"});
    c.HourlyTimer();
    plist::Value& settings = *c.app->document().GetSessionDict(0)->dictAt("settingsDict");
    settings.set("settExact", 1);
    const std::string received = c.home.path() + "/received.qvd";
    QVERIFY(plist::WriteXmlFile(received, c.app->document().mMainDict).ok);
    c.app->preferences().mPrefDict.set("prefAskConfirmation", 0);
    std::time_t now = platform::MomentOf({kMonday, 10 * 60 + 59});
    c.window->windowScheduler().scheduler().SetClock([&now] { return now; });
    int asked = 0;
    const auto answer = [&](bool yes) {
        QMessageBox* box = c.window->documents().question();
        if (box != nullptr && box->objectName() == QStringLiteral("saveQuestion")) {
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == QStringLiteral("Don't Save")) b->click();
            }
            box = c.window->documents().question();
        }
        QVERIFY(box != nullptr && box->isVisible());
        QCOMPARE(box->objectName(), QStringLiteral("timersQuestion"));
        ++asked;
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == (yes ? QStringLiteral("Yes") : QStringLiteral("No"))) b->click();
        }
        QVERIFY(QTest::qWaitFor([&] { return c.window->documents().question() == nullptr; }));
    };

    c.window->documents().OpenFile(received);
    answer(false);
    now += 70;  // 11:00:10, the timer is due
    c.window->windowScheduler().Arm();
    QVERIFY(!c.window->windowScheduler().Tick());
    QVERIFY(!c.window->isRunning());
    QVERIFY(c.window->windowScheduler().StatusText().contains(QStringLiteral("do not fire")));
    QVERIFY(!std::filesystem::exists(c.tree.path("B/a")));
    // The button asks before an exact run although confirmation is off.
    c.window->TaskExecuteSyncOrBackup();
    QVERIFY(c.window->findChild<QMessageBox*>(QStringLiteral("confirmation")) != nullptr);
    QVERIFY(!c.window->isRunning());
    c.window->findChild<QMessageBox*>(QStringLiteral("confirmation"))->reject();

    // Opened again, it asks again; said yes to, it fires, and is trusted from then on.
    c.window->documents().OpenFile(received);
    answer(true);
    QVERIFY(c.window->windowScheduler().Tick());
    QVERIFY(QTest::qWaitFor([&] { return !c.window->isRunning(); }, 60000));
    QVERIFY(std::filesystem::exists(c.tree.path("B/a")));
    c.window->documents().OpenFile(received);
    QVERIFY(c.window->documents().question() == nullptr ||
            c.window->documents().question()->objectName() != QStringLiteral("timersQuestion"));
    QCOMPARE(asked, 2);
    // Changed by another program, the document asks again.
    plist::Value changed = *plist::ReadFile(received).value;
    changed.find("sessionsArray")->array()[0].dictAt("consoleDict")->set("bottomFolder", "/etc");
    QVERIFY(plist::WriteXmlFile(received, changed).ok);
    c.window->documents().OpenFile(received);
    answer(false);
    QCOMPARE(asked, 3);
}

void TimerWindowsTest::TheTriggerSectionEditsTheSessionAndRefusesABadNumber() {
    Console c;
    TimerPanel& p = c.panel();
    const auto stored = [&] {
        return c.app->document().GetSessionDict(0)->dictAt(sessions::kTriggerDictKey);
    };
    QVERIFY(!p.onMountBox()->isChecked() && !p.onChangeBox()->isChecked());
    QCOMPARE(p.quietField()->text(), QStringLiteral("60"));
    QVERIFY(!p.quietField()->isEnabled() && !p.minMinutesField()->isEnabled());
    QCOMPARE(p.triggerDescription()->text(), QStringLiteral("No triggers."));
    // Only looking leaves the session without triggers.
    QTest::mouseClick(c.window->consoleButton(), Qt::LeftButton);
    QCOMPARE(c.window->currentPanel(), std::string("console"));
    QVERIFY(stored() == nullptr);

    c.window->GoPanel("timer");
    p.onChangeBox()->setChecked(true);
    QVERIFY(p.quietField()->isEnabled() && p.minMinutesField()->isEnabled());
    QVERIFY(c.window->optionMarker(kTimerOption));
    p.quietField()->setText(QStringLiteral("0"));
    QTest::mouseClick(c.window->consoleButton(), Qt::LeftButton);
    QCOMPARE(c.window->currentPanel(), std::string("timer"));
    QMessageBox* alert = c.window->panelAlert();
    QVERIFY(alert != nullptr);
    QCOMPARE(alert->text(),
             QStringLiteral("The quiet time must be from 1 to 86400 seconds (a day)."));
    alert->button(QMessageBox::Ok)->click();
    QVERIFY(QTest::qWaitFor([&] { return c.window->panelAlert() == nullptr; }));
    QVERIFY(stored() == nullptr);

    p.quietField()->setText(QStringLiteral("30"));
    QTest::mouseClick(c.window->consoleButton(), Qt::LeftButton);
    QCOMPARE(c.window->currentPanel(), std::string("console"));
    QVERIFY(stored() != nullptr);
    QCOMPARE(stored()->intAt(sessions::kTriggerOnChangeKey), 1);
    QCOMPARE(stored()->intAt(sessions::kTriggerQuietKey), 30);
    QCOMPARE(stored()->intAt(sessions::kTriggerOnMountKey), 0);
    // Back on the console, the window's scheduler has armed the session's trigger.
    QVERIFY(c.window->windowScheduler().triggers().armed());
    QVERIFY(c.window->optionMarker(kTimerOption));
}

}  // namespace qv::ui

QTEST_MAIN(qv::ui::TimerWindowsTest)
#include "timer_windows_test.moc"
