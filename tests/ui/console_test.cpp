// The console window with the offscreen platform: what it shows of a session, runs started
// from its button with their progress, report, conflict and error dialogs, Stop and quitting;
// the log window, and the versions window reached from the File menu, the log and the preview.

#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "sessions/settings_options.h"
#include "support/console_fixture.h"
#include "support/tree_snapshot.h"
#include "ui/console_window.h"
#include "ui/error_alert.h"
#include "ui/log_window.h"
#include "ui/middle_truncation.h"
#include "ui/path_area.h"
#include "ui/preview_item_model.h"
#include "ui/preview_window.h"
#include "ui/replace_file_dialog.h"
#include "ui/run_controller.h"
#include "ui/size_display.h"
#include "ui/theme.h"
#include "ui/versions_window.h"

namespace qv::ui {
namespace {

constexpr int kRunTimeout = test::ConsoleFixture::kRunTimeout;

// The console, a little larger than its least size, shown by each test when it is set up.
struct Console : test::ConsoleFixture {
    explicit Console(std::int64_t task = sessions::kTaskBackup) : ConsoleFixture(task, false) {
        window->resize(640, 430);
    }
};

std::string Q(const QString& s) { return s.toStdString(); }

// The versions window once its thread is done.
bool Settled(const VersionsWindow* w) {
    return w != nullptr && QTest::qWaitFor([&] { return !w->isBusy(); }, kRunTimeout);
}

// Clicks the button titled so of a message box on screen.
bool Answer(QMessageBox* box, const char* title) {
    if (box == nullptr || !box->isVisible()) return false;
    for (QAbstractButton* b : box->buttons()) {
        if (b->text() == QLatin1String(title)) {
            b->click();
            return true;
        }
    }
    return false;
}

// The versions of one item the window lists.
std::size_t VersionsOf(const VersionsWindow& w, const std::string& relative) {
    const auto& all = w.versions();
    return static_cast<std::size_t>(std::count_if(
        all.begin(), all.end(), [&](const auto& v) { return v.relativePath == relative; }));
}

}  // namespace

class ConsoleTest : public QObject {
    Q_OBJECT
  private slots:
    void SizeDisplayAndMiddleTruncation();
    void ChoosingASessionShowsItsFoldersAndTask();
    void BackupFromTheButtonShowsProgressAndReport();
    void ConflictDialogAnswerDecidesTheOutcome();
    void ErrorPolicyDialogsAreHonoured();
    void StopDuringARunLeavesAConcludedRun();
    void DrawerTellsTheRateAndTheTimeLeft();
    void QuittingDuringARunAsksFirst();
    void EscapeStopsInsideAFileAndSaysItWasHeard();
    void BothLooksKeepTextReadable();
    void AReplacementTurnedInThePreviewIsPerformedTheOtherWay();
    void ConfirmationThenASwappedConflict();
    void AnExactSynchronizeFromTheWindowKeepsItsIndex();
    void LogWindowShowsTheLastLogAndFindsItsErrors();
    void TheVersionsWindowListsWhatARunKeptAndRestoresIt();
    void VersionsOfAnItemFromTheLogAndFromThePreview();
};

void ConsoleTest::SizeDisplayAndMiddleTruncation() {
    const std::uint64_t KB = 1024, MB = KB * KB, GB = MB * KB;
    const struct {
        std::uint64_t bytes;
        const char* text;
    } sizes[] = {
        {0, "0 bytes"},
        {1024, "1024 bytes"},
        {1536, "1 KB"},
        {MB, "1024 KB"},
        {MB + 1, "1 MB"},
        {3 * GB / 2, "1.50 GB"},
        {2 * GB + GB / 20, "2 GB"},
        {2 * GB + GB / 4, "2.25 GB"},
    };
    for (const auto& s : sizes) QCOMPARE(SizeText(s.bytes), std::string(s.text));
    // Bytes copied round where the size display cuts.
    QCOMPARE(BytesCopiedText(1536, 3 * GB / 2), std::string("2 KB of 1.50 GB"));

    const auto chars = [](const QString& s) { return static_cast<int>(s.toUcs4().size()); };
    const struct {
        QString text;
        int width;
        QString shown;
    } cuts[] = {
        {QStringLiteral("abcdefghij"), 10, QStringLiteral("abcdefghij")},
        {QStringLiteral("abcdefghij"), 6, QStringLiteral("abh…ij")},
        {QStringLiteral("abcdefghij"), 9, QStringLiteral("abcd…ghij")},
        {QStringLiteral("abcdefghij"), 1, QStringLiteral("…")},
        {QStringLiteral("😀😁😂🤣"), 3,
         QStringLiteral("😀…🤣")},  // never half a character
    };
    for (const auto& c : cuts) QCOMPARE(TruncatedString(c.text, c.width, chars), c.shown);
}

void ConsoleTest::ChoosingASessionShowsItsFoldersAndTask() {
    Console c;
    c.tree.Build({"A/a", "file.txt:x"});
    c.Set(0, "excludeDict", "excludeOn", 1);
    c.Set(1, "settingsDict", "settTask", sessions::kTaskSynchronize);
    c.Set(1, "consoleDict", "topFolder", c.tree.path("file.txt"));
    c.Set(1, "consoleDict", "bottomFolder", "");
    c.Show();
    ConsoleWindow& w = *c.window;
    // Two sessions, then a separator, All Sessions, a separator and the five commands.
    QCOMPARE(w.sessionPopup()->count(), 10);

    struct Expected {
        int entry;
        std::string source, dest;
        bool destPlaceholder;
        const char* button;
        bool orangeArrow, pickable;
    };
    const std::string all = "All Sessions (2)";
    const Expected cases[] = {
        {0, c.tree.a(), c.tree.b(), false, "Backup", false, true},
        {1, c.tree.path("file.txt"), "Drag here the 2nd file", true, "Synchronize", true, true},
        {3, all, all, false, "Execute All", true, false},
    };
    for (const Expected& e : cases) {
        c.Choose(e.entry);
        QCOMPARE(c.doc().mMainDict.intAt("sessionIndex"), e.entry);
        QCOMPARE(Q(w.sourceArea()->pathText()), e.source);
        QCOMPARE(Q(w.destArea()->pathText()), e.dest);
        QCOMPARE(w.destArea()->isPlaceholder(), e.destPlaceholder);
        QCOMPARE(Q(w.mainButton()->text()), std::string(e.button));
        QCOMPARE(w.arrow()->property("orange").toBool(), e.orangeArrow);
        QCOMPARE(w.sourceArea()->pickButton()->isEnabled(), e.pickable);
        // The exclude marker belongs to the first session only; "All" offers only the timer.
        QCOMPARE(w.optionMarker(4), e.entry == 0);
        QCOMPARE(w.optionButton(4)->isEnabled(), e.entry != 3);
        QVERIFY(w.optionButton(kTimerOption)->isEnabled());
    }

    // An index that is neither a session nor "All" shows nothing.
    w.SetConsolePanes(2);
    QVERIFY(w.sourceArea()->pathText().isEmpty());

    // A long path is shortened in its middle to its field.
    c.Choose(0);
    const std::string longPath = c.tree.path(std::string(200, 'x') + "/end");
    w.SetPickedFolder(longPath, true);
    QCOMPARE(Q(w.sourceArea()->pathText()), longPath);
    QVERIFY(w.sourceArea()->shownText().contains(QStringLiteral("…")));
    QVERIFY(w.sourceArea()->shownText().endsWith(QStringLiteral("/end")));
    QCOMPARE(c.doc().GetSessionDict(0)->dictAt("consoleDict")->stringAt("topFolder"), longPath);

    // Delete clears the folder that has the focus, as an Alt-click on its arrow does; the
    // right-click menu offers it, and nothing while the session has no folders to clear.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.destArea()->setFocus();
    QTest::keyClick(w.destArea(), Qt::Key_Delete);
    QCOMPARE(c.doc().GetSessionDict(0)->dictAt("consoleDict")->stringAt("bottomFolder"), "");
    QVERIFY(w.destArea()->isPlaceholder());
    const auto menuOffers = [&](const QString& title) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                w.sourceArea()->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w.sourceArea(), &event);
        QMenu* menu = w.sourceArea()->contextMenu();
        bool offered = false;
        for (QAction* a : menu->actions())
            offered = offered || (a->text() == title && a->isEnabled());
        menu->close();
        return offered;
    };
    QVERIFY(menuOffers(QStringLiteral("Clear")));
    c.Choose(3);  // All Sessions
    QVERIFY(!menuOffers(QStringLiteral("Clear")));
    w.sourceArea()->setFocus();
    QTest::keyClick(w.sourceArea(), Qt::Key_Delete);
    QCOMPARE(c.doc().GetSessionDict(0)->dictAt("consoleDict")->stringAt("topFolder"), longPath);

    // Ctrl+R on the session now without a destination says so and runs nothing.
    c.Choose(0);
    QTest::keyClick(&w, Qt::Key_R, Qt::ControlModifier);
    auto* refusal = w.findChild<QMessageBox*>(QStringLiteral("refusal"));
    QVERIFY(refusal != nullptr);
    QCOMPARE(refusal->text(), QStringLiteral("Destination Folder not defined"));
    QVERIFY(!w.isRunning());
    refusal->accept();
}

