// The console's pages with the offscreen platform: the ways to each option panel, the session
// pop-up on a panel, the settings (with its versions section) and conflicts panels over their
// editors, the marker of their buttons, the custom sub-folder name sheet, and what leaving a
// panel writes.

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <ctime>
#include <memory>

#include "platform/date_format.h"
#include "platform/file_io.h"
#include "sessions/conflict_options.h"
#include "sessions/conflicts_editor.h"
#include "sessions/dest_subfolder.h"
#include "sessions/settings_options.h"
#include "support/console_fixture.h"
#include "ui/conflicts_panel.h"
#include "ui/console_window.h"
#include "ui/custom_name_sheet.h"
#include "ui/option_panel.h"
#include "ui/scheduling_window.h"
#include "ui/scripts_panel.h"
#include "ui/settings_panel.h"

namespace qv::ui {
namespace {

constexpr int kRunTimeout = test::ConsoleFixture::kRunTimeout;

const char* const kAllTabs[] = {"settings",         "timer",      "multi",
                                "filter",           "exclude",    "conflicts",
                                "autoMountVolumes", "appleScript"};

struct Console : test::ConsoleFixture {
    using ConsoleFixture::ConsoleFixture;
    std::int64_t Setting(std::int64_t session, const char* key) {
        return Stored(session, "settingsDict").intAt(key);
    }
    SettingsPanel& settings() { return *static_cast<SettingsPanel*>(window->panel("settings")); }
    ConflictsPanel& conflicts() {
        return *static_cast<ConflictsPanel*>(window->panel("conflicts"));
    }
    bool marker(const char* tab) const {
        return window->optionMarker(static_cast<std::size_t>(ConsoleWindow::PanelNumber(tab) - 1));
    }
    // Chooses a kind in the sub-folder pop-up as the user does: it opens, then an entry.
    void ChooseKind(std::int64_t tag) {
        SubFolderNamePopUp* pop = settings().kindPopUp();
        pop->showPopup();
        pop->hidePopup();
        const int entry = pop->findData(QVariant::fromValue<qlonglong>(tag));
        QVERIFY(entry >= 0);
        pop->setCurrentIndex(entry);
        emit pop->activated(entry);
    }
    std::int64_t ShownKind() { return settings().kindPopUp()->currentData().toLongLong(); }
};

std::string Q(const QString& s) { return s.toStdString(); }

QToolButton* ButtonOf(ConsoleWindow& w, int number) {
    return number == kConsolePanel ? w.consoleButton()
                                   : w.optionButton(static_cast<std::size_t>(number - 1));
}

// Exactly the button of the page on screen is lit.
bool OnlyLit(ConsoleWindow& w, int number) {
    for (int n = 0; n < kPanelCount; ++n) {
        if (ButtonOf(w, n)->isChecked() != (n == number)) return false;
    }
    return true;
}

// The page of that number is on screen and its button alone is lit.
bool Shows(ConsoleWindow& w, int number) {
    const std::string tab = number == kConsolePanel ? "console" : kAllTabs[number - 1];
    return w.currentPanel() == tab && OnlyLit(w, number);
}

// A warning is on screen, titled so and with that text (or any text, given none); its OK
// button takes it away.
template <typename Alert>
bool DismissWarning(Alert alert, const char* text) {
    QMessageBox* box = alert();
    if (box == nullptr || !box->isVisible() || box->windowTitle() != QLatin1String("Warning:") ||
        (text ? box->text() != QLatin1String(text) : box->text().isEmpty())) {
        return false;
    }
    box->button(QMessageBox::Ok)->click();
    return QTest::qWaitFor([&] { return alert() == nullptr; });
}

}  // namespace

class PanelsTest : public QObject {
    Q_OBJECT
  private slots:
    void EveryButtonMenuEntryAndShortcutReachesItsPanel();
    void AllSessionsIsOfferedOnTheConsoleOnly();
    void ChoosingASessionOnAPanelWritesTheOldOneAndShowsTheNew();
    void TheTaskRetitlesTheExactCheckbox();
    void TheSettingsMarkerFollowsEdits();
    void TheSubFolderKindAndPatternAloneLeaveTheMarkerOff();
    void TheCustomNameSheetRefusesAnUnusablePatternAndCancelRestoresTheKind();
    void TheVersionsSectionWritesThroughTheEditorAndRefusesABadFolder();
    void TheConflictsPanelMapsItsRowsAndItsMarkerFollows();
    void LeavingAPanelWritesTheSessionDictionary();
    void APanelThatRefusesStaysOnScreenWithItsMessage();
    void ARunUsesTheEditedSettings();
    void TheScriptsPanelChecksWhenLeftAndTriesAScript();
};

void PanelsTest::EveryButtonMenuEntryAndShortcutReachesItsPanel() {
    Console c;
    ConsoleWindow& w = *c.window;
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(Shows(w, kConsolePanel));
    for (int n = 1; n < kPanelCount; ++n) {
        const char* tab = kAllTabs[n - 1];
        QCOMPARE(ConsoleWindow::PanelNumber(tab), n);
        // The option's button; clicking it again keeps the page and its light.
        QTest::mouseClick(ButtonOf(w, n), Qt::LeftButton);
        QVERIFY2(Shows(w, n), tab);
        QTest::mouseClick(ButtonOf(w, n), Qt::LeftButton);
        QVERIFY(Shows(w, n));
        QTest::mouseClick(w.consoleButton(), Qt::LeftButton);
        QVERIFY(Shows(w, kConsolePanel));

        // The menu entry, which carries its number plus 39, and its shortcut shown in the menu.
        QAction* entry = w.panelAction(n);
        QCOMPARE(entry->data().toInt(), kMenuPanelTagOffset + n);
        QCOMPARE(entry->shortcut(), QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + n)));
        entry->trigger();
        QVERIFY(Shows(w, n));
        QTest::keyClick(&w, Qt::Key_0, Qt::ControlModifier);
        QVERIFY(Shows(w, kConsolePanel));
        QTest::keyClick(&w, static_cast<Qt::Key>(Qt::Key_0 + n), Qt::ControlModifier);
        QVERIFY(Shows(w, n));
        // 9 is the console too; numbers above it are nobody's.
        w.ChooseGoPanel(kMenuPanelTagOffset + 10);
        QVERIFY(Shows(w, n));
        w.ChooseGoPanel(kMenuPanelTagOffset + 9);
        QVERIFY(Shows(w, kConsolePanel));
    }

    // "All Sessions" has no options but the timer, which opens the scheduling window.
    w.ChooseGoPanel(0);
    c.Choose(3);
    for (int n = 1; n < kPanelCount; ++n) {
        QCOMPARE(w.panelAction(n)->isEnabled(), n == static_cast<int>(kTimerOption) + 1);
        w.ChooseGoPanel(n);
        w.panelAction(n)->trigger();
        QVERIFY(Shows(w, kConsolePanel));
    }
    QVERIFY(w.schedulingWindow() != nullptr && w.schedulingWindow()->isVisible());
}

