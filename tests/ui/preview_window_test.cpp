// The preview window over a small plan, with the offscreen platform: its answers through the
// main-thread proxy, clicks on the mode column, the search into closed folders, the alert.

#include "ui/preview_window.h"

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <atomic>
#include <thread>

#include "support/console_fixture.h"
#include "support/test_support.h"
#include "ui/gui_proxy.h"
#include "ui/preview_item_model.h"

namespace qv::ui {
namespace {

using run::PlanItem;

PlanItem Item(const std::string& name, int mode, std::vector<PlanItem> children = {}) {
    PlanItem item;
    item.name = name;
    item.copyMode = mode;
    item.isFolder = !children.empty();
    item.subItems = std::move(children);
    return item;
}

template <typename... T>
std::vector<PlanItem> Items(T&&... items) {
    std::vector<PlanItem> v;
    (v.push_back(std::move(items)), ...);
    return v;
}

const std::string kOddName = "caf\xE9.txt";  // Latin-1, not UTF-8

// /A against /B, a Synchronize: Docs (copy, two files), Old/deep/x.bin (deletion in B),
// r.txt (replacement), and a file whose name is not UTF-8.
void FillPlan(run::RunState& state) {
    run::TaskRoot root;
    root.source = "/A";
    root.dest = "/B";
    root.gIsSyncOn = true;
    root.subItems.push_back(Item("Docs", 2, Items(Item("a.txt", 2), Item("b.txt", 2))));
    root.subItems.push_back(Item("Old", 1, Items(Item("deep", 1, Items(Item("x.bin", 7))))));
    root.subItems.push_back(Item("r.txt", 4));
    // r.txt, the only file the plan carries: 1000 bytes from A, or 3000 from B once turned.
    const auto file = static_cast<std::uint8_t>(platform::ItemType::RegularFile);
    root.subItems.back().seenA = {1, 1000, 0, 0, file};
    root.subItems.back().seenB = {2, 3000, 0, 0, file};
    state.totals.bytesToDoTotal = 1000;
    root.subItems.push_back(Item(kOddName, 3));
    state.plan.taskRootList.push_back(std::move(root));
    state.plan.exactIndexAdditionLists.emplace_back();
    state.totals.categories.gFoldersToDescend = 3;
    state.totals.categories.gItemsAtoB = 4;
    state.totals.categories.gItemsBtoA = 1;
    state.totals.categories.gItemsToDelete = 1;
    state.totals.gItemsToDoTotal = 6;
}

void CollectModes(const std::vector<PlanItem>& items, std::vector<int>& modes) {
    for (const PlanItem& i : items) {
        modes.push_back(i.copyMode);
        CollectModes(i.subItems, modes);
    }
}

std::vector<int> Modes(const run::RunState& state) {
    std::vector<int> modes;
    CollectModes(state.plan.taskRootList.front().subItems, modes);
    return modes;
}

// The totals box, in its order: folders, skipped, delete, A to B, B to A, attributes, total.
QStringList Totals(PreviewWindow& w) {
    QStringList t;
    for (int i = 0; i < 8; ++i) t << w.totalField(i)->text();
    return t;
}

PreviewWindow* OpenPreview() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* preview = qobject_cast<PreviewWindow*>(w); preview && preview->isVisible()) {
            return preview;
        }
    }
    return nullptr;
}

}  // namespace

class PreviewWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void TheWorkerGetsTheAnswerOnceTheWindowIsGone();
    void ClickingTheModeSkipsAFolderWithItsItemsAndAltClickOrKeysTurnAReplacement();
    void SearchFindsAnItemInAClosedFolderAndOpensItsFolders();
    void OpenWithNoRowSelectedSaysSo();
};