void ConsoleTest::BackupFromTheButtonShowsProgressAndReport() {
    Console c;
    c.tree.Build({"A/a.txt:hello", "A/d/b.txt:x"});
    c.Show();
    ConsoleWindow& w = *c.window;
    // The drawer widens the window; closed, it gives the room back.
    const int narrow = w.width();
    w.setInfoDrawerOpen(true);
    QVERIFY(QTest::qWaitFor([&] { return w.width() > narrow; }));
    w.setInfoDrawerOpen(false);
    QVERIFY(QTest::qWaitFor([&] { return w.width() == narrow; }));
    w.setInfoDrawerOpen(true);
    QTest::mouseClick(w.mainButton(), Qt::LeftButton);
    QVERIFY(w.isRunning());
    QVERIFY(!w.sessionPopup()->isEnabled());
    QCOMPARE(Q(w.mainButton()->text()), std::string("Stop"));
    QVERIFY(c.WaitForRunEnd());

    QCOMPARE(test::ReadText(c.tree.path("B/a.txt")), std::string("hello"));
    QCOMPARE(test::ReadText(c.tree.path("B/d/b.txt")), std::string("x"));
    // a.txt, d and d/b.txt: all done (the bar has steps within each item).
    QCOMPARE(w.progressBar()->maximum(), 300);
    QCOMPARE(w.progressBar()->value(), 300);
    const std::string report = Q(w.commentText());
    QVERIFY2(report == "• " + c.tree.a() + ": 0\n• " + c.tree.b() + ": 3\n• Errors: 0",
             report.c_str());
    QCOMPARE(Q(w.mainButton()->text()), std::string("Backup"));
    QVERIFY(w.sessionPopup()->isEnabled());
    QVERIFY(w.infoDrawerText().startsWith(QStringLiteral("Processing item:")));

    // The log of the run, from the button's shortcut; it follows the next run while shown.
    QTest::keyClick(&w, Qt::Key_L, Qt::ControlModifier);
    QVERIFY(w.logWindow() != nullptr && w.logWindow()->isVisible());
    QCOMPARE(w.logWindow()->windowTitle(), QStringLiteral("Log Window"));
    const QString log = w.logWindow()->view()->toPlainText();
    QVERIFY(log.contains(QStringLiteral("• Task: executed by clicking on the button")));
    QVERIFY(log.contains(QStringLiteral("Files Copied (new additions): 2")));
    c.tree.Build({"A/later.txt:x"});
    w.mainButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QVERIFY(w.logWindow()->view()->toPlainText().contains(
        QStringLiteral("Files Copied (new additions): 1")));
}

