// The console around an unattended run that ends the application: the sync-and-quit countdown,
// the quit (or not) at its end, the program started with --sync-and-quit, and shutting the
// machine down after a run.

#include <QAbstractButton>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "platform/child_process.h"
#include "platform/file_io.h"
#include "run/run_state.h"
#include "support/console_fixture.h"
#include "support/fake_login.h"
#include "ui/console_window.h"
#include "ui/run_controller.h"

namespace qv::ui {
namespace {

constexpr int kRunTimeout = test::ConsoleFixture::kRunTimeout;
using Console = test::ConsoleFixture;

std::string Q(const QString& s) { return s.toStdString(); }

}  // namespace

class EndOfRunTest : public QObject {
    Q_OBJECT
  private slots:
    void SyncAndQuitCountsDownRunsAndQuits();
    void SyncAndQuitStaysForAStopOrUnsavedChanges();
    void ShutDownAfterARunNobodyStopped();
    void SyncAndQuitFromTheCommandLine();
};

void EndOfRunTest::SyncAndQuitCountsDownRunsAndQuits() {
    Console c;
    c.tree.Build({"A/f:f", "B/"});
    test::FakeLogin login;
    c.app->runService().SetLoginManager(login);
    double now = 100;
    c.window->setClock([&now] { return now; });
    c.Show();
    ConsoleWindow& w = *c.window;
    QSignalSpy terminated(&w, &ConsoleWindow::terminated);

    // The countdown shows its seconds; the main button, titled Stop, cancels it.
    w.PrepareToExecuteSyncAndQuit(run::kExecutedBySyncAndQuit);
    QCOMPARE(w.commentText(), QStringLiteral("Starting Sync and Quit in 10 seconds..."));
    QCOMPARE(w.mainButton()->text(), QStringLiteral("Stop"));
    QVERIFY(!w.sessionPopup()->isEnabled());
    now = 104.3;
    w.ExecuteSyncAndQuit();
    QCOMPARE(w.commentText(), QStringLiteral("Starting Sync And Quit in 6 seconds..."));
    w.mainButton()->click();
    QVERIFY(!w.isStartingSyncAndQuit());
    QVERIFY(w.sessionPopup()->isEnabled());
    QCOMPARE(w.mainButton()->text(), QStringLiteral("Backup"));
    now = 200;
    w.ExecuteSyncAndQuit();
    QVERIFY(!w.isRunning());
    QVERIFY(!platform::ItemExists(c.tree.path("B/f")));

    // Other sessions arriving during the countdown (a document handed over by another start)
    // cancel it, and say so: it never runs what it was not started for.
    w.PrepareToExecuteSyncAndQuit(run::kExecutedBySyncAndQuit);
    w.SetDocumentSessions();
    QVERIFY(!w.isStartingSyncAndQuit());
    QVERIFY(w.refusal() != nullptr);
    QCOMPARE(Q(w.refusal()->text()),
             std::string("Sync and Quit is cancelled: the sessions changed during the countdown."));
    w.refusal()->close();
    w.ExecuteSyncAndQuit();
    QVERIFY(!w.isRunning());

    // Left to count to its end: the run, unattended, then the quit with the log saved.
    w.PrepareToExecuteSyncAndQuit(run::kExecutedBySyncAndQuit);
    now = 209.99;
    w.ExecuteSyncAndQuit();
    QVERIFY(!w.isRunning());
    now = 210.01;
    w.ExecuteSyncAndQuit();
    QVERIFY(w.isRunning() || terminated.count() == 1);
    QVERIFY(terminated.wait(kRunTimeout) || terminated.count() == 1);
    QCOMPARE(test::ReadText(c.tree.path("B/f")), std::string("f"));
    const std::string saved = test::ReadText(c.app->runService().pathLogFile());
    QVERIFY(saved.find("executed by the Sync And Quit option") != std::string::npos);
    QVERIFY(!login.Held());
}

void EndOfRunTest::SyncAndQuitStaysForAStopOrUnsavedChanges() {
    Console c;
    c.tree.Build({"A/f:f", "B/"});
    double now = 0;
    c.window->setClock([&now] { return now; });
    c.Show();
    ConsoleWindow& w = *c.window;
    QSignalSpy terminated(&w, &ConsoleWindow::terminated);
    const auto countDownAndRun = [&] {
        w.PrepareToExecuteSyncAndQuit(run::kExecutedBySyncAndQuit);
        now += 10;
        w.ExecuteSyncAndQuit();
    };

    // Stopped (while its before-script waits): the window stays, ready for the next.
    c.Set(0, "appleScriptDict", "asStartOn", 1);
    c.Set(0, "appleScriptDict", "asStartText", "sleep 30");
    countDownAndRun();
    QVERIFY(w.isRunning());
    w.mainButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QCOMPARE(terminated.count(), 0);
    QVERIFY(!w.isExecutingSyncAndQuit());
    QVERIFY(c.app->runService().logString().find("user pressed the Stop button.") !=
            std::string::npos);

    // Changes not saved: nobody can answer the save question, so the window stays and says why.
    c.Set(0, "appleScriptDict", "asStartOn", 0);
    c.doc().isDocumentOpen = true;
    c.doc().isDocumentTemplate = false;
    c.doc().isDocumentSaved = false;
    QVERIFY(c.doc().isDocumentToBeSaved());
    countDownAndRun();
    QVERIFY(c.WaitForRunEnd());
    QVERIFY(QTest::qWaitFor([&] { return w.endOfRunAlert() != nullptr; }, kRunTimeout));
    QCOMPARE(Q(w.endOfRunAlert()->text()),
             std::string("Sync and Quit did not quit: the document has unsaved changes."));
    QCOMPARE(terminated.count(), 0);
    QCOMPARE(test::ReadText(c.tree.path("B/f")), std::string("f"));
}

void EndOfRunTest::ShutDownAfterARunNobodyStopped() {
    Console c;
    c.tree.Build({"A/f:f", "B/"});
    test::FakeLogin login;
    c.app->preferences().mPrefDict.set("prefShutDown", 1);
    c.window->setLoginManager(login);
    c.Show();
    ConsoleWindow& w = *c.window;
    const std::string prefsFile = c.home.path() + "/.config/quorvel/app.quorvel.Quorvel.plist";
    ::unlink(prefsFile.c_str());

    // After a clean run: the settings are written, then the machine is powered off.
    w.mainButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QCOMPARE(login.powerOffs.load(), 1);
    QVERIFY(platform::ItemExists(prefsFile));
    QVERIFY(w.endOfRunAlert() == nullptr);

    // Stopped (while its before-script waits): no power-off.
    c.Set(0, "appleScriptDict", "asStartOn", 1);
    c.Set(0, "appleScriptDict", "asStartText", "sleep 30");
    w.mainButton()->click();
    QVERIFY(w.isRunning());
    w.mainButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QVERIFY(c.state().mUserPressedStop);
    QCOMPARE(login.powerOffs.load(), 1);

    // Refused: the user is told why.
    c.Set(0, "appleScriptDict", "asStartOn", 0);
    login.refusePowerOff = "Interactive authentication required.";
    w.mainButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QCOMPARE(login.powerOffs.load(), 2);
    QVERIFY(QTest::qWaitFor([&] { return w.endOfRunAlert() != nullptr; }, kRunTimeout));
    QCOMPARE(Q(w.endOfRunAlert()->text()),
             std::string("Can't shut down the computer: Interactive authentication required."));

    // A sync-and-quit run quits all the same: nobody is there to read an alert.
    w.endOfRunAlert()->close();
    QSignalSpy terminated(&w, &ConsoleWindow::terminated);
    double now = 0;
    w.setClock([&now] { return now; });
    w.PrepareToExecuteSyncAndQuit(run::kExecutedBySyncAndQuit);
    now = 10;
    w.ExecuteSyncAndQuit();
    QVERIFY(terminated.wait(kRunTimeout) || terminated.count() == 1);
    QCOMPARE(login.powerOffs.load(), 3);
}

void EndOfRunTest::SyncAndQuitFromTheCommandLine() {
    Console c;
    c.tree.Build({"A/f:f", "B/"});
    c.Show();
    c.window->DocumentChanged();  // the template on disk, for the program to read
    const std::string logs = c.app->runService().LogFolder();
    // Whether the run succeeds or fails, the program quits of itself, its log saved.
    for (const bool fails : {false, true}) {
        if (fails) {
            c.Set(0, "consoleDict", "topFolder", c.tree.path("missing"));
            c.window->DocumentChanged();
        }
        platform::ChildProcess gui;
        std::string error;
        QVERIFY2(gui.Start({QV_GUI_BINARY, "--sync-and-quit"}, &error), error.c_str());
        const bool ended = gui.Wait(30000);
        if (!ended) gui.Kill();
        QVERIFY2(ended, gui.output().c_str());
        QCOMPARE(gui.exitCode(), 0);
        std::string newest;
        for (const auto& entry : std::filesystem::directory_iterator(logs)) {
            const std::string text = test::ReadText(entry.path());
            if (text.find(fails ? "Errors: 1" : "Errors: 0") != std::string::npos) newest = text;
        }
        QVERIFY2(newest.find("executed by the Sync And Quit option") != std::string::npos,
                 newest.c_str());
    }
    QCOMPARE(test::ReadText(c.tree.path("B/f")), std::string("f"));
}

}  // namespace qv::ui

QV_WINDOW_TEST_MAIN(qv::ui::EndOfRunTest)

#include "end_of_run_test.moc"
