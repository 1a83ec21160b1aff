// The exclude and multiple-list panels with the offscreen platform: clicks with their keys,
// the picker, drops onto the table, and what leaving the panel stores or refuses.

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <memory>

#include "platform/file_io.h"
#include "sessions/automount_options.h"
#include "support/console_fixture.h"
#include "support/fake_child_runner.h"
#include "ui/console_window.h"
#include "ui/exclude_panel.h"
#include "ui/multi_panel.h"
#include "ui/qt_text.h"
#include "ui/volumes_panel.h"

namespace qv::ui {
namespace {

// The console showing the panel of that tab, over A holding three files.
struct Console : test::ConsoleFixture {
    explicit Console(const char* tab) {
        tree.Build({"A/a.txt:a", "A/b.txt:b", "A/\xff.txt:c", "B/"});
        window->ChooseGoPanel(ConsoleWindow::PanelNumber(tab));
        if (window->currentPanel() != tab) qFatal("the panel is not shown");
    }
    const plist::Value& Stored(const char* dict) { return ConsoleFixture::Stored(0, dict); }
    const plist::Value& StoredRow(const char* dict, const char* array, std::size_t row) {
        return Stored(dict).arrayAt(array)->array()[row];
    }
    bool Leave() {
        QTest::mouseClick(window->consoleButton(), Qt::LeftButton);
        return window->currentPanel() == "console";
    }
};

void Click(PathTable* table, int row, int column, Qt::KeyboardModifiers keys = {}) {
    QTest::mouseClick(table->viewport(), Qt::LeftButton, keys,
                      table->visualItemRect(table->item(row, column)).center());
}

// A key on a cell, as a user who cannot Alt-click gives it.
void Key(QTableWidget* table, int row, int column, Qt::Key key, Qt::KeyboardModifiers keys = {}) {
    table->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(table->window()));
    table->setCurrentCell(row, column);
    table->setFocus();
    QTest::keyClick(table, key, keys);
}

// The entry of a cell's right-click menu with that title.
QAction* MenuEntry(PathTable* table, int row, int column, const QString& title) {
    const QPoint at = table->visualItemRect(table->item(row, column)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &event);
    if (table->pathMenu() == nullptr) return nullptr;
    for (QAction* a : table->pathMenu()->actions()) {
        if (a->text() == title) return a;
    }
    return nullptr;
}

// Files dropped onto a cell as a file browser drops them: file URLs, bytes percent-encoded.
void Drop(PathTable* table, int row, int column, const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    for (const std::string& path : paths) {
        urls.push_back(
            QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/")));
    }
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = table->visualItemRect(table->item(row, column)).center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(table->viewport(), &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(table->viewport(), &drop);
}

// Picks the item in the picker on screen, titled so, as its accept button does.
bool Pick(QFileDialog* dialog, const char* title, const std::string& path) {
    if (dialog == nullptr || dialog->windowTitle() != QLatin1String(title)) return false;
    dialog->selectFile(Path(path));
    static_cast<QDialog*>(dialog)->accept();
    return QTest::qWaitFor([&] { return !dialog->isVisible(); });
}

}  // namespace

class ListPanelsTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { qputenv("QV_TEST", "1"); }
    void TheExcludeTableTakesDropsOnlyWhileOnAndStoresItsRows();
    void TheMultipleListPicksBothSidesAndRefusesOneFolderTwice();
    void TheVolumeListEditsItsRowsAndTriesAMountWithTheTypedPassword();
};

void ListPanelsTest::TheExcludeTableTakesDropsOnlyWhileOnAndStoresItsRows() {
    Console c("exclude");
    auto* panel = static_cast<ExcludePanel*>(c.window->panel("exclude"));
    PathTable* table = panel->table();
    const std::string a = c.tree.path("A/a.txt");
    const std::string odd = c.tree.path("A/\xff.txt");  // not UTF-8: its bytes must survive

    // A drop while the list is off changes nothing; while it is on, each path takes the next
    // empty row, wherever it lands.
    Drop(table, 3, 1, {a});
    QCOMPARE(table->item(0, 1)->toolTip(), QString());
    panel->listCheckbox()->click();
    QVERIFY(c.window->optionMarker(kExcludeOption));
    Drop(table, 3, 1, {a, odd});
    QCOMPARE(table->item(0, 1)->toolTip(), Path(a));
    QVERIFY(!table->item(1, 1)->toolTip().isEmpty());
    QVERIFY(table->item(2, 1)->toolTip().isEmpty());

    // A click on a path opens the picker, which takes a folder as the item; on an empty row it
    // opens in the session's source folder.
    Click(table, 2, 1);
    QCOMPARE(panel->picker()->directory().absolutePath(), Path(c.tree.a()));
    QVERIFY(Pick(panel->picker(), "Exclude", c.tree.a()));
    QCOMPARE(table->item(2, 1)->toolTip(), Path(c.tree.a()));

    // Ctrl-click shows the item in its folder; on a desktop where nothing opens folders, a
    // notice says so rather than nothing happening.
    QUrl opened;
    DesktopOpener() = [&opened](const QUrl& url) {
        opened = url;
        return false;
    };
    Click(table, 2, 1, Qt::ControlModifier);
    QCOMPARE(opened, QUrl::fromLocalFile(Path(platform::ParentFolder(c.tree.a()))));
    auto* notice = panel->findChild<QMessageBox*>(QStringLiteral("notice"));
    QVERIFY(notice != nullptr && notice->text().startsWith(QStringLiteral("Can't show")));
    notice->close();
    DesktopOpener() = [](const QUrl&) { return true; };

    // The first column switches a row; Alt-click empties one.
    Click(table, 1, 0);
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("-"));
    Click(table, 2, 1, Qt::AltModifier);
    QVERIFY(table->item(2, 1)->toolTip().isEmpty());