void ConsoleTest::ConflictDialogAnswerDecidesTheOutcome() {
    const struct {
        const char* name;
        int button;  // 0 Replace, 1 Skip, 2 Stop
        const char* b;
        bool stopped;
    } cases[] = {{"replace", 0, "new", false}, {"skip", 1, "old", false}, {"stop", 2, "old", true}};
    for (const auto& k : cases) {
        Console c;
        // B's file is the newer one: a Backup asks before replacing it (code 12).
        c.tree.Build({"A/f:new@2000", "B/f:old@3000", "A/g:g"});
        c.Set(0, "conflictsDict", "conflictBackupAsk2", 1);
        c.Show();
        c.window->mainButton()->click();
        ReplaceFileDialog* dialog = c.WaitForDialog<ReplaceFileDialog>();
        QVERIFY2(dialog != nullptr, k.name);
        QCOMPARE(Q(dialog->findChild<QLabel*>(QStringLiteral("sourcePath"))->text()),
                 c.tree.path("A/f"));
        QCOMPARE(Q(dialog->findChild<QLabel*>(QStringLiteral("destPath"))->text()),
                 c.tree.path("B/f"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Replace File"));
        QVERIFY(
            dialog->findChild<QLabel*>(QStringLiteral("explanation"))
                ->text()
                .startsWith("The destination file has the most recent modification date/time."));
        QVERIFY(!dialog->swapButton()->isVisible());
        QVERIFY(!c.window->sessionPopup()->isEnabled());
        QAbstractButton* buttons[] = {dialog->replaceButton(), dialog->skipButton(),
                                      dialog->stopButton()};
        buttons[k.button]->click();
        QVERIFY2(c.WaitForRunEnd(), k.name);
        QCOMPARE(test::ReadText(c.tree.path("B/f")), std::string(k.b));
        QCOMPARE(c.state().mUserPressedStop.load(), k.stopped);
        // The new file after it is copied unless the run was stopped.
        QCOMPARE(platform::ItemExists(c.tree.path("B/g")), !k.stopped);
    }
}

void ConsoleTest::ErrorPolicyDialogsAreHonoured() {
    const struct {
        int policy;
        bool goOn;
        const char* ending;
        bool copied;
    } cases[] = {
        {run::kOnErrorAsk, true, "Would you skip and continue?", true},
        {run::kOnErrorAsk, false, "Would you skip and continue?", false},
        {run::kOnErrorStop, false, "The process stopped.", false},
    };
    for (const auto& k : cases) {
        Console c;
        // All sessions: the first one's source is missing, the second one has work to do.
        c.tree.Build({"C/c:c", "D/"});
        c.Set(0, "consoleDict", "topFolder", c.tree.path("missing"));
        c.Set(1, "consoleDict", "topFolder", c.tree.path("C"));
        c.Set(1, "consoleDict", "bottomFolder", c.tree.path("D"));
        c.app->preferences().mPrefDict.set("prefOnError", k.policy);
        c.Show();
        c.Choose(3);
        c.window->mainButton()->click();
        ErrorAlert* alert = c.WaitForDialog<ErrorAlert>();
        QVERIFY(alert != nullptr);
        QVERIFY2(alert->informativeText().endsWith(QLatin1String(k.ending)),
                 Q(alert->informativeText()).c_str());
        QCOMPARE(alert->continueButton() != nullptr, k.policy == run::kOnErrorAsk);
        QCOMPARE(alert->continueAllButton() != nullptr, k.policy == run::kOnErrorAsk);
        (k.goOn ? alert->continueButton() : alert->stopButton())->click();
        QVERIFY(c.WaitForRunEnd());
        QCOMPARE(platform::ItemExists(c.tree.path("D/c")), k.copied);
        QCOMPARE(c.state().totals.gGlobalError, std::int64_t{1});
    }
}

void ConsoleTest::StopDuringARunLeavesAConcludedRun() {
    Console c;
    c.tree.Build({"A/f:new@2000", "B/f:old@3000", "A/g:g"});
    c.Set(0, "conflictsDict", "conflictBackupAsk2", 1);
    c.Show();
    ConsoleWindow& w = *c.window;
    w.mainButton()->click();
    ReplaceFileDialog* dialog = c.WaitForDialog<ReplaceFileDialog>();
    QVERIFY(dialog != nullptr);
    // The run is waiting on the question: Stop, then allow the replacement anyway.
    w.mainButton()->click();
    QVERIFY(w.isRunning());
    dialog->replaceButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QVERIFY(!c.state().mIsCopying);
    QVERIFY(c.state().mUserPressedStop);
    QCOMPARE(test::ReadText(c.tree.path("B/f")), std::string("old"));
    QVERIFY(!platform::ItemExists(c.tree.path("B/g")));
    QCOMPARE(Q(w.mainButton()->text()), std::string("Backup"));
    QVERIFY(w.sessionPopup()->isEnabled());
    QVERIFY(w.sourceArea()->pickButton()->isEnabled());
    // The report tells a stopped run from a finished one.
    QVERIFY(w.commentText().endsWith(QStringLiteral("• Stopped by the user.")));
}

namespace {

// Copies by copy_file_range only (no reflink, where the bytes would appear at once), and holds
// the copy once half of big.bin is written until the test lets it go.
class HalfwayGate : public platform::FileSystem {
  public:
    int ficlone(int, int) override {
        errno = EOPNOTSUPP;
        return -1;
    }
    ssize_t copy_file_range(int inFd, off_t* inOff, int outFd, off_t* outOff,
                            std::size_t len) override {
        if (*inOff >= kHalf && !released_) {
            std::unique_lock lock(mutex_);
            held_ = true;
            wake_.wait(lock, [this] { return released_.load(); });
        }
        return platform::FileSystem::copy_file_range(
            inFd, inOff, outFd, outOff, std::min<std::size_t>(len, kHalf - (*inOff % kHalf)));
    }
    bool held() {
        std::lock_guard lock(mutex_);
        return held_;
    }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        wake_.notify_all();
    }
    static constexpr off_t kHalf = 8 * 1024 * 1024;

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool held_ = false;
    std::atomic<bool> released_{false};
};

}  // namespace

void ConsoleTest::DrawerTellsTheRateAndTheTimeLeft() {
    Console c;
    c.tree.Build({"A/"});
    test::WriteText(c.tree.path("A/big.bin"), std::string(2 * HalfwayGate::kHalf, 'x'));
    HalfwayGate gate;
    const platform::ScopedFileSystem installed(gate);
    // A failed check must not leave the run waiting forever.
    const std::unique_ptr<HalfwayGate, void (*)(HalfwayGate*)> release(
        &gate, [](HalfwayGate* g) { g->Release(); });
    double now = 100;
    c.window->setClock([&now] { return now; });
    c.Show();
    ConsoleWindow& w = *c.window;
    w.setInfoDrawerOpen(true);
    w.mainButton()->click();
    // Held halfway, and the window has heard that the copy started.
    QVERIFY(QTest::qWaitFor([&] { return gate.held() && w.progressBar()->maximum() > 0; },
                            kRunTimeout));
    // Half a second tells no pace yet; the bar is halfway through the only item.
    now = 100.5;
    w.RefreshProgress();
    QCOMPARE(w.progressBar()->value(), w.progressBar()->maximum() / 2);
    QVERIFY2(w.infoDrawerText().endsWith(QStringLiteral("\nRate: --\nTime left: --")),
             Q(w.infoDrawerText()).c_str());
    // 8 MB in 2 s, 8 MB to go: the window and the drawer tell the same figures, the drawer
    // the item's own bytes.
    now = 102;
    w.RefreshProgress();
    QVERIFY2(w.infoDrawerText().endsWith(
                 QStringLiteral("\n8 MB of 16 MB\nRate: 4.0 MB/s\nTime left: 0:02")),
             Q(w.infoDrawerText()).c_str());
    QCOMPARE(
        w.commentText(),
        QStringLiteral("Items to do: 1\n8 MB of 16 MB \u2022 4.0 MB/s \u2022 Time left: 0:02"));
    gate.Release();
    QVERIFY(c.WaitForRunEnd());
    QCOMPARE(w.progressBar()->value(), w.progressBar()->maximum());
    QVERIFY(!w.infoDrawerText().contains(QStringLiteral("Rate:")));
}

void ConsoleTest::AReplacementTurnedInThePreviewIsPerformedTheOtherWay() {
    Console c(sessions::kTaskSynchronize);
    c.tree.Build({"A/f:from A@2000", "B/f:from B@3000"});
    c.app->preferences().mPrefDict.set("prefPreview", 1);
    c.Show();
    c.window->mainButton()->click();
    PreviewWindow* preview = c.WaitForDialog<PreviewWindow>();
    QVERIFY(preview != nullptr);
    // B's newer file was to replace A's; turned, A's replaces B's.
    QTreeView* tree = preview->outline();
    const QModelIndex root = preview->itemModel()->index(0, 0);
    tree->expand(root);
    const QModelIndex f = preview->itemModel()->index(0, PreviewItemModel::kModeColumn, root);
    preview->ClickTheRow(f, Qt::AltModifier);
    preview->ContinuePreview();
    QVERIFY(c.WaitForRunEnd());
    QCOMPARE(test::ReadText(c.tree.path("B/f")), std::string("from A"));
    QCOMPARE(test::ReadText(c.tree.path("A/f")), std::string("from A"));
    QCOMPARE(c.state().totals.gGlobalError, std::int64_t{0});
}

void ConsoleTest::BothLooksKeepTextReadable() {
    const QPalette before = QApplication::palette();
    for (const ThemeKind kind : {ThemeKind::Light, ThemeKind::Dark}) {
        const QPalette p = ThemePalette(kind);
        QApplication::setPalette(p);
        const struct {
            const char* what;
            QColor text, back;
        } pairs[] = {
            {"text", p.color(QPalette::Text), p.color(QPalette::Base)},
            {"window text", p.color(QPalette::WindowText), p.color(QPalette::Window)},
            {"button text", p.color(QPalette::ButtonText), p.color(QPalette::Button)},
            {"selection", p.color(QPalette::HighlightedText), p.color(QPalette::Highlight)},
            {"placeholder", p.color(QPalette::PlaceholderText), p.color(QPalette::Base)},
            {"tooltip", p.color(QPalette::ToolTipText), p.color(QPalette::ToolTipBase)},
            {"root's path", PathColor(true), p.color(QPalette::Base)},
            {"main button", Qt::white, QColor(0x25, 0x63, 0xeb)},
            {"stop button", Qt::white, QColor(0xdc, 0x26, 0x26)},
        };
        for (const auto& pair : pairs) {
            QVERIFY2(ContrastRatio(pair.text, pair.back) >= 4.5,
                     qPrintable(QStringLiteral("%1, %2: %3")
                                    .arg(kind == ThemeKind::Dark ? "dark" : "light")
                                    .arg(pair.what)
                                    .arg(ContrastRatio(pair.text, pair.back))));
        }
    }
    QApplication::setPalette(before);
}

void ConsoleTest::EscapeStopsInsideAFileAndSaysItWasHeard() {
    Console c;
    c.tree.Build({"A/", "B/big.bin:old"});
    test::WriteText(c.tree.path("A/big.bin"), std::string(3 * HalfwayGate::kHalf, 'x'));
    HalfwayGate gate;
    const platform::ScopedFileSystem installed(gate);
    const std::unique_ptr<HalfwayGate, void (*)(HalfwayGate*)> release(
        &gate, [](HalfwayGate* g) { g->Release(); });
    c.Show();
    ConsoleWindow& w = *c.window;
    // The Task menu was looked at while nothing ran.
    for (QAction* top : w.menuBar()->actions()) {
        if (top->menu() != nullptr) emit top->menu()->aboutToShow();
    }
    w.mainButton()->click();
    QVERIFY(QTest::qWaitFor([&] { return gate.held(); }, kRunTimeout));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(c.state().mUserPressedStop);
    QCOMPARE(w.commentText(), QStringLiteral("Stopping…"));
    QVERIFY(!w.mainButton()->isEnabled());
    gate.Release();
    QVERIFY(c.WaitForRunEnd());
    // Left within the file: the old one in place, no temporary beside it.
    QCOMPARE(test::ReadText(c.tree.path("B/big.bin")), std::string("old"));
    const test::TreeSnapshot b = test::Snapshot(c.tree.b());
    QVERIFY2(b.items.size() == 2 && b.items.contains("big.bin"),
             [&] {  // B and its file
                 std::string names;
                 for (const auto& [name, item] : b.items) names += name + " ";
                 return names;
             }()
                 .c_str());
    QVERIFY(w.mainButton()->isEnabled());
}

void ConsoleTest::QuittingDuringARunAsksFirst() {
    Console c;
    c.tree.Build({"A/f:new@2000", "B/f:old@3000"});
    c.Set(0, "conflictsDict", "conflictBackupAsk2", 1);
    c.Show();
    ConsoleWindow& w = *c.window;
    QSignalSpy terminated(&w, &ConsoleWindow::terminated);
    w.mainButton()->click();
    ReplaceFileDialog* dialog = c.WaitForDialog<ReplaceFileDialog>();
    QVERIFY(dialog != nullptr);

    // Cancel keeps everything going.
    w.RequestQuit();
    QVERIFY(w.quitQuestion() != nullptr);
    QCOMPARE(Q(w.quitQuestion()->text()),
             std::string("Do you really want to quit in the middle of the current task?"));
    w.quitQuestion()->buttons().at(1)->click();  // Cancel
    QCOMPARE(terminated.count(), 0);
    QVERIFY(w.isRunning());
    QVERIFY(!c.state().mUserPressedStop);

    // OK stops the run; the application ends only once the run has concluded.
    QVERIFY(QTest::qWaitFor([&] { return w.quitQuestion() == nullptr; }, kRunTimeout));
    w.RequestQuit();
    QVERIFY(w.quitQuestion() != nullptr);
    w.quitQuestion()->buttons().at(0)->click();  // OK
    QCOMPARE(terminated.count(), 0);
    QVERIFY(w.isRunning());
    dialog->skipButton()->click();
    QVERIFY(terminated.wait(kRunTimeout) || terminated.count() == 1);
    QVERIFY(c.state().mUserPressedStop);
    // Its log tells the quit, not a Stop.
    const std::string& log = c.app->runService().logString();
    QVERIFY(log.find("user did quit the application during the task.") != std::string::npos);
    QVERIFY(log.find("user pressed the Stop button.") == std::string::npos);
    // The template document holds what was on screen; the preferences were written.
    const std::string config = c.home.path() + "/.config/quorvel/";
    QVERIFY(test::ReadText(config + "app.quorvel.Quorvel.template.plist").find(c.tree.a()) !=
            std::string::npos);
    QVERIFY(platform::ItemExists(config + "app.quorvel.Quorvel.plist"));
}

void ConsoleTest::ConfirmationThenASwappedConflict() {
    Console c(sessions::kTaskSynchronize);
    // Both sides changed since the last run (code 31); A's copy is the newer one.
    c.tree.Build({"A/f:from A@3000", "B/f:from B@2000"});
    if (!c.tree.SetBackupDate("A/f", 1500) || !c.tree.SetBackupDate("B/f", 1500)) {
        QSKIP("no user xattrs here");
    }
    c.Set(0, "conflictsDict", "conflictSyncAsk", 1);
    c.app->preferences().mPrefDict.set("prefAskConfirmation", 1);
    c.Show();
    ConsoleWindow& w = *c.window;

    // Cancel starts nothing; OK starts the run.
    w.mainButton()->click();
    QVERIFY(w.confirmation() != nullptr);
    QCOMPARE(w.confirmation()->windowTitle(), QStringLiteral("Starting task:"));
    QCOMPARE(Q(w.confirmation()->text()),
             std::string("Are you sure you want to synchronize the folder \"A\" with the folder "
                         "\"B\"?"));
    w.confirmation()->buttons().at(1)->click();
    QVERIFY(QTest::qWaitFor([&] { return w.confirmation() == nullptr; }, kRunTimeout));
    QVERIFY(!w.isRunning());
    w.mainButton()->click();
    QVERIFY(w.confirmation() != nullptr);
    w.confirmation()->buttons().at(0)->click();

    // The question shows the direction; swapped, the destination's copy wins.
    ReplaceFileDialog* dialog = c.WaitForDialog<ReplaceFileDialog>();
    QVERIFY(dialog != nullptr);
    QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("explanation"))
                ->text()
                .contains("both the following source and destination files have been modified."));
    QVERIFY(dialog->swapButton()->isVisible());
    auto* direction = dialog->findChild<QLabel*>(QStringLiteral("direction"));
    QCOMPARE(direction->toolTip(),
             QStringLiteral("The source is going to replace the destination"));
    dialog->swapButton()->click();
    QCOMPARE(direction->toolTip(),
             QStringLiteral("The destination is going to replace the source"));
    QCOMPARE(dialog->replaceButton()->toolTip(),
             QStringLiteral("Replace the source file and continue"));
    // The question asked follows the swap; each side shows its file's size.
    QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("explanation"))
                ->text()
                .endsWith("Are you sure you want the destination replaces the source anyway?"));
    QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("destPathFacts"))
                ->text()
                .endsWith(QStringLiteral("Size: 6 bytes")));
    dialog->replaceButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QCOMPARE(test::ReadText(c.tree.path("A/f")), std::string("from B"));
    QCOMPARE(test::ReadText(c.tree.path("B/f")), std::string("from B"));
}