void PanelsTest::AllSessionsIsOfferedOnTheConsoleOnly() {
    Console c;
    ConsoleWindow& w = *c.window;
    QVERIFY(w.sessionPopupOffersAll());
    for (const char* tab : kAllTabs) {
        w.GoPanel(tab);
        QVERIFY2(!w.sessionPopupOffersAll(), tab);
        QVERIFY(w.sessionPopup()->isEnabled());
        // Even chosen by the program, "All" is refused while a panel is shown.
        c.Choose(3);
        QCOMPARE(c.doc().mSessionIndex, std::int64_t{0});
        QCOMPARE(w.sessionPopup()->currentIndex(), 0);
        QCOMPARE(w.currentPanel(), std::string(tab));
        w.GoPanel("console");
        QVERIFY(w.sessionPopupOffersAll());
    }
    // A document loaded while a panel is shown comes back on the console, with "All".
    w.GoPanel("settings");
    w.SetDocumentSessions();
    QCOMPARE(w.currentPanel(), std::string("console"));
    QVERIFY(w.sessionPopupOffersAll());
    c.Choose(3);
    QVERIFY(c.doc().IsCurrentSessionAllSessions());
}

void PanelsTest::ChoosingASessionOnAPanelWritesTheOldOneAndShowsTheNew() {
    Console c(sessions::kTaskBackup);
    test::SetOption(c.doc(), 1, "settingsDict", "settTask", sessions::kTaskSynchronize);
    test::SetOption(c.doc(), 1, "settingsDict", "settMoveToTrash", 1);
    ConsoleWindow& w = *c.window;
    w.ChooseGoPanel(1);
    SettingsPanel& p = c.settings();
    QVERIFY(p.taskRadio()->button(static_cast<int>(sessions::kTaskBackup))->isChecked());
    p.checkbox("settResolveAlias")->click();
    c.Choose(1);
    QCOMPARE(w.currentPanel(), std::string("settings"));
    // The first session got its edit; the panel shows the second one's settings.
    QCOMPARE(c.Setting(0, "settResolveAlias"), std::int64_t{1});
    QVERIFY(p.taskRadio()->button(static_cast<int>(sessions::kTaskSynchronize))->isChecked());
    QVERIFY(p.checkbox("settMoveToTrash")->isChecked());
    QVERIFY(!p.checkbox("settResolveAlias")->isChecked());
    QCOMPARE(Q(p.exactCheckbox()->text()), std::string("Exact Sync"));
    QVERIFY(c.marker("settings"));
    // Back on the first session, its edit is shown again.
    c.Choose(0);
    QVERIFY(p.checkbox("settResolveAlias")->isChecked());
    QVERIFY(c.marker("settings"));
}

