// The application shell with the offscreen platform: the menus and their keys, documents from
// New through Save As, Close and Open, the save question at quit, one window per user and the
// watch on the settings files.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <future>
#include <memory>
#include <set>

#include "app/main_app.h"
#include "support/test_support.h"
#include "ui/console_window.h"
#include "ui/document_commands.h"
#include "ui/in_place_commands.h"
#include "ui/session_name_sheet.h"
#include "ui/settings_files_watch.h"
#include "ui/shortcuts_window.h"
#include "ui/single_instance.h"

namespace qv::ui {
namespace {

struct Shell {
    Shell() {
        test::UsePrivateHome(env, home.path());
        app = std::make_unique<app::MainApp>(QV_RESOURCES_DIR);
        if (!app->Start().ok) qFatal("start-up failed");
        window = std::make_unique<ConsoleWindow>(*app);
        window->SetDocumentSessions();
        window->show();
    }
    sessions::SessionDocument& doc() { return app->document(); }
    void Rename(std::int64_t i, const char* name) {
        doc().GetSessionDict(i)->dictAt("consoleDict")->set("sessionName", name);
    }
    // Clicks the button titled `title` of the question on screen.
    void Answer(const char* title) {
        QMessageBox* box = window->documents().question();
        QVERIFY(box != nullptr);
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == QString::fromUtf8(title)) {
                b->click();
                return;
            }
        }
        QFAIL(qPrintable(QStringLiteral("no button ") + QString::fromUtf8(title)));
    }
    void SaveAsIn(const std::string& path) {
        QFileDialog* dialog = window->documents().fileDialog();
        QVERIFY(dialog != nullptr);
        dialog->selectFile(QString::fromStdString(path));
        static_cast<QDialog*>(dialog)->accept();  // as the dialog's Save button does
    }
    test::TempDir home;
    test::ScopedEnv env;
    std::unique_ptr<app::MainApp> app;
    std::unique_ptr<ConsoleWindow> window;
};

class ShellTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { qputenv("QV_TEST", "1"); }

    void EveryMenuCommandWithKeysShowsThemAndNoTwoShareOne() {
        Shell s;
        const QList<QAction*> actions = s.window->menuActions();
        std::set<QString> seen;
        for (QAction* a : actions) {
            for (const QKeySequence& k : a->shortcuts()) {
                QVERIFY2(seen.insert(k.toString()).second, qPrintable(k.toString()));
            }
        }
        for (const QKeySequence& wanted :
             {QKeySequence(Qt::CTRL | Qt::Key_N), QKeySequence(Qt::CTRL | Qt::Key_O),
              QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::CTRL | Qt::Key_Q),
              QKeySequence(Qt::CTRL | Qt::Key_R), QKeySequence(Qt::CTRL | Qt::Key_L),
              QKeySequence(Qt::CTRL | Qt::Key_Comma), QKeySequence(Qt::Key_Escape)}) {
            QVERIFY2(seen.count(wanted.toString()) == 1,
                     qPrintable(QStringLiteral("missing: ") + wanted.toString()));
        }
        // The Task menu's run entry says what the main button says.
        QCOMPARE(s.window->runAction()->text(), QStringLiteral("Synchronize"));
        s.window->sessionPopup()->setCurrentIndex(1);
        s.window->ChooseSession(1);
        QCOMPARE(s.window->runAction()->text(), QStringLiteral("Backup"));
        // The Session menu lists the sessions with the current one checked.
        emit s.window->sessionMenu()->aboutToShow();
        const QList<QAction*> entries = s.window->sessionMenu()->actions();
        QCOMPARE(entries[1]->text(), QStringLiteral("Default Backup Session"));
        QVERIFY(entries[1]->isChecked() && !entries[0]->isChecked());
        ShortcutsWindow shortcuts(actions, s.window.get());
        // Then the keys of what has the focus, each with the click it stands for.
        QCOMPARE(shortcuts.table()->rowCount(), actions.size() + InPlaceShortcutRows().size());
        const QList<QTableWidgetItem*> turn = shortcuts.table()->findItems(
            QStringLiteral("Preview › Swap the Direction"), Qt::MatchExactly);
        QCOMPARE(turn.size(), 1);
        QCOMPARE(shortcuts.table()->item(turn.front()->row(), 1)->text(),
                 QStringLiteral("Ctrl+T, Alt+Click in the Action column"));
    }

    void TheSessionPopUpCreatesDuplicatesAndRemovesSessions() {
        Shell s;
        ConsoleWindow& w = *s.window;
        auto choose = [&](int tag) {
            const int entry = w.sessionEntry(tag);
            w.sessionPopup()->setCurrentIndex(entry);
            w.ChooseSession(entry);
        };
        choose(kTagNewSession);
        auto* sheet = qobject_cast<SessionNameSheet*>(w.sessionDialog());
        QVERIFY(sheet != nullptr);
        QCOMPARE(sheet->nameField()->text(), QStringLiteral("Session 3"));
        sheet->nameField()->setText(QStringLiteral("Photos"));
        sheet->okButton()->click();
        QCOMPARE(s.doc().GetSessionName(2), std::string("Photos"));
        QCOMPARE(w.sessionPopup()->currentText(), QStringLiteral("Photos"));
        // The window's change is in the template at once.
        sessions::SessionDocument onDisk(s.doc().pathFileDocTemplate());
        onDisk.ReadFileTemplate();
        QCOMPARE(onDisk.GetSessionName(2), std::string("Photos"));

        choose(kTagDuplicateSession);
        sheet = qobject_cast<SessionNameSheet*>(w.sessionDialog());
        QCOMPARE(sheet->nameField()->text(), QStringLiteral("Copy 1 of Photos"));
        sheet->okButton()->click();
        QCOMPARE(s.doc().SessionCount(), 4);

        // Remove asks, then removes the current session only.
        choose(kTagRemoveSession);
        auto* question = qobject_cast<QMessageBox*>(w.sessionDialog());
        QVERIFY(question != nullptr &&
                question->text().contains(QStringLiteral("Copy 1 of Photos")));
        question->buttons().front()->click();  // OK
        QCOMPARE(s.doc().SessionCount(), 3);
        QCOMPARE(w.sessionPopup()->currentText(), QStringLiteral("Photos"));

        // "All" cannot be renamed: refused with the window's words, nothing changes.
        w.sessionPopup()->setCurrentIndex(4);
        w.ChooseSession(4);  // All Sessions
        choose(kTagRenameSession);
        QVERIFY(w.sessionAlert() != nullptr);
        QCOMPARE(w.sessionAlert()->text(), QStringLiteral("Can't rename the \"All\" Session."));
        QCOMPARE(w.sessionPopup()->currentIndex(), 4);
    }

    void ADocumentGoesFromNewThroughSaveAsAndCloseToOpen() {
        Shell s;
        s.Rename(0, "Changed template");
        s.window->documents().FileNew();
        s.Answer("Don't Save");  // the template's settings may be saved first
        QCOMPARE(s.doc().GetSessionName(0), std::string("Default Sync Session"));
        QVERIFY(s.window->windowTitle().startsWith(QStringLiteral("Untitled")));

        s.Rename(1, "Photos");
        s.window->documents().FileSave();  // untitled: through Save As
        s.SaveAsIn(s.home.path() + "/photos");
        QVERIFY(s.window->windowTitle().startsWith(QStringLiteral("photos")));
        QCOMPARE(s.doc().pathDocumentFile, s.home.path() + "/photos.qvd");
        QVERIFY(!s.window->isWindowModified());

        // Close with changes asks; Cancel keeps the document, Don't Save closes it. The title
        // marks the changes until then, and keeps no name once the document is closed.
        s.Rename(1, "Photos 2");
        s.window->DocumentChanged();  // as every edit through the window ends
        QVERIFY(s.window->isWindowModified());
        s.window->documents().FileClose();
        s.Answer("Cancel");
        QVERIFY(s.window->isDocumentShown());
        s.window->documents().FileClose();
        s.Answer("Don't Save");
        QVERIFY(!s.window->isDocumentShown());
        QCOMPARE(s.window->windowTitle(), QStringLiteral("Quorvel"));
        QVERIFY(!s.window->isWindowModified());
        QCOMPARE(s.window->currentPanel(), std::string("documentClosed"));
        emit s.window->fileMenu()->aboutToShow();
        QVERIFY(!s.window->runAction()->isEnabled());

        s.window->documents().OpenFile(s.home.path() + "/photos.qvd");
        QVERIFY(s.window->isDocumentShown());
        // Every control the closed page switched off works again, as after a fresh start.
        for (const char* name : {"mainButton", "console"}) {
            QVERIFY2(s.window->findChild<QWidget*>(name)->isEnabled(), name);
        }
        emit s.window->fileMenu()->aboutToShow();
        QVERIFY(s.window->runAction()->isEnabled());
        QCOMPARE(s.doc().GetSessionName(1), std::string("Photos"));  // as saved
        QCOMPARE(s.app->recentDocuments().paths().front(), s.home.path() + "/photos.qvd");
    }

    void QuittingWithUnsavedChangesAsksAndSaveWritesTheDocument() {
        Shell s;
        s.window->documents().FileNew();
        s.Rename(0, "Unsaved");
        QSignalSpy ended(s.window.get(), &ConsoleWindow::terminated);
        s.window->RequestQuit();
        s.Answer("Cancel");
        QCOMPARE(ended.count(), 0);
        s.window->RequestQuit();
        s.Answer("Save");
        s.SaveAsIn(s.home.path() + "/kept.qvd");
        QCOMPARE(ended.count(), 1);
        sessions::SessionDocument kept(s.doc().pathFileDocTemplate());
        QVERIFY(kept.ReadDocumentFile(s.home.path() + "/kept.qvd"));
        QCOMPARE(kept.GetSessionName(0), std::string("Unsaved"));
    }

    void AnOutsideChangeToTheTemplateReachesTheWindowOnlyOnTheConsolePage() {
        Shell s;
        s.app->WriteTemplateAndPreferences();
        bool mayReload = false;
        SettingsFilesWatch watch(
            *s.app, [&] { return mayReload; }, nullptr);
        QSignalSpy reloaded(&watch, &SettingsFilesWatch::reloaded);
        sessions::SessionDocument other(s.doc().pathFileDocTemplate());
        other.ReadFileTemplate();
        other.GetSessionDict(0)->dictAt("consoleDict")->set("sessionName", "From the command");
        QVERIFY(other.WriteFileSession(s.doc().pathFileDocTemplate()));
        // Not now (a run, a panel being edited): the change waits.
        QTest::qWait(800);
        QCOMPARE(reloaded.count(), 0);
        mayReload = true;
        watch.Retry();
        QCOMPARE(reloaded.count(), 1);
        QCOMPARE(s.doc().GetSessionName(0), std::string("From the command"));
        // Our own write is no change.
        s.app->WriteTemplateAndPreferences();
        QTest::qWait(800);
        QCOMPARE(reloaded.count(), 1);
    }

    void ASecondInstanceHandsItsDocumentToTheFirst() {
        test::TempDir folder;
        SingleInstance first(folder.path());
        QVERIFY(first.BecomeFirst());
        QSignalSpy opened(&first, &SingleInstance::openRequested);
        // The second instance, in a process of its own in real life: a thread of its own here.
        const std::string path = "/home/u/na\xffme.qvd";
        auto handed = std::async(std::launch::async, [&] {
            SingleInstance second(folder.path());
            return !second.BecomeFirst() && second.HandOver(path);
        });
        QVERIFY(QTest::qWaitFor([&] { return opened.count() == 1; }, 5000));
        QVERIFY(handed.get());
        QCOMPARE(opened.front().front().value<std::string>(), path);

        // The window it brings forward comes back from the taskbar too.
        QWidget window;
        window.showMinimized();
        QVERIFY(window.isMinimized());
        BringForward(window);
        QVERIFY(!window.isMinimized() && window.isVisible());
    }
};

}  // namespace
}  // namespace qv::ui

QTEST_MAIN(qv::ui::ShellTest)
#include "shell_test.moc"