void ConsoleTest::AnExactSynchronizeFromTheWindowKeepsItsIndex() {
    Console c(sessions::kTaskSynchronize);
    c.tree.Build({"A/f:f", "B/"});
    c.Set(0, "settingsDict", "settExact", 1);
    c.Show();
    c.window->mainButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QCOMPARE(test::ReadText(c.tree.path("B/f")), std::string("f"));
    // The next run knows what both sides held: a file deleted in A goes from B too.
    const std::string folder = c.app->paths().pathExactSyncIndexFolder;
    QVERIFY(platform::ItemExists(folder + "/QV3ExactSyncIndex.plist"));
    // The console now tells when the pair was last brought into step.
    c.window->SetConsolePanes(0);
    QVERIFY(QRegularExpression(
                QStringLiteral(
                    "^• Last Exact Sync: [A-Z][a-z]{2} \\d\\d \\d{4}, \\d\\d:\\d\\d:\\d\\d$"))
                .match(c.window->commentText())
                .hasMatch());
    // A window that shows it from its start has it whole, not cut to a label not yet laid out.
    {
        ConsoleWindow fresh(*c.app);
        fresh.SetDocumentSessions();
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        QCOMPARE(fresh.findChild<QLabel*>(QStringLiteral("comment"))->text(), fresh.commentText());
    }
    QVERIFY(::unlink(c.tree.path("A/f").c_str()) == 0);
    // A is empty now: emptying B too is asked first, and Keep (the default) deletes nothing.
    for (const bool confirm : {false, true}) {
        c.window->mainButton()->click();
        ErrorAlert* alert = c.WaitForDialog<ErrorAlert>();
        QVERIFY(alert != nullptr);
        QCOMPARE(Q(alert->text()), "The folder \"" + c.tree.a() +
                                       "\" is empty. Delete the 1 items of \"" + c.tree.b() +
                                       "\"?");
        QCOMPARE(alert->defaultButton(), alert->stopButton());
        (confirm ? alert->continueButton() : alert->stopButton())->click();
        QVERIFY(c.WaitForRunEnd());
        QCOMPARE(platform::ItemExists(c.tree.path("B/f")), !confirm);
    }
}