void PreviewWindowTest::TheWorkerGetsTheAnswerOnceTheWindowIsGone() {
    enum class Act { Continue, Stop, Abandon };
    const struct {
        Act act;
        bool goOn;
        int code;  // -1: the window was closed under the worker
    } cases[] = {{Act::Continue, true, 100}, {Act::Stop, false, 99}, {Act::Abandon, false, -1}};
    for (const auto& c : cases) {
        run::RunState state;
        FillPlan(state);
        const std::vector<int> before = Modes(state);
        GuiProxy proxy(nullptr);
        std::atomic<int> answer{-1};
        std::thread worker([&] { answer = proxy.ShowPreview(state) ? 1 : 0; });
        PreviewWindow* window = nullptr;
        QVERIFY(QTest::qWaitFor([&] { return (window = OpenPreview()) != nullptr; }));
        QCOMPARE(window->windowTitle(), QStringLiteral("Preview - Backup"));
        int code = -1;
        connect(window, &QDialog::finished, [&code](int result) { code = result; });
        if (c.act == Act::Continue) window->continueButton()->click();
        if (c.act == Act::Stop) window->stopButton()->click();
        if (c.act == Act::Abandon) proxy.Abandon();
        QVERIFY(QTest::qWaitFor([&] { return answer >= 0; }));
        worker.join();
        QCOMPARE(answer.load(), c.goOn ? 1 : 0);
        QCOMPARE(code, c.code);
        QCOMPARE(Modes(state), before);
        QCOMPARE(state.plan.taskRootList.front().subItems[3].name, kOddName);
        QVERIFY(OpenPreview() == nullptr);
    }
}

