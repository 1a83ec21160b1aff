// The session name sheet, the sort-sessions window and the About window, with the offscreen
// platform.

#include <QAbstractItemModel>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <memory>

#include "platform/version.h"
#include "sessions/session_document.h"
#include "support/console_fixture.h"
#include "support/test_support.h"
#include "ui/about_window.h"
#include "ui/session_name_sheet.h"
#include "ui/sort_sessions_window.h"

namespace qv::ui {
namespace {

sessions::SessionDocument Doc(std::initializer_list<const char*> names) {
    sessions::SessionDocument doc("/nonexistent/template.plist");
    doc.mMainDict = plist::Dict{{"sessionsArray", plist::Array{}}, {"sessionIndex", 0}};
    for (const char* name : names) {
        sessions::SessionDocument::AddSession(sessions::kTaskSynchronize, name, doc.mMainDict);
    }
    return doc;
}

// A warning is on screen with that text; its OK button takes it away.
template <typename Alert>
bool DismissWarning(Alert alert, const QString& text) {
    QMessageBox* box = alert();
    if (box == nullptr || !box->isVisible() || box->windowTitle() != QLatin1String("Warning:") ||
        box->text() != text) {
        return false;
    }
    box->button(QMessageBox::Ok)->click();
    return QTest::qWaitFor([&] { return alert() == nullptr; });
}

QString Cell(SortSessionsWindow& w, int row, int column) {
    return w.tableModel()->index(row, column).data().toString();
}

}  // namespace

class SessionDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void TheNameSheetRefusesAndStaysOpen();
    void SortingMovesRowsByIndexAndKeepsOneSession();
    void TheAboutWindowShowsTheVersion();
};

void SessionDialogsTest::TheNameSheetRefusesAndStaysOpen() {
    QWidget parent;
    parent.show();
    const sessions::SessionDocument doc = Doc({"a", "b"});
    const struct {
        const char* name;
        const char* message;
    } refused[] = {
        {"", "Please insert a valid name."},
        {"All Sessions", "Can't use this name."},
        {"a", "Name duplicated."},
        {"x\ty", "A session name can't hold tabs, line breaks or other control characters."},
    };
    SessionNameSheet sheet(doc, "b", 1, &parent);
    QCOMPARE(sheet.nameField()->text(), QStringLiteral("b"));
    QCOMPARE(sheet.nameField()->selectedText(), QStringLiteral("b"));
    QSignalSpy finished(&sheet, &QDialog::finished);
    sheet.open();
    for (const auto& r : refused) {
        sheet.nameField()->setText(QString::fromUtf8(r.name));
        sheet.okButton()->click();
        QVERIFY2(DismissWarning([&] { return sheet.alert(); }, QString::fromUtf8(r.message)),
                 r.name);
        QVERIFY(sheet.isVisible());
    }
    QCOMPARE(finished.count(), 0);
    // Its own name: closed as if cancelled.
    sheet.nameField()->setText(QStringLiteral("b"));
    sheet.okButton()->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(sheet.result(), int(QDialog::Rejected));

    SessionNameSheet fresh(doc, "Session 3", std::nullopt, &parent);
    fresh.open();
    fresh.nameField()->setText(QString::fromUtf8("B \xe2\x80\xa6"));  // case matters
    fresh.okButton()->click();
    QCOMPARE(fresh.result(), int(QDialog::Accepted));
    QCOMPARE(fresh.name(), std::string("B \xe2\x80\xa6"));
}

void SessionDialogsTest::SortingMovesRowsByIndexAndKeepsOneSession() {
    QWidget parent;
    parent.show();
    const sessions::SessionDocument doc = Doc({"twin", "twin", "c"});
    SortSessionsWindow w(doc, &parent);
    w.open();
    QCOMPARE(Cell(w, 2, 0), QStringLiteral("3"));
    QCOMPARE(Cell(w, 2, 1), QStringLiteral("c"));

    // The second twin dragged above the first, as the view drops it: through the model.
    QAbstractItemModel* model = w.tableModel();
    std::unique_ptr<QMimeData> dragged(model->mimeData({model->index(1, 0), model->index(1, 1)}));
    QVERIFY(model->canDropMimeData(dragged.get(), Qt::MoveAction, 0, 0, {}));
    QVERIFY(model->dropMimeData(dragged.get(), Qt::MoveAction, 0, 0, {}));
    QCOMPARE(w.order(), (std::vector<std::int64_t>{1, 0, 2}));
    QCOMPARE(w.table()->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(w.table()->selectionModel()->selectedRows().front().row(), 0);
    QCOMPARE(Cell(w, 0, 0), QStringLiteral("1"));
    // Below the last row: appended.
    w.MoveRows({0}, 3);
    QCOMPARE(w.order(), (std::vector<std::int64_t>{0, 2, 1}));

    // Every row selected: the Delete key is refused and nothing goes.
    w.table()->selectAll();
    QTest::keyClick(w.table(), Qt::Key_Delete);
    QVERIFY(DismissWarning([&] { return w.alert(); },
                           QStringLiteral("Can't remove all the Sessions.")));
    QCOMPARE(model->rowCount(), 3);
    w.table()->selectionModel()->select(
        model->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QTest::keyClick(w.table(), Qt::Key_Backspace);
    QCOMPARE(w.order(), (std::vector<std::int64_t>{2, 1}));

    QSignalSpy finished(&w, &QDialog::finished);
    QTest::keyClick(w.table(), Qt::Key_Return);  // Return applies
    QCOMPARE(finished.count(), 1);
    QCOMPARE(w.result(), int(QDialog::Accepted));
}

void SessionDialogsTest::TheAboutWindowShowsTheVersion() {
    AboutWindow about(nullptr);
    QVERIFY(about.versionLabel()->text().contains(QLatin1String(QV_PROJECT_VERSION)));
    QCOMPARE(QString::fromLatin1(platform::kShortVersion), QStringLiteral(QV_PROJECT_VERSION));
    QVERIFY(about.webSiteLabel()->text().contains(QLatin1String("href=\"https://quorvel.app\"")));
    about.open();
    about.closeButton()->click();
    QVERIFY(!about.isVisible());
}

}  // namespace qv::ui

QV_WINDOW_TEST_MAIN(qv::ui::SessionDialogsTest)

#include "session_dialogs_test.moc"