void ConsoleTest::LogWindowShowsTheLastLogAndFindsItsErrors() {
    test::TempDir dir;
    LogWindow w;
    w.show();
    // Nothing saved and no log yet: nothing to show.
    QVERIFY(!w.FillLogWindow(dir / "QVLog_none.txt", ""));

    const std::string errors = std::string(run::kErrorMarker);
    const std::string log = "header\r" + errors + "first failed\rok\r" + errors +
                            "second failed\r" + errors + "third failed";
    QVERIFY(w.FillLogWindow(dir / "QVLog_none.txt", log));
    QCOMPARE(w.windowTitle(), QStringLiteral("Log Window"));
    const std::string first = errors + "first failed", second = errors + "second failed",
                      third = errors + "third failed";
    // Forward through the three, round to the first; backward from there round to the last.
    for (const std::string& expected : {first, second, third, first}) {
        QVERIFY(w.LogFindError(false));
        QCOMPARE(Q(w.selectedText()), expected);
    }
    for (const std::string& expected : {third, second, first, third}) {
        QVERIFY(w.LogFindError(true));
        QCOMPARE(Q(w.selectedText()), expected);
    }

    // A saved file: shown under its name, line ends and all; a log without errors finds none.
    const std::string saved = dir / "QVLog_2026_12_06_10_00_00.txt";
    test::WriteText(saved, "one\ntwo\n");
    QVERIFY(w.FillLogWindow(saved, log));
    QCOMPARE(w.windowTitle(), QStringLiteral("QVLog_2026_12_06_10_00_00.txt"));
    QCOMPARE(w.view()->toPlainText(), QStringLiteral("one\ntwo\n"));
    QVERIFY(!w.LogFindError(false));
    QVERIFY(!w.LogFindError(true));
    QCOMPARE(w.searchNote()->text(), QStringLiteral("No error in this log."));

    // A long log: the error's line is shown with the lines under it (its item's path).
    std::string longLog;
    for (int i = 0; i < 300; ++i) longLog += "line " + std::to_string(i) + "\r";
    longLog += errors + "deep failed\r" + "the path\r";
    for (int i = 0; i < 300; ++i) longLog += "after " + std::to_string(i) + "\r";
    QVERIFY(w.FillLogWindow(dir / "QVLog_none.txt", longLog));
    QVERIFY(w.LogFindError(false));
    QVERIFY(w.searchNote()->text().isEmpty());
    const QPlainTextEdit* view = w.view();
    const int errorLine = view->textCursor().blockNumber();
    const int top = view->verticalScrollBar()->value();
    const int shown = view->viewport()->height() / view->fontMetrics().lineSpacing();
    QVERIFY2(top <= errorLine && errorLine + 3 < top + shown,
             qPrintable(QStringLiteral("%1 %2 %3").arg(top).arg(errorLine).arg(shown)));

    // A file that is not the RTF it claims to be is refused with an alert.
    const std::string broken = dir / "QVLog_broken.rtf";
    test::WriteText(broken, "not rtf at all");
    QVERIFY(!w.FillLogWindow(broken, log));
    auto* alert = w.findChild<QMessageBox*>(QStringLiteral("logUnreadable"));
    QVERIFY(alert != nullptr);
    QCOMPARE(alert->text(), QStringLiteral("Can't open this Log file."));
    alert->close();
}