void PanelsTest::TheTaskRetitlesTheExactCheckbox() {
    Console c(sessions::kTaskBackup);
    c.window->GoPanel("settings");
    SettingsPanel& p = c.settings();
    // The tips' whole texts are the editor's; here each is known by how it starts.
    const auto shows = [&p](const char* title, const char* tip) {
        return p.exactCheckbox()->text() == QLatin1String(title) &&
               p.exactCheckbox()->toolTip().startsWith(QLatin1String(tip));
    };
    QVERIFY(shows("Exact Backup", "Deletes, from the destination folder"));
    for (std::int64_t task :
         {sessions::kTaskSynchronize, sessions::kTaskBackup, sessions::kTaskSynchronize}) {
        p.taskRadio()->button(static_cast<int>(task))->click();
        QVERIFY(task == sessions::kTaskBackup ? shows("Exact Backup", "Deletes, from the dest")
                                              : shows("Exact Sync", "Deletes, from a source"));
        // A task is never a departure from its own defaults.
        QVERIFY(!c.marker("settings"));
        // The main button follows at once.
        QCOMPARE(Q(c.window->mainButton()->text()),
                 std::string(task == sessions::kTaskBackup ? "Backup" : "Synchronize"));
    }
    // Leaving writes the task, and the main button says what a run will do now.
    c.window->ChooseGoPanel(0);
    QCOMPARE(c.Setting(0, "settTask"), sessions::kTaskSynchronize);
    QCOMPARE(Q(c.window->mainButton()->text()), std::string("Synchronize"));
}