void PreviewWindowTest::ClickingTheModeSkipsAFolderWithItsItemsAndAltClickOrKeysTurnAReplacement() {
    run::RunState state;
    FillPlan(state);
    PreviewWindow w(state, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    PreviewItemModel* items = w.itemModel();
    QTreeView* tree = w.outline();
    const QModelIndex root = items->index(0, 0);
    tree->expand(root);
    QCOMPARE(Totals(w), QStringList({"3", "0", "1", "4", "1", "0", "0", "6"}));
    // The odd name is shown as the file system decodes it.
    QCOMPARE(items->index(3, 0, root).data().toString(), QFile::decodeName(kOddName.c_str()));

    const auto click = [&](int row, Qt::KeyboardModifiers keys) {
        const QRect cell = tree->visualRect(items->index(row, PreviewItemModel::kModeColumn, root));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, keys, cell.center());
    };
    click(0, {});  // Docs and its two files
    const std::vector<PlanItem>& plan = state.plan.taskRootList.front().subItems;
    QCOMPARE(plan[0].copyMode, -2);
    QCOMPARE(plan[0].subItems[0].copyMode, -2);
    QCOMPARE(plan[0].subItems[1].copyMode, -2);
    QCOMPARE(Totals(w), QStringList({"3", "3", "1", "1", "1", "0", "0", "3"}));
    QCOMPARE(items->index(0, 0, root).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    QCOMPARE(tree->selectionModel()->selectedRows().front(), items->index(0, 0, root));

    QCOMPARE(w.totalField(8)->text(), QStringLiteral("1000 bytes"));
    click(2, Qt::AltModifier);  // r.txt: B wins now
    QCOMPARE(plan[2].copyMode, 5);
    QCOMPARE(w.totalField(8)->text(), QStringLiteral("2 KB"));
    QCOMPARE(Totals(w), QStringList({"3", "3", "1", "0", "2", "0", "0", "3"}));
    click(3, Qt::AltModifier);  // a copy cannot be turned around
    QCOMPARE(plan[3].copyMode, 3);
    click(0, {});  // back on
    QCOMPARE(Totals(w), QStringList({"3", "0", "1", "3", "2", "0", "0", "6"}));
    // A double click acts once: its first click, then the double click and a release.
    click(3, {});
    const QRect cell = tree->visualRect(items->index(3, PreviewItemModel::kModeColumn, root));
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(plan[3].copyMode, -3);

    // The same without a modified click, which window managers may keep for themselves: the
    // row's keys and its right-click menu.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const auto select = [&](int row) {
        tree->setCurrentIndex(items->index(row, 0, root));
        tree->setFocus();
    };
    select(3);
    QTest::keyClick(tree, Qt::Key_Space);
    QCOMPARE(plan[3].copyMode, 3);
    select(2);
    QTest::keyClick(tree, Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(plan[2].copyMode, 4);
    const auto menuEntry = [&](int row, const QString& title) -> QAction* {
        w.ShowRowMenu(tree->visualRect(items->index(row, 0, root)).center());
        for (QAction* a : w.rowMenu()->actions()) {
            if (a->text() == title) return a;
        }
        return nullptr;
    };
    QAction* swap = menuEntry(3, QStringLiteral("Swap the Direction"));
    QVERIFY(swap != nullptr && !swap->isEnabled());  // a copy has no other direction
    w.rowMenu()->close();
    swap = menuEntry(2, QStringLiteral("Swap the Direction"));
    QVERIFY(swap != nullptr && swap->isEnabled());
    swap->trigger();
    QCOMPARE(plan[2].copyMode, 5);
    w.rowMenu()->close();
}

void PreviewWindowTest::SearchFindsAnItemInAClosedFolderAndOpensItsFolders() {
    run::RunState state;
    FillPlan(state);
    PreviewSettings settings;
    settings.describe = [](const std::string& path) {
        engine::PreviewSideInfo info;
        info.exists = true;
        info.path = path;
        return info;
    };
    PreviewWindow w(state, settings);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTreeView* tree = w.outline();
    PreviewItemModel* items = w.itemModel();
    QVERIFY(!tree->isExpanded(items->index(0, 0)));

    QVERIFY(w.SearchNextOrPreviousItem(6, false));
    const QModelIndex root = items->index(0, 0);
    const QModelIndex old = items->index(1, 0, root);
    const QModelIndex deep = items->index(0, 0, old);
    const QModelIndex x = items->index(0, 0, deep);
    QVERIFY(tree->isExpanded(root) && tree->isExpanded(old) && tree->isExpanded(deep));
    QCOMPARE(tree->selectionModel()->selectedRows(), QModelIndexList({x}));
    QCOMPARE(w.infoField(true, PreviewWindow::kPath)->text(), QStringLiteral("/A/Old/deep/x.bin"));
    QCOMPARE(w.infoField(false, PreviewWindow::kPath)->text(), QStringLiteral("/B/Old/deep/x.bin"));
    QVERIFY(w.openButton(false)->isEnabled());

    QVERIFY(!w.SearchNextOrPreviousItem(6, false));  // no wrapping around
    QCOMPARE(tree->selectionModel()->selectedRows(), QModelIndexList({x}));
    QVERIFY(w.SearchNextOrPreviousItem(2, true));  // back up to the last copy A to B above
    QCOMPARE(tree->selectionModel()->selectedRows().front(),
             items->index(1, 0, items->index(0, 0, root)));
}

void PreviewWindowTest::OpenWithNoRowSelectedSaysSo() {
    run::RunState state;
    FillPlan(state);
    PreviewWindow w(state, {});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.infoField(true, PreviewWindow::kName)->text(), QStringLiteral("--"));
    QVERIFY(!w.openButton(true)->isEnabled() && !w.revealButton(false)->isEnabled());
    w.OpenFile(true);
    QMessageBox* alert = w.alert();
    QVERIFY(alert != nullptr && alert->isVisible());
    QCOMPARE(alert->windowTitle(), QStringLiteral("Item not selected:"));
    QCOMPARE(alert->text(), QStringLiteral("Please firstly select a row in the list"));
    alert->button(QMessageBox::Ok)->click();
    QVERIFY(QTest::qWaitFor([&] { return w.alert() == nullptr; }));
}

}  // namespace qv::ui

QV_WINDOW_TEST_MAIN(qv::ui::PreviewWindowTest)

#include "preview_window_test.moc"