void ConsoleTest::TheVersionsWindowListsWhatARunKeptAndRestoresIt() {
    Console c;
    c.Show();
    // Off, with nothing kept: the window says how to turn them on.
    c.window->restoreAction()->trigger();
    VersionsWindow* w = c.window->versionsWindow();
    QVERIFY(Settled(w) && w->isVisible());
    QVERIFY(!w->tree()->isVisible());
    QCOMPARE(w->note()->text(),
             QStringLiteral("This session keeps no versions. Turn on \"Keep versions of replaced "
                            "and deleted items\" in its settings."));
    c.Set(0, "settingsDict", sessions::kVersionsOnKey, 1);
    w->Refresh();
    QVERIFY(Settled(w));
    QCOMPARE(w->note()->text(), QStringLiteral("No versions were kept yet."));

    // A run replaces notes.txt on B, keeping the old one; report.txt's was kept by hand. The
    // window on screen follows the run.
    c.tree.Build({"A/Docs/notes.txt:new@3000", "B/Docs/notes.txt:old@2000",
                  "B/.quorvel-versions/report 2026-12-07 181200.txt:kept by hand"});
    test::WriteText(c.tree.path("B/.quorvel-versions/.quorvel-versions.list"),
                    "1796667120\tf\treport 2026-12-07 181200.txt\n");
    c.window->mainButton()->click();
    QVERIFY(c.WaitForRunEnd());
    QVERIFY(QTest::qWaitFor([&] { return !w->isBusy() && w->versions().size() == 2; }));
    QTreeWidget* tree = w->tree();
    QVERIFY(tree->isVisible());
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Docs"));
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QStringLiteral("notes.txt"));
    QCOMPARE(tree->topLevelItem(0)->child(0)->childCount(), 1);
    QTreeWidgetItem* report = tree->topLevelItem(1)->child(0);
    QCOMPARE(report->text(0), QStringLiteral("2026-12-07 18:12:00"));
    QCOMPARE(report->text(2), QStringLiteral("B"));
    QVERIFY(!w->restoreButton()->isEnabled());  // nothing selected
    tree->setCurrentItem(report);
    QCOMPARE(Q(w->detail(0)->text()), c.tree.path("B/report.txt"));
    QCOMPARE(Q(w->detail(4)->text()),
             c.tree.path("B/.quorvel-versions/report 2026-12-07 181200.txt"));

    // Restore To…: asked, then done, in the folder chosen; a second time nothing is overwritten.
    test::TempDir into;
    w->setFolderChooser([&](const std::string&, std::function<void(const std::string&)> chosen) {
        chosen(into.path());
    });
    w->restoreToButton()->click();
    QVERIFY(Answer(w->alert(), "Restore"));
    QVERIFY(Settled(w));
    QCOMPARE(w->alert()->text(), QStringLiteral("The version was restored."));
    QCOMPARE(test::ReadText(into / "report.txt"), std::string("kept by hand"));
    QVERIFY(Answer(w->alert(), "OK"));
    test::WriteText(into / "report.txt", "mine");
    QVERIFY(QTest::qWaitFor([&] { return w->alert() == nullptr && !w->isBusy(); }));
    w->restoreToButton()->click();
    QVERIFY(Answer(w->alert(), "Restore"));
    QVERIFY(Settled(w));
    QCOMPARE(w->alert()->text(), QStringLiteral("The version could not be restored."));
    QVERIFY(w->alert()->informativeText().contains(QStringLiteral("nothing was overwritten")));
    QCOMPARE(test::ReadText(into / "report.txt"), std::string("mine"));
    QVERIFY(Answer(w->alert(), "OK"));

    // Restore: Cancel does nothing; confirmed, both sides get the old notes, and what stood on
    // each is kept as a version itself.
    QVERIFY(QTest::qWaitFor([&] { return w->alert() == nullptr && !w->isBusy(); }));
    const fileops::VersionInfo notes = w->versions().front();
    QVERIFY(w->SelectVersion(notes.relativePath, notes.stamp));
    w->restoreButton()->click();
    QVERIFY(Answer(w->alert(), "Cancel"));
    QCOMPARE(test::ReadText(c.tree.path("A/Docs/notes.txt")), std::string("new"));
    QVERIFY(QTest::qWaitFor([&] { return w->alert() == nullptr; }));
    w->restoreButton()->click();
    QVERIFY(Answer(w->alert(), "Restore"));
    QVERIFY(QTest::qWaitFor([&] { return !w->isBusy() && VersionsOf(*w, "Docs/notes.txt") == 3; },
                            kRunTimeout));
    QCOMPARE(test::ReadText(c.tree.path("A/Docs/notes.txt")), std::string("old"));
    QCOMPARE(test::ReadText(c.tree.path("B/Docs/notes.txt")), std::string("old"));
    QVERIFY(w->alert()->informativeText().contains(QStringLiteral("Version kept of")));
}