void PanelsTest::TheSettingsMarkerFollowsEdits() {
    Console c;
    c.window->GoPanel("settings");
    SettingsPanel& p = c.settings();
    QVERIFY(!c.marker("settings"));
    for (const char* key :
         {"settExact", "settInvisibleItems", "settLockedItems", "settResolveAlias",
          "settResolveSymLink", "settSkipEmptyFolders", "settNewItemsOnly", "settPackagesFolders",
          "settMoveToTrash", "settCheckAttrChanged", "settSkipCheckPermissions",
          "settCreateDestFolder"}) {
        QCheckBox* box = p.checkbox(key);
        QVERIFY2(box != nullptr && !box->isChecked(), key);
        box->click();
        QVERIFY2(c.marker("settings"), key);
        box->click();
        QVERIFY2(!c.marker("settings"), key);
    }
    // Each option says what it means here, in the words of this system.
    for (const sessions::SettingsCheckbox& def : sessions::SettingsCheckboxes()) {
        const QString tip = p.checkbox(def.key)->toolTip();
        QVERIFY2(!tip.isEmpty(), def.key);
        QVERIFY2(!tip.contains(QStringLiteral("Finder")) && !tip.contains(QStringLiteral("alias")),
                 def.key);
    }
    // The two inverted checkboxes are stored as 0 when on.
    p.checkbox("settInvisibleItems")->click();
    p.checkbox("settLockedItems")->click();
    QVERIFY(c.marker("settings"));
    c.window->ChooseGoPanel(0);
    QCOMPARE(c.Setting(0, "settInvisibleItems"), std::int64_t{0});
    QCOMPARE(c.Setting(0, "settLockedItems"), std::int64_t{0});
    QVERIFY(c.marker("settings"));
    // The console's row reads the stored session with the same rule.
    c.Choose(1);
    QVERIFY(!c.marker("settings"));
    c.Choose(0);
    QVERIFY(c.marker("settings"));
    // Shown again, they are on; undone and left, the marker goes off for good.
    c.window->ChooseGoPanel(1);
    QVERIFY(p.checkbox("settInvisibleItems")->isChecked());
    p.checkbox("settInvisibleItems")->click();
    p.checkbox("settLockedItems")->click();
    QVERIFY(!c.marker("settings"));
    c.window->ChooseGoPanel(0);
    QVERIFY(!c.marker("settings"));
    QCOMPARE(c.Setting(0, "settInvisibleItems"), std::int64_t{1});
}

void PanelsTest::TheSubFolderKindAndPatternAloneLeaveTheMarkerOff() {
    Console c;
    c.window->GoPanel("settings");
    SettingsPanel& p = c.settings();
    // Off: the pop-up waits and the sample is empty.
    QVERIFY(!p.kindPopUp()->isEnabled());
    QVERIFY(p.sampleLabel()->text().isEmpty());
    QCOMPARE(c.ShownKind(), sessions::kNameKindSourceName);

    // The date entries are titled with today's date.
    const double now = static_cast<double>(std::time(nullptr));
    const QString day = QStringLiteral("Day of week (%1)")
                            .arg(QString::fromStdString(platform::FormatDatePattern("EEEE", now)));
    QVERIFY(p.kindPopUp()->findText(day) >= 0);
    // ... and again each time the pop-up is about to open, the selection kept.
    const int dayEntry = p.kindPopUp()->findData(QVariant::fromValue<qlonglong>(2));
    p.kindPopUp()->setItemText(dayEntry, QStringLiteral("yesterday's title"));
    p.kindPopUp()->showPopup();
    p.kindPopUp()->hidePopup();
    QCOMPARE(p.kindPopUp()->itemText(dayEntry), day);
    QCOMPARE(c.ShownKind(), sessions::kNameKindSourceName);

    c.ChooseKind(4);  // the month of the year
    QVERIFY(!c.marker("settings"));
    c.ChooseKind(0);
    CustomNameSheet* sheet = p.customNameSheet();
    QVERIFY(sheet != nullptr && sheet->isVisible());
    sheet->patternField()->setText(QStringLiteral("'Set' yyyy"));
    sheet->okButton()->click();
    QVERIFY(!sheet->isVisible());
    QCOMPARE(c.ShownKind(), sessions::kNameKindCustom);
    QVERIFY(!c.marker("settings"));
    c.window->ChooseGoPanel(0);
    QVERIFY(!c.marker("settings"));
    const plist::Value& stored = c.Stored(0, "settingsDict");
    QCOMPARE(stored.intAt("settCreateDestFolderNameKind"), sessions::kNameKindCustom);
    QCOMPARE(stored.stringAt("settCreateDestFolderCustomNameFormat"), std::string("'Set' yyyy"));

    // Turning the sub-folder on does turn it on, enables the pop-up and shows a sample.
    c.window->ChooseGoPanel(1);
    QCOMPARE(c.ShownKind(), sessions::kNameKindCustom);
    p.checkbox("settCreateDestFolder")->click();
    QVERIFY(c.marker("settings"));
    QVERIFY(p.kindPopUp()->isEnabled());
    QCOMPARE(Q(p.sampleLabel()->text()),
             "Set " + platform::FormatDatePattern("yyyy", static_cast<double>(std::time(nullptr))));
    c.ChooseKind(sessions::kNameKindSourceName);
    QCOMPARE(Q(p.sampleLabel()->text()), std::string("A"));
    p.checkbox("settCreateDestFolder")->click();
    QVERIFY(p.sampleLabel()->text().isEmpty());
    QVERIFY(!c.marker("settings"));
}

