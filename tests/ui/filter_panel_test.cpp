// The filters panel with the offscreen platform: the clicks in its table, the row editor over
// the FilterEditor, the marker of its button, and what leaving the panel writes.

#include "ui/filter_panel.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "sessions/filter_options.h"
#include "support/console_fixture.h"
#include "ui/console_window.h"
#include "ui/filter_row_dialog.h"
#include "ui/option_markers.h"

namespace qv::ui {
namespace {

struct Console : test::ConsoleFixture {
    Console() { window->GoPanel("filter"); }
    FilterPanel& panel() { return *static_cast<FilterPanel*>(window->panel("filter")); }
    bool marker() const { return window->optionMarker(kFilterOption); }
    // The filterDict written when the user goes back to the console.
    const plist::Value& Leave() {
        window->ChooseGoPanel(0);
        return *app->document().GetSessionDict(0)->dictAt("filterDict");
    }
    const plist::Value& StoredRow(const plist::Value& filters, std::size_t row) {
        return filters.arrayAt("filterArray")->array().at(row);
    }
    QString Cell(int row, int column) { return panel().table()->item(row, column)->text(); }
    void Click(int row, int column, Qt::KeyboardModifiers modifiers = {}) {
        QTableWidget* t = panel().table();
        const QPoint at = t->visualRect(t->model()->index(row, column)).center();
        QTest::mouseClick(t->viewport(), Qt::LeftButton, modifiers, at);
    }
    // Opens the row editor on a row as the user does, with a click on its description.
    FilterRowDialog& Open(int row) {
        Click(row, 1);
        FilterRowDialog* dialog = panel().rowDialog();
        if (dialog == nullptr || !dialog->isVisible()) qFatal("the row editor did not open");
        return *dialog;
    }
};

std::string Q(const QString& s) { return s.toStdString(); }

}  // namespace

class FilterPanelTest : public QObject {
    Q_OBJECT
  private slots:
    void TheRowEditorStoresARowThatTheTableDescribes();
    void ARefusedRowKeepsTheEditorOpenOnTheFieldAtFault();
    void ClicksInTheTableSwitchAndResetRows();
    void TheMarkerFollowsTheListSwitch();
};

void FilterPanelTest::TheRowEditorStoresARowThatTheTableDescribes() {
    Console c;
    FilterPanel& p = c.panel();
    QVERIFY(!p.onOffBox()->isChecked());
    QVERIFY(!c.marker());

    FilterRowDialog& d = c.Open(1);
    QCOMPARE(Q(d.nameField()->text()), std::string("Filter 2"));
    QVERIFY(!d.field("filterFileNameField")->isEnabled());
    d.criterionSwitch("filterFileNameOn")->click();
    QVERIFY(d.field("filterFileNameField")->isEnabled());
    d.popUp("filterFileNamePop")->setCurrentIndex(2);  // ends with
    d.field("filterFileNameField")->setText(QStringLiteral(".tmp"));
    d.criterionSwitch("filterFileSizeOn")->click();
    d.popUp("filterFileSizePop")->setCurrentIndex(2);  // greater than
    d.field("filterFileSizeField")->setText(QStringLiteral("1"));
    d.popUp("filterFileSizeBytesPop")->setCurrentIndex(1);  // KB
    d.okButton()->click();
    QVERIFY(QTest::qWaitFor([&] { return p.rowDialog() == nullptr; }));
    const std::string description = "FN ends with \".tmp\" - File Size is greater than \"1 KB\"";
    QCOMPARE(Q(c.Cell(1, 1)), description);
    // The first row confirmed switches the filters on, and the marker with them.
    QVERIFY(p.onOffBox()->isChecked());
    QVERIFY(c.marker());

    // Cancel leaves the row as it was.
    FilterRowDialog& again = c.Open(1);
    QCOMPARE(Q(again.nameField()->text()), description);
    QCOMPARE(Q(again.field("filterFileNameField")->text()), std::string(".tmp"));
    again.criterionSwitch("filterFileNameOn")->click();
    again.cancelButton()->click();
    QVERIFY(QTest::qWaitFor([&] { return p.rowDialog() == nullptr; }));
    QCOMPARE(Q(c.Cell(1, 1)), description);

    const plist::Value& stored = c.Leave();
    QCOMPARE(stored.intAt("filterOn"), std::int64_t{1});
    const plist::Value& row = c.StoredRow(stored, 1);
    QCOMPARE(row.stringAt("filterNameField"), description);
    QCOMPARE(row.intAt("filterFileNameOn"), std::int64_t{1});
    QCOMPARE(row.intAt("filterFileNamePop"), std::int64_t{2});
    QCOMPARE(row.stringAt("filterFileNameField"), std::string(".tmp"));
    QCOMPARE(row.intAt("filterFileSizeField"), std::int64_t{1});
    QCOMPARE(row.intAt("filterFileSizeBytesPop"), std::int64_t{1});
    QVERIFY(c.marker());
}

void FilterPanelTest::ARefusedRowKeepsTheEditorOpenOnTheFieldAtFault() {
    Console c;
    FilterPanel& p = c.panel();
    FilterRowDialog& d = c.Open(0);
    const struct {
        const char* switchKey;  // switched on for the case
        const char* field;      // its value typed, "" for none
        const char* value;
        const char* message;
    } cases[] = {
        {nullptr, "", "", "Please define a criteria for this filter."},
        {"filterFileSizeOn", "filterFileSizeField", "-1", "Please insert a valid File Size."},
        {"filterCreationDateOn", "filterCreationDateDay", "31",
         "Please insert a valid Day number."},
    };
    for (const auto& k : cases) {
        if (k.switchKey != nullptr) d.criterionSwitch(k.switchKey)->click();
        if (*k.field != '\0') d.field(k.field)->setText(QString::fromUtf8(k.value));
        if (std::string_view(k.field) == "filterCreationDateDay") {
            d.field("filterCreationDateMonth")->setText(QStringLiteral("4"));
        }
        d.okButton()->click();
        QMessageBox* alert = d.alert();
        QVERIFY2(alert != nullptr && alert->isVisible(), k.message);
        QCOMPARE(Q(alert->windowTitle()), std::string("Warning:"));
        QCOMPARE(Q(alert->text()), std::string(k.message));
        alert->button(QMessageBox::Ok)->click();
        QVERIFY(QTest::qWaitFor([&] { return d.alert() == nullptr; }));
        QVERIFY(d.isVisible());
        if (*k.field != '\0') {
            // A date field takes the focus with its stepper.
            QWidget* focus = d.focusWidget();
            QVERIFY(focus == d.field(k.field) || focus->isAncestorOf(d.field(k.field)));
        }
        // Fixed for the next case.
        if (*k.field != '\0') d.field(k.field)->setText(QStringLiteral("1"));
    }
    // Nothing of the refused values reached the row.
    QVERIFY(c.Cell(0, 1).isEmpty());
    d.okButton()->click();
    QVERIFY(QTest::qWaitFor([&] { return p.rowDialog() == nullptr; }));
    QCOMPARE(Q(c.Cell(0, 1)), std::string("CD is \"4/1/2011\" - File Size is \"1 bytes\""));
}

void FilterPanelTest::ClicksInTheTableSwitchAndResetRows() {
    Console c;
    test::SetOption(c.app->document(), 0, "filterDict", "filterOn", 1);
    plist::Value filled = sessions::DefaultFilterRow();
    for (const auto& [key, value] : plist::Dict{{"filterNameField", "Owner name is \"ann\""},
                                                {"filterKindOn", 1},
                                                {"filterOwnerOn", 1},
                                                {"filterOwnerField", "ann"},
                                                {"onOff", 0}}) {
        filled.set(key, value);
    }
    c.app->document().GetSessionDict(0)->dictAt("filterDict")->arrayAt("filterArray")->array()[2] =
        filled;
    c.window->GoPanel("console");
    c.window->GoPanel("filter");
    FilterPanel& p = c.panel();
    const auto enabled = [&](int row, int column) {
        return (p.table()->item(row, column)->flags() & Qt::ItemIsEnabled) != 0;
    };
    QCOMPARE(Q(c.Cell(0, 0)), std::string());  // no criterion: neither on nor off
    QCOMPARE(Q(c.Cell(2, 0)), std::string("-"));
    QVERIFY(enabled(2, 0) && !enabled(2, 1) && enabled(0, 1));

    // The first column switches the row; a double click does it once.
    c.Click(2, 0);
    QCOMPARE(Q(c.Cell(2, 0)), std::string("•"));
    QVERIFY(enabled(2, 1));
    // What a double click delivers after its first click: the double click, then a release.
    c.Click(0, 0);
    const QPoint dot = p.table()->visualRect(p.table()->model()->index(0, 0)).center();
    QTest::mouseDClick(p.table()->viewport(), Qt::LeftButton, {}, dot);
    QTest::mouseRelease(p.table()->viewport(), Qt::LeftButton, {}, dot);
    QCOMPARE(c.StoredRow(c.Leave(), 0).intAt("onOff"), 0);
    c.window->GoPanel("filter");
    QVERIFY(p.rowDialog() == nullptr);

    // Alt and a click on the description: the row is cleared, its owner and group kept filled
    // in but switched off.
    c.Click(2, 1, Qt::AltModifier);
    QVERIFY(p.rowDialog() == nullptr);
    QVERIFY(c.Cell(2, 1).isEmpty());
    const plist::Value& row = c.StoredRow(c.Leave(), 2);
    QCOMPARE(row.intAt("onOff"), std::int64_t{1});
    QCOMPARE(row.intAt("filterKindOn"), std::int64_t{0});
    QCOMPARE(row.intAt("filterOwnerOn"), std::int64_t{0});
    QCOMPARE(row.stringAt("filterOwnerField"), std::string("ann"));
    QCOMPARE(
        c.StoredRow(*c.app->document().GetSessionDict(0)->dictAt("filterDict"), 0).intAt("onOff"),
        std::int64_t{0});
}

void FilterPanelTest::TheMarkerFollowsTheListSwitch() {
    Console c;
    FilterPanel& p = c.panel();
    p.onOffBox()->click();
    QVERIFY(c.marker());
    QVERIFY(c.panel().table()->item(0, 0)->flags() & Qt::ItemIsEnabled);
    p.copySkipRadio()->button(static_cast<int>(sessions::kFilterCopyMode))->click();
    p.onOffBox()->click();
    QVERIFY(!c.marker());
    QVERIFY(!(c.panel().table()->item(0, 0)->flags() & Qt::ItemIsEnabled));
    // Switched on without a valid row: leaving switches the filters off again.
    p.onOffBox()->click();
    QVERIFY(c.marker());
    const plist::Value& stored = c.Leave();
    QCOMPARE(stored.intAt("filterOn"), std::int64_t{0});
    QCOMPARE(stored.intAt("filterCopySkip"), sessions::kFilterCopyMode);
    QVERIFY(!p.onOffBox()->isChecked());
    QVERIFY(!c.marker());
}

}  // namespace qv::ui

QV_WINDOW_TEST_MAIN(qv::ui::FilterPanelTest)

#include "filter_panel_test.moc"