void ConsoleTest::VersionsOfAnItemFromTheLogAndFromThePreview() {
    Console c;
    c.Set(0, "settingsDict", sessions::kVersionsOnKey, 1);
    c.tree.Build({"A/Docs/notes.txt:new@3000", "B/Docs/notes.txt:old@2000",
                  "B/.quorvel-versions/Docs/notes 2026-12-06 090000.txt:n0",
                  "B/.quorvel-versions/report 2026-12-07 181200.txt:r0"});
    test::WriteText(c.tree.path("B/.quorvel-versions/.quorvel-versions.list"),
                    "1796547600\tf\tDocs/notes 2026-12-06 090000.txt\n"
                    "1796667120\tf\treport 2026-12-07 181200.txt\n");
    c.Show();
    // A line naming an item of the session: its versions; one naming an item elsewhere: all of
    // them; a line naming none offers nothing.
    test::TempDir logs;
    const std::string log = logs / "QVLog_2026_12_07_18_12_00.txt";
    test::WriteText(log, "Replaced file: \"" + c.tree.path("B/Docs/notes.txt") +
                             "\"\n\t/elsewhere/file.txt\nno path here\n");
    c.window->OpenLogWithFileFromScheduling(log);
    LogWindow* logWindow = c.window->logWindow();
    QVERIFY(logWindow != nullptr);
    const auto offersVersions = [&](int line) {
        const QTextCursor at(logWindow->view()->document()->findBlockByNumber(line));
        const std::unique_ptr<QMenu> menu(
            logWindow->LineMenu(logWindow->view()->cursorRect(at).center()));
        auto* entry = menu->findChild<QAction*>(QStringLiteral("versionsOfItem"));
        if (entry != nullptr) entry->trigger();
        return entry != nullptr;
    };
    QVERIFY(offersVersions(0));
    VersionsWindow* w = c.window->versionsWindow();
    QVERIFY(Settled(w) && w->isVisible());
    QCOMPARE(w->versions().size(), std::size_t{1});
    QCOMPARE(w->versions().front().relativePath, std::string("Docs/notes.txt"));
    QVERIFY(!w->showAllButton()->isHidden());
    QVERIFY(offersVersions(1));
    QVERIFY(Settled(w));
    QCOMPARE(w->versions().size(), std::size_t{2});
    QVERIFY(w->showAllButton()->isHidden());
    QVERIFY(!offersVersions(2));

    // The preview's row: a window of its own over the preview, listing what lies below the
    // folder; nothing is restored while the run waits.
    c.app->preferences().mPrefDict.set("prefPreview", 1);
    c.window->mainButton()->click();
    PreviewWindow* preview = c.WaitForDialog<PreviewWindow>();
    QVERIFY(preview != nullptr);
    QVERIFY(!c.window->restoreAction()->isEnabled());
    QTreeView* outline = preview->outline();
    const QModelIndex root = preview->itemModel()->index(0, 0);
    outline->expand(root);
    const QModelIndex docs = preview->itemModel()->index(0, 0, root);
    preview->ShowRowMenu(outline->visualRect(docs).center());
    QVERIFY(preview->rowMenu() != nullptr);
    auto* entry = preview->rowMenu()->findChild<QAction*>(QStringLiteral("versionsOfItem"));
    QVERIFY(entry != nullptr);
    entry->trigger();
    preview->rowMenu()->close();
    auto* over = preview->findChild<VersionsWindow*>();
    QVERIFY(Settled(over) && over->isVisible());
    QCOMPARE(over->versions().size(), std::size_t{1});
    QVERIFY(over->SelectVersion("Docs/notes.txt", "2026-12-06 090000"));
    QVERIFY(!over->restoreButton()->isEnabled() && !over->restoreToButton()->isEnabled());
    preview->StopPreview();
    QVERIFY(c.WaitForRunEnd());
    QVERIFY(c.window->restoreAction()->isEnabled());
}

}  // namespace qv::ui

QV_WINDOW_TEST_MAIN(qv::ui::ConsoleTest)

#include "console_test.moc"