void PanelsTest::TheCustomNameSheetRefusesAnUnusablePatternAndCancelRestoresTheKind() {
    Console c;
    c.window->GoPanel("settings");
    SettingsPanel& p = c.settings();
    p.checkbox("settCreateDestFolder")->click();
    c.ChooseKind(5);  // the short month
    const QString before = p.sampleLabel()->text();
    QVERIFY(!before.isEmpty());

    c.ChooseKind(sessions::kNameKindCustom);
    QCOMPARE(p.previousKind(), std::int64_t{5});
    CustomNameSheet* sheet = p.customNameSheet();
    QVERIFY(sheet != nullptr && sheet->isVisible());
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    // It starts on the session's pattern and follows the typing.
    QCOMPARE(Q(sheet->patternField()->text()), std::string(sessions::kDefaultCustomNameFormat));
    sheet->patternField()->setText(QStringLiteral("'Copy of' kSrc"));
    QCOMPARE(Q(sheet->sampleField()->text()), std::string("Copy of A"));

    // Patterns that give no usable name: refused with the alert, and the sheet stays.
    for (const char* bad : {"", "'.'"}) {
        sheet->patternField()->setText(QString::fromUtf8(bad));
        sheet->okButton()->click();
        QVERIFY2(DismissWarning([&] { return sheet->alert(); },
                                "Format not valid. Please look at samples here below."),
                 bad);
        QVERIFY(sheet->isVisible());
        QCOMPARE(p.customNameSheet(), sheet);
    }
    // Cancel: the pop-up is back on the kind shown before it was opened; nothing changed.
    sheet->cancelButton()->click();
    QCOMPARE(c.ShownKind(), std::int64_t{5});
    QCOMPARE(p.sampleLabel()->text(), before);
    c.window->ChooseGoPanel(0);
    const plist::Value& stored = c.Stored(0, "settingsDict");
    QCOMPARE(stored.intAt("settCreateDestFolderNameKind"), std::int64_t{5});
    QCOMPARE(stored.stringAt("settCreateDestFolderCustomNameFormat"),
             std::string(sessions::kDefaultCustomNameFormat));
}

