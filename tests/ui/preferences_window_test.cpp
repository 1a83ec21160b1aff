// The preferences window over its editor, and the run-as-root option with stand-in launchers,
// on the offscreen platform.

#include "ui/preferences_window.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "app/main_app.h"
#include "platform/child_process.h"
#include "sessions/plist_codec.h"
#include "support/console_fixture.h"
#include "support/test_support.h"
#include "ui/run_as_root.h"

namespace qv::ui {
namespace {

constexpr int kLaunchTimeoutMs = 20000;  // only reached when the launch never settles

// An application started in a home of its own, with its preferences written.
struct App {
    App() {
        test::UsePrivateHome(env, home.path());
        app = std::make_unique<app::MainApp>(QV_RESOURCES_DIR);
        if (!app->Start().ok) qFatal("start-up failed");
    }
    plist::Value StoredPrefs() const {
        const plist::ReadResult file = plist::ReadFile(app->paths().pathFilePref);
        return file.value ? *file.value->find(sessions::kPreferencesKey) : plist::Value();
    }
    std::string Launcher(const std::string& script) const {
        const std::string path = home / "launcher";
        test::WriteText(path, "#!/bin/sh\n" + script + "\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }
    test::TempDir home;
    test::ScopedEnv env;
    std::unique_ptr<app::MainApp> app;
};

}  // namespace

class PreferencesWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void EnablingRulesFollowTheCheckboxes() {
        App a;
        PreferencesWindow w(*a.app, nullptr);
        w.show();
        struct Case {
            bool save, prune, mail, delta;
        };
        for (const Case& c : {Case{false, true, false, false}, Case{true, false, true, false},
                              Case{true, true, false, true}}) {
            w.checkbox("prefSaveLogFile")->setChecked(c.save);
            w.checkbox("prefDeleteLogsOn")->setChecked(c.prune);
            w.checkbox("prefSendEmail")->setChecked(c.mail);
            w.checkbox("prefModificationDelta")->setChecked(c.delta);
            QCOMPARE(w.control("prefSaveLogFileWhen")->isEnabled(), c.save);
            QCOMPARE(w.control("prefLogFileFormat")->isEnabled(), c.save);
            QCOMPARE(w.control("prefDeleteLogsOn")->isEnabled(), c.save);
            QCOMPARE(w.control("prefDeleteLogsPop")->isEnabled(), c.save && c.prune);
            QCOMPARE(w.control("prefDeleteLogsField")->isEnabled(), c.save && c.prune);
            QCOMPARE(w.control("prefSendEmailWhen")->isEnabled(), c.mail);
            QCOMPARE(w.control("prefModificationDeltaField")->isEnabled(), c.delta);
        }
    }

    void ApplyRefusesAPruneFieldBelowOneEvenWithPruningOff() {
        App a;
        const plist::Value before = a.StoredPrefs();
        PreferencesWindow w(*a.app, nullptr);
        w.show();
        auto* field = static_cast<QSpinBox*>(w.control("prefDeleteLogsField"));
        QVERIFY(!w.checkbox("prefDeleteLogsOn")->isChecked());
        field->setValue(0);
        w.PrefApply(PreferencesWindow::kApplyTag);
        QVERIFY(w.warning() != nullptr && w.warning()->isVisible());
        QCOMPARE(w.warning()->windowTitle(), QStringLiteral("Warning:"));
        QCOMPARE(w.warning()->text(), QString::fromUtf8(sessions::kDeleteLogsFieldMessage));
        QCOMPARE(field->value(), 1);
        QVERIFY(w.isVisible());
        QCOMPARE(w.result(), 0);
        QCOMPARE(a.StoredPrefs(), before);
    }