    QVERIFY(c.Leave());
    QCOMPARE(c.Stored("excludeDict").intAt("excludeOn"), 1);
    QCOMPARE(c.StoredRow("excludeDict", "excludeArray", 0).stringAt("itemToExclude"), a);
    QCOMPARE(c.StoredRow("excludeDict", "excludeArray", 1).stringAt("itemToExclude"), odd);
    QCOMPARE(c.StoredRow("excludeDict", "excludeArray", 1).intAt("onOff"), 0);
    QCOMPARE(c.StoredRow("excludeDict", "excludeArray", 2).stringAt("itemToExclude"),
             std::string());

    // A list left on with no valid row is stored off, and its checkbox and marker follow.
    c.window->ChooseGoPanel(ConsoleWindow::PanelNumber("exclude"));
    QAction* clear = MenuEntry(table, 0, 1, QStringLiteral("Clear"));
    QVERIFY(clear != nullptr);
    table->pathMenu()->close();
    clear->trigger();
    QVERIFY(c.Leave());
    QCOMPARE(c.Stored("excludeDict").intAt("excludeOn"), 0);
    QVERIFY(!panel->listCheckbox()->isChecked());
    QVERIFY(!c.window->optionMarker(kExcludeOption));
}

void ListPanelsTest::TheMultipleListPicksBothSidesAndRefusesOneFolderTwice() {
    Console c("multi");
    auto* panel = static_cast<MultiPanel*>(c.window->panel("multi"));
    PathTable* table = panel->table();
    std::vector<std::string> picked;
    panel->onFolderPicked = [&picked](const std::string& path) { picked.push_back(path); };

    const std::string a = c.tree.a();
    const std::string b = c.tree.b();
    const struct {
        int row;
        int column;
        const char* title;
        std::string path;
    } picks[] = {
        {0, 1, "Choose the source Folder", a},
        {0, 2, "Choose the destination Folder", b},
        {1, 1, "Choose the source Folder", b},
        {1, 2, "Choose the destination Folder", b},
    };
    for (const auto& p : picks) {
        Click(table, p.row, p.column);
        QVERIFY2(Pick(panel->picker(), p.title, p.path), p.title);
    }
    QCOMPARE(picked, (std::vector<std::string>{a, b, b, b}));
    QVERIFY(panel->listCheckbox()->isChecked());

    // The second row names one folder twice: the panel stays, with the row's number.
    QTest::mouseClick(c.window->consoleButton(), Qt::LeftButton);
    QCOMPARE(c.window->currentPanel(), std::string("multi"));
    QMessageBox* alert = c.window->panelAlert();
    QVERIFY(alert != nullptr);
    QCOMPARE(alert->text(), QStringLiteral("Can't set the same folder:\n\"") + Path(b) +
                                QStringLiteral("\"\nas source and destination at the row 2."));
    alert->button(QMessageBox::Ok)->click();
    QVERIFY(QTest::qWaitFor([&] { return c.window->panelAlert() == nullptr; }));

    // A row that is off is not examined; clearing both its paths switches it on again.
    Click(table, 1, 0);
    QVERIFY(c.Leave());
    QCOMPARE(c.Stored("multiDict").intAt("multiOn"), 1);
    QCOMPARE(c.StoredRow("multiDict", "multiArray", 0).stringAt("source"), a);
    QCOMPARE(c.StoredRow("multiDict", "multiArray", 0).stringAt("destination"), b);
    QCOMPARE(c.StoredRow("multiDict", "multiArray", 1).intAt("onOff"), 0);
    c.window->ChooseGoPanel(ConsoleWindow::PanelNumber("multi"));
    Click(table, 1, 1, Qt::AltModifier);
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("-"));
    Key(table, 1, 2, Qt::Key_Space);  // as a click in the first column
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("•"));
    Key(table, 1, 2, Qt::Key_Delete);  // as an Alt-click: the row is empty, neither on nor off
    QCOMPARE(table->item(1, 0)->text(), QString());
}