void PanelsTest::TheVersionsSectionWritesThroughTheEditorAndRefusesABadFolder() {
    Console c;
    ConsoleWindow& w = *c.window;
    w.ChooseGoPanel(1);
    SettingsPanel& p = c.settings();
    QLineEdit* folder = p.versionsFolderField();
    const auto stored = [&] { return sessions::VersionsSettingsOf(&c.Stored(0, "settingsDict")); };
    // Off: the fields wait, showing the defaults.
    QVERIFY(!p.versionsCheckbox()->isChecked());
    QVERIFY(!folder->isEnabled() && !p.versionsKeepField()->isEnabled() &&
            !p.versionsDaysField()->isEnabled());
    QCOMPARE(folder->placeholderText(),
             QStringLiteral(".quorvel-versions at the top of each side"));
    QCOMPARE(p.versionsKeepField()->value(), 10);
    QCOMPARE(p.versionsDaysField()->text(), QStringLiteral("no limit"));

    p.versionsCheckbox()->click();
    QVERIFY(folder->isEnabled() && p.versionsDaysField()->isEnabled());
    QVERIFY(c.marker("settings"));
    folder->setText(QStringLiteral("/srv/old versions"));
    emit folder->editingFinished();
    p.versionsKeepField()->setValue(3);
    p.versionsDaysField()->setValue(30);
    QVERIFY(!stored().on);  // written when the panel is left
    w.ChooseGoPanel(0);
    QVERIFY(stored().on);
    QCOMPARE(stored().folder, std::string("/srv/old versions"));
    QCOMPARE(stored().keep, std::int64_t{3});
    QCOMPARE(stored().days, std::int64_t{30});

    // A folder that is not absolute: refused as typed, and again when the panel is left, which
    // it then is not; the session keeps the folder it had.
    const char* refusal =
        "The versions folder must be an absolute path, or empty for a folder "
        "\".quorvel-versions\" at the top of each side.";
    w.ChooseGoPanel(1);
    folder->setText(QStringLiteral("../elsewhere"));
    emit folder->editingFinished();
    QVERIFY(DismissWarning([&] { return p.versionsAlert(); }, refusal));
    QTest::mouseClick(w.consoleButton(), Qt::LeftButton);
    QVERIFY(DismissWarning([&] { return w.panelAlert(); }, refusal));
    QCOMPARE(w.currentPanel(), std::string("settings"));
    QVERIFY(p.versionsAlert() == nullptr);  // the same folder is not refused twice
    QCOMPARE(stored().folder, std::string("/srv/old versions"));

    // Back to the defaults and off: the marker goes out and the fields wait again.
    folder->clear();
    emit folder->editingFinished();
    p.versionsKeepField()->setValue(10);
    p.versionsDaysField()->setValue(0);
    p.versionsCheckbox()->click();
    QVERIFY(!c.marker("settings"));
    QVERIFY(!folder->isEnabled());
    w.ChooseGoPanel(0);
    QVERIFY(!stored().on);
    QCOMPARE(stored().folder, std::string());
}

void PanelsTest::TheConflictsPanelMapsItsRowsAndItsMarkerFollows() {
    Console c;
    test::SetOption(c.doc(), 0, "conflictsDict", "conflictFileFolderAsk", true);
    c.window->GoPanel("conflicts");
    ConflictsPanel& p = c.conflicts();
    const auto& kinds = sessions::ConflictKinds();
    const sessions::ConflictsEditor defaults(sessions::DefaultConflictsDict());
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        QCOMPARE(Q(p.radio(k)->button(1)->text()), std::string(kinds[k].tag1Title));
        QCOMPARE(Q(p.radio(k)->button(2)->text()), std::string(kinds[k].tag2Title));
        QCOMPARE(p.radio(k)->checkedId(), static_cast<int>(defaults.radio(k)));
        QCOMPARE(p.ask(k)->isChecked(), k == kinds.size() - 1);  // stored as a boolean
    }
    QVERIFY(c.marker("conflicts"));
    p.ask(kinds.size() - 1)->click();
    QVERIFY(!c.marker("conflicts"));
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        const int other = 3 - p.radio(k)->checkedId();
        p.radio(k)->button(other)->click();
        QVERIFY(c.marker("conflicts"));
        p.radio(k)->button(3 - other)->click();
        QVERIFY(!c.marker("conflicts"));
        p.ask(k)->click();
        QVERIFY(c.marker("conflicts"));
        p.ask(k)->click();
        QVERIFY(!c.marker("conflicts"));
    }
    p.radio(3)->button(1)->click();  // Sync: skip both items
    c.window->ChooseGoPanel(0);
    const plist::Value& stored = c.Stored(0, "conflictsDict");
    QCOMPARE(stored.intAt("conflictSyncRadio"), std::int64_t{1});
    QCOMPARE(stored.intAt("conflictFileFolderAsk"), std::int64_t{0});
    QVERIFY(c.marker("conflicts"));
}