    void TheTestMailGoesThroughTheAccountTypedAndSaysHowItWent() {
        if (test::RunCommand("/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null") != 0) {
            QSKIP("needs python3-aiosmtpd");
        }
        App a;
        platform::ChildProcess server;
        std::string error;
        const std::string mail = a.home / "mail";
        ::mkdir(mail.c_str(), 0700);
        QVERIFY(server.Start({"/usr/bin/python3", QV_TEST_SUPPORT_DIR "/smtp_server.py", "--folder",
                              mail, "--user", "qv", "--password", "pa55"},
                             &error));
        for (int i = 0; i < 500 && server.output().find('\n') == std::string::npos; ++i) {
            server.Wait(20);
        }
        const QString port = QString::fromStdString(server.output()).section('\n', 0, 0);
        PreferencesWindow w(*a.app, nullptr);
        w.show();
        const auto type = [&](const char* key, const QString& text) {
            auto* field = qobject_cast<QLineEdit*>(w.control(key));
            field->setText(text);
            emit field->textEdited(text);
        };
        type("mSendEmailTo", QStringLiteral("ann@example.org"));
        type("mSendEmailFrom", QStringLiteral("qv@example.org"));
        type("mSendEmailSMTP", QStringLiteral("127.0.0.1"));
        type("mSendEmailPort", port);
        type("mSendEmailAccountID", QStringLiteral("qv"));
        auto* tls = qobject_cast<QComboBox*>(w.control("mSendEmailUseSSL"));
        tls->setCurrentIndex(tls->findData(QVariant::fromValue<qlonglong>(0)));
        for (const char* password : {"pa55", "wrong"}) {
            w.emailPassword()->setText(QLatin1String(password));
            emit w.emailPassword()->textEdited(QLatin1String(password));
            QSignalSpy ended(&w, &PreferencesWindow::testMailEnded);
            w.testMailButton()->click();
            QCOMPARE(w.testMailButton()->text(), QStringLiteral("Interrupt"));
            QVERIFY(ended.wait(30000));
            QVERIFY(w.testMailAlert() != nullptr);
            QCOMPARE(
                w.testMailAlert()->windowTitle(),
                QLatin1String(std::string_view(password) == "pa55" ? "Test Email Properly Sent"
                                                                   : "Cannot Send Test Email"));
            w.testMailAlert()->button(QMessageBox::Ok)->click();
        }
        const std::string sent = test::ReadText(mail + "/000.eml");
        QVERIFY(sent.rfind("RCPT: ann@example.org\n", 0) == 0);
        QVERIFY(sent.find("Subject: Quorvel Test Email\r\n") != std::string::npos);
        QVERIFY(test::ReadText(mail + "/001.eml").empty());  // the wrong password sent nothing
        server.Kill();
    }

    void CancelStoresNothingEvenAFolderChosenMeanwhile() {
        App a;
        const plist::Value before = a.StoredPrefs();
        PreferencesWindow w(*a.app, nullptr);
        w.show();
        w.checkbox("prefBeepWhenDone")->setChecked(true);
        w.SetLogFolderInUse(a.home / "chosen");
        QCOMPARE(w.shownLogFolder(), QString::fromStdString(a.home / "chosen"));
        QTest::keyClick(&w, Qt::Key_Escape);
        QCOMPARE(w.result(), PreferencesWindow::kCancelTag);
        QCOMPARE(a.StoredPrefs(), before);
        QCOMPARE(a.app->preferences().mPrefDict, before);
    }