void ListPanelsTest::TheVolumeListEditsItsRowsAndTriesAMountWithTheTypedPassword() {
    plist::Value dict = sessions::DefaultAutoMountDict();
    plist::Value row = sessions::DefaultAutoMountRow();
    row.set("volumeType", 1);
    row.set("scheme", "smb");
    row.set("user", "ann");
    row.set("host", "nas");
    row.set("path", "/music");
    row.set("mountPoint", "/nonexistent/qv-music");
    dict.arrayAt("autoMountVolumeArray")->array()[0] = row;
    dict.set("autoMountVolumeOn", 1);
    test::FakeChildRunner runner;
    runner.answer = [](const platform::ChildRequest&) {
        return test::Exited(1, "gio: smb://ann@nas/music: Permission denied");
    };
    VolumesPanel panel(nullptr, runner);
    panel.resize(600, 400);
    panel.show();
    panel.SetPanels(dict);
    PathTable* table = panel.table();
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("\u2022"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("smb://nas/nonexistent/qv-music"));
    // A remote volume with no password stands out.
    QCOMPARE(table->item(0, 1)->foreground().color(), QColor(0xd2, 0x69, 0x1e));
    // An empty row can't be edited: the alert says how the list fills.
    Click(table, 3, 1);
    QVERIFY(panel.alert() &&
            panel.alert()->text().startsWith(QLatin1String("Cannot edit an empty row.")));
    panel.alert()->button(QMessageBox::Ok)->click();

    Click(table, 0, 1);
    QVERIFY(panel.rowDialog() != nullptr);
    auto* password = panel.rowDialog()->findChild<QLineEdit*>(QStringLiteral("password"));
    password->setText(QStringLiteral("ab"));
    panel.rowDialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QVERIFY(panel.alert() && panel.alert()->text() ==
                                 QLatin1String("Can't set a password smaller than 3 characters."));
    panel.alert()->button(QMessageBox::Ok)->click();
    QVERIFY(panel.rowDialog() != nullptr);
    // The dialog's Mount tries the password typed, on the tool's input only.
    password->setText(QStringLiteral("pa55word"));
    QSignalSpy ended(&panel, &VolumesPanel::tryEnded);
    panel.rowDialog()->findChild<QPushButton*>(QStringLiteral("mount"))->click();
    QVERIFY(ended.wait(10000));
    QCOMPARE(runner.requests().back().argv,
             (std::vector<std::string>{"gio", "mount", "smb://ann@nas/music"}));
    QCOMPARE(runner.requests().back().options.input, std::string("pa55word\n"));
    QVERIFY(panel.alert() && panel.alert()->text().startsWith(QLatin1String(
                                 "Can't mount the volume. User or password not authorized.")));
    panel.alert()->button(QMessageBox::Ok)->click();
    panel.rowDialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QVERIFY(QTest::qWaitFor([&] { return panel.rowDialog() == nullptr; }));
    QCOMPARE(table->item(0, 1)->foreground().color() == QColor(0xd2, 0x69, 0x1e), false);
    // Alt-click empties the row; leaving with no row on switches the list off.
    Click(table, 0, 1, Qt::AltModifier);
    plist::Value session = plist::Dict{};
    std::string message;
    QVERIFY(panel.GetPanels(session, &message));
    QCOMPARE(session.dictAt("autoMountDict")->intAt("autoMountVolumeOn"), std::int64_t{0});
    QVERIFY(panel.editor()->rowEmpty(0));
}

}  // namespace qv::ui

QV_WINDOW_TEST_MAIN(qv::ui::ListPanelsTest)

#include "list_panels_test.moc"