void PanelsTest::LeavingAPanelWritesTheSessionDictionary() {
    Console c;
    ConsoleWindow& w = *c.window;
    // Nothing is written while the panel is on screen.
    w.ChooseGoPanel(1);
    c.settings().checkbox("settMoveToTrash")->click();
    QCOMPARE(c.Setting(0, "settMoveToTrash"), std::int64_t{0});
    // Another panel.
    w.ChooseGoPanel(6);
    QCOMPARE(c.Setting(0, "settMoveToTrash"), std::int64_t{1});
    c.conflicts().radio(0)->button(1)->click();
    QCOMPARE(c.Stored(0, "conflictsDict").intAt("conflictBackupRadio"), std::int64_t{2});
    // Another session.
    c.Choose(1);
    QCOMPARE(c.Stored(0, "conflictsDict").intAt("conflictBackupRadio"), std::int64_t{1});
    QCOMPARE(c.Stored(1, "conflictsDict").intAt("conflictBackupRadio"), std::int64_t{2});
    // The pages that have no controls yet leave the session's dictionary as it was.
    const plist::Value timers = c.Stored(1, "timerDict");
    w.ChooseGoPanel(2);
    w.ChooseGoPanel(0);
    QVERIFY(plist::EqualByValue(c.Stored(1, "timerDict"), timers));
    // Quitting.
    w.ChooseGoPanel(1);
    c.settings().checkbox("settSkipEmptyFolders")->click();
    w.RequestQuit();
    QCOMPARE(c.Setting(1, "settSkipEmptyFolders"), std::int64_t{1});
}

void PanelsTest::APanelThatRefusesStaysOnScreenWithItsMessage() {
    Console c;
    c.tree.Build({"A/a.txt:a"});
    ConsoleWindow& w = *c.window;
    w.ChooseGoPanel(1);
    // A damaged document: the session shown is no longer a dictionary, so the settings
    // cannot be written into it.
    plist::Value& session = *c.doc().GetSessionDict(0);
    session = plist::Value(std::string("damaged"));
    const auto refused = [&](const char* how) {
        QCOMPARE(w.currentPanel(), std::string("settings"));
        QVERIFY2(DismissWarning([&] { return w.panelAlert(); }, nullptr), how);
    };
    QTest::mouseClick(w.consoleButton(), Qt::LeftButton);
    refused("console button");
    QVERIFY(OnlyLit(w, 1));
    w.panelAction(6)->trigger();
    refused("menu entry");
    c.Choose(1);
    refused("another session");
    QCOMPARE(c.doc().mSessionIndex, std::int64_t{0});
    QCOMPARE(w.sessionPopup()->currentIndex(), 0);
    QTest::mouseClick(w.mainButton(), Qt::LeftButton);
    refused("run");
    QVERIFY(!w.isRunning());
    QVERIFY(!platform::ItemExists(c.tree.path("B/a.txt")));
    w.RequestQuit();
    refused("quit");
    QVERIFY(w.isVisible());
}