    void ASuccessfulApplyWritesTheFileAndSaysWhenRootChanged() {
        App a;
        a.app->preferences().mPrefDict.set("prefRoot", 0);
        PreferencesWindow w(*a.app, nullptr);
        QSignalSpy rootChanged(&w, &PreferencesWindow::runAsRootChanged);
        w.show();
        w.checkbox("prefBeepWhenDone")->setChecked(true);
        QVERIFY(w.checkbox("prefConfirmEmptySideDeletion")->isChecked());  // on by default
        w.checkbox("prefConfirmEmptySideDeletion")->setChecked(false);
        static_cast<QComboBox*>(w.control("prefOnError"))->setCurrentIndex(0);
        w.SetLogFolderInUse(a.home / "chosen");
        w.checkbox("prefRoot")->setChecked(true);
        w.tabs()->setCurrentIndex(1);
        w.PrefApply(PreferencesWindow::kApplyTag);
        QCOMPARE(w.result(), PreferencesWindow::kApplyTag);
        const plist::Value stored = a.StoredPrefs();
        QCOMPARE(stored.intAt("prefBeepWhenDone"), 1);
        QCOMPARE(stored.intAt("prefConfirmEmptySideDeletion"), 0);
        QCOMPARE(stored.intAt("prefOnError"), 1);
        QCOMPARE(stored.stringAt("prefPathLogFolder"), a.home / "chosen");
        QCOMPARE(stored.stringAt("prefTabViewIdentifier"), std::string("Log"));
        QCOMPARE(rootChanged.count(), 1);
        QCOMPARE(rootChanged.front().front().toBool(), true);

        // Opened again: the controls show what was stored, on the tab it names.
        PreferencesWindow again(*a.app, nullptr);
        QVERIFY(again.checkbox("prefBeepWhenDone")->isChecked());
        QCOMPARE(again.tabs()->currentWidget()->objectName(), QStringLiteral("Log"));
    }

    void RunAsRootOnTellsEachEndOfTheLaunch() {
        struct Case {
            const char* script;
            bool quits;
            const char* alert;  // nullptr: none shown
        };
        const Case cases[] = {
            {"echo 'quorvel-gui: running as root'; exec sleep 2 >/dev/null 2>&1", true, nullptr},
            {"exit 126", false, nullptr},
            {"exit 127", false, "Authorization denied."},
        };
        for (const Case& c : cases) {
            App a;
            QWidget window;
            RunAsRootController root(*a.app, &window, {a.Launcher(c.script)});
            root.setExecutable("/bin/true");
            root.setRunningAsRoot(false);
            a.app->preferences().mPrefDict.set("prefRoot", 1);
            QSignalSpy saved(&root, &RunAsRootController::saveRequested);
            QSignalSpy quit(&root, &RunAsRootController::quitRequested);
            root.PrefRunAsRoot(true);
            QCOMPARE(saved.count(), 1);
            QTRY_VERIFY_WITH_TIMEOUT(!root.launching(), kLaunchTimeoutMs);
            QCOMPARE(quit.count(), c.quits ? 1 : 0);
            if (c.quits) {
                QCOMPARE(quit.front().front().toBool(), false);
                continue;
            }
            QCOMPARE(a.StoredPrefs().intAt("prefRoot"), 0);
            QCOMPARE(root.alert() != nullptr, c.alert != nullptr);
            if (c.alert != nullptr) {
                QCOMPARE(root.alert()->windowTitle(), QStringLiteral("Root Permissions:"));
                QCOMPARE(root.alert()->text(), QString::fromUtf8(c.alert));
            }
        }
    }

    void RunAsRootOffWhileRootOffersToQuit() {
        for (const bool quitNow : {true, false}) {
            App a;
            QWidget window;
            RunAsRootController root(*a.app, &window, {"/bin/false"});
            root.setRunningAsRoot(true);
            QSignalSpy quit(&root, &RunAsRootController::quitRequested);
            root.PrefRunAsRoot(false);
            QCOMPARE(a.StoredPrefs().intAt("prefRoot"), 0);
            QMessageBox* alert = root.alert();
            QVERIFY(alert != nullptr);
            QCOMPARE(alert->text(),
                     QStringLiteral("Quit and re-launch Quorvel to apply the changes."));
            const QString button = quitNow ? QStringLiteral("Quit Now") : QStringLiteral("Later");
            for (QAbstractButton* b : alert->buttons()) {
                if (b->text() == button) b->click();
            }
            QCOMPARE(quit.count(), quitNow ? 1 : 0);
            if (quitNow) QCOMPARE(quit.front().front().toBool(), true);
            // Turned on while root, or off while not: nothing to do.
            root.PrefRunAsRoot(true);
            QVERIFY(!root.launching());
        }
    }
};

}  // namespace qv::ui

QV_WINDOW_TEST_MAIN(qv::ui::PreferencesWindowTest)

#include "preferences_window_test.moc"