void PanelsTest::ARunUsesTheEditedSettings() {
    Console c(sessions::kTaskBackup);
    c.tree.Build({"A/a.txt:a", "B/only-b.txt:b"});
    ConsoleWindow& w = *c.window;
    w.ChooseGoPanel(1);
    c.settings().taskRadio()->button(static_cast<int>(sessions::kTaskSynchronize))->click();
    // Started from the panel: the panel is written first and waits while the run goes on.
    QTest::mouseClick(w.mainButton(), Qt::LeftButton);
    QVERIFY(w.isRunning());
    QVERIFY(!w.panel("settings")->isEnabled());
    QVERIFY(!w.consoleButton()->isEnabled());
    QVERIFY(!w.panelAction(kConsolePanel)->isEnabled());
    QVERIFY(QTest::qWaitFor([&] { return !w.isRunning(); }, kRunTimeout));
    QCOMPARE(test::ReadText(c.tree.path("A/only-b.txt")), std::string("b"));
    QCOMPARE(test::ReadText(c.tree.path("B/a.txt")), std::string("a"));
    QVERIFY(w.panel("settings")->isEnabled());
    QCOMPARE(w.currentPanel(), std::string("settings"));
    QCOMPARE(Q(w.mainButton()->text()), std::string("Synchronize"));
}

void PanelsTest::TheScriptsPanelChecksWhenLeftAndTriesAScript() {
    Console c;
    ConsoleWindow& w = *c.window;
    w.ChooseGoPanel(8);
    QCOMPARE(w.currentPanel(), std::string("appleScript"));
    auto& p = *static_cast<ScriptsPanel*>(w.panel("appleScript"));
    QVERIFY(!c.marker("appleScript"));
    p.checkbox(0)->click();
    QVERIFY(c.marker("appleScript"));
    // A text that does not pass keeps the user on the panel, its faulty line selected.
    p.text(0)->setPlainText(QStringLiteral("echo one\nif then\necho three"));
    w.ChooseGoPanel(0);
    QCOMPARE(w.currentPanel(), std::string("appleScript"));
    QCOMPARE(Q(p.text(0)->textCursor().selectedText()), std::string("if then"));
    QVERIFY(w.panelAlert() != nullptr);
    QVERIFY(w.panelAlert()->text().contains(QLatin1String("line 2")));
    QVERIFY(DismissWarning([&] { return w.panelAlert(); }, nullptr));
    QCOMPARE(c.Stored(0, "appleScriptDict").intAt("asStartOn"), std::int64_t{0});

    // Try runs the text in the panel, told the session's facts, and shows how it ended.
    const auto tried = [&](const char* text, const char* title, const char* shown) {
        p.text(0)->setPlainText(QLatin1String(text));
        QSignalSpy ended(&p, &ScriptsPanel::tryEnded);
        p.tryButton(0)->click();
        QVERIFY(ended.wait(kRunTimeout));
        QVERIFY(p.alert() != nullptr);
        QCOMPARE(Q(p.alert()->windowTitle()), std::string(title));
        QVERIFY2(p.alert()->text().contains(QLatin1String(shown)), qPrintable(p.alert()->text()));
        p.alert()->button(QMessageBox::Ok)->click();
    };
    tried("echo \"$QUORVEL_WHEN\"; exit 4", "Warning:", "Error: 4.");
    tried("echo \"$QUORVEL_WHEN $QUORVEL_SESSION\"", "The script ran successfully.",
          "before Default Sync Session");
    w.ChooseGoPanel(0);
    QCOMPARE(w.currentPanel(), std::string("console"));
    const plist::Value& stored = c.Stored(0, "appleScriptDict");
    QCOMPARE(stored.intAt("asStartOn"), std::int64_t{1});
    QCOMPARE(stored.stringAt("asStartText"),
             std::string("echo \"$QUORVEL_WHEN $QUORVEL_SESSION\""));
}

}  // namespace qv::ui

QV_WINDOW_TEST_MAIN(qv::ui::PanelsTest)

#include "panels_test.moc"
