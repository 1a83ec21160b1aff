#include "ui/console_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>

#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/system_log.h"
#include "platform/version.h"
#include "run/plan_item.h"
#include "sessions/multi_options.h"
#include "sessions/settings_options.h"
#include "ui/conflicts_panel.h"
#include "ui/desktop_notification.h"
#include "ui/document_commands.h"
#include "ui/error_alert.h"
#include "ui/exclude_panel.h"
#include "ui/filter_panel.h"
#include "ui/info_drawer.h"
#include "ui/log_window.h"
#include "ui/middle_truncation.h"
#include "ui/multi_panel.h"
#include "ui/option_panel.h"
#include "ui/path_area.h"
#include "ui/path_table.h"
#include "ui/qt_text.h"
#include "ui/run_controller.h"
#include "ui/scheduling_window.h"
#include "ui/scripts_panel.h"
#include "ui/session_name_sheet.h"
#include "ui/settings_panel.h"
#include "ui/size_display.h"
#include "ui/theme.h"
#include "ui/timer_panel.h"
#include "ui/versions_window.h"
#include "ui/volumes_panel.h"
#include "ui/window_scheduler.h"

namespace qv::ui {

using platform::GLS;

namespace {

QString Format(const std::string& text, long long n) {
    return Str(text) + QStringLiteral(" (%1)").arg(n);
}

}  // namespace

ConsoleWindow::ConsoleWindow(app::MainApp& app, QWidget* parent)
    : QMainWindow(parent), app_(app), euidIsRoot_(::geteuid() == 0) {
    setObjectName(QStringLiteral("consoleWindow"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.quorvel.Quorvel.svg")));
    run_ = new RunController(app_, this);
    view_.clock = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    view_.updateTimer = new QTimer(this);
    connect(view_.updateTimer, &QTimer::timeout, this, &ConsoleWindow::UpdateItemsToDoField);
    connect(run_, &RunController::started, this, &ConsoleWindow::RunStarted);
    connect(run_, &RunController::scanProgress, this, &ConsoleWindow::ScanProgress);
    connect(run_, &RunController::previewShowing, this, &ConsoleWindow::PreviewShowing);
    connect(run_, &RunController::copyStarting, this, &ConsoleWindow::CopyStarting);
    connect(run_, &RunController::finished, this, &ConsoleWindow::RunFinished);
    BuildWindow();
    scheduler_ = new WindowScheduler(app_, *run_, {}, this);
    // No timer fires while an option panel (or no document) is on screen.
    scheduler_->SetConsoleShownCheck(
        [this] { return pages_->currentWidget() == panels_[kConsolePanel]; });
    connect(scheduler_, &WindowScheduler::changed, this, &ConsoleWindow::UpdateTimerToolTip);
    documents_ = new DocumentCommands(app_, *this);
    BuildMenus();
    documents_->UpdateTitle();
}

ConsoleWindow::~ConsoleWindow() = default;

void ConsoleWindow::BuildWindow() {
    auto* central = new QWidget(this);
    auto* outer = new QHBoxLayout(central);
    outer->setContentsMargins(18, 14, 18, 16);
    outer->setSpacing(14);
    auto* column = new QVBoxLayout;
    column->setSpacing(10);
    outer->addLayout(column, 1);
    column->addLayout(BuildTopRow(central));
    column->addWidget(BuildPageStack(central), 1);
    column->addLayout(BuildButtonRow(central));

    // Comment line and progress bar.
    view_.comment = new QLabel(central);
    view_.comment->setObjectName(QStringLiteral("comment"));
    view_.comment->setMinimumHeight(3 * view_.comment->fontMetrics().lineSpacing() + 4);
    view_.comment->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    view_.comment->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    view_.comment->installEventFilter(this);
    column->addWidget(view_.comment);
    view_.progress = new QProgressBar(central);
    view_.progress->setTextVisible(false);
    view_.progress->setFixedHeight(8);
    view_.progress->setRange(0, 1);
    view_.progress->setValue(0);
    column->addWidget(view_.progress);

    // The information drawer.
    drawer_ = new InfoDrawer(central);
    drawer_->hide();
    outer->addWidget(drawer_, 0, Qt::AlignTop);

    central->setStyleSheet(
        QStringLiteral("QFrame#pathArea, QFrame#infoDrawer { background: palette(base);"
                       " border: 1px solid palette(mid); border-radius: 10px; }"
                       "QFrame#pathArea:focus { border: 2px solid palette(highlight); }"
                       "QProgressBar { background: palette(base); border: 1px solid palette(mid);"
                       " border-radius: 4px; }"
                       "QProgressBar::chunk { background: #2563eb; border-radius: 3px; }"));
    setCentralWidget(central);
    resize(640, 430);
}

QLayout* ConsoleWindow::BuildTopRow(QWidget* central) {
    // Session pop-up and the information drawer's button.
    auto* top = new QHBoxLayout;
    auto* sessionLabel = new QLabel(Str(GLS("Session:")), central);
    sessionPopup_ = new QComboBox(central);
    sessionPopup_->setMinimumWidth(240);
    sessionPopup_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(sessionPopup_, &QComboBox::activated, this, &ConsoleWindow::ChooseSession);
    drawerButton_ = new QToolButton(central);
    drawerButton_->setIcon(NamedIcon("icn_info"));
    drawerButton_->setCheckable(true);
    drawerButton_->setAutoRaise(true);
    drawerButton_->setToolTip(Str(GLS("Show or hide the information drawer")));
    connect(drawerButton_, &QToolButton::toggled, this, &ConsoleWindow::setInfoDrawerOpen);
    top->addWidget(sessionLabel);
    top->addWidget(sessionPopup_);
    logButton_ = new QToolButton(central);
    logButton_->setObjectName(QStringLiteral("logButton"));
    logButton_->setIcon(NamedIcon("icn_log"));
    logButton_->setAutoRaise(true);
    logButton_->setToolTip(Str(GLS("Show the log of the last run")) + QStringLiteral(" (Ctrl+L)"));
    connect(logButton_, &QToolButton::clicked, this, &ConsoleWindow::WindowOpenLog);
    top->addStretch(1);
    top->addWidget(logButton_);
    top->addWidget(drawerButton_);
    return top;
}

QWidget* ConsoleWindow::BuildPageStack(QWidget* central) {
    // The pages: the console's two sides with the task arrow between them, and the panels.
    pages_ = new QStackedWidget(central);
    auto* consolePage = new ConsolePanel(pages_);
    auto* consoleColumn = new QVBoxLayout(consolePage);
    consoleColumn->setContentsMargins(0, 0, 0, 0);
    consoleColumn->setSpacing(10);
    source_ = new PathArea(Str(GLS("Source")), consolePage);
    dest_ = new PathArea(Str(GLS("Destination")), consolePage);
    arrow_ = new QLabel(consolePage);
    arrow_->setAlignment(Qt::AlignCenter);
    arrow_->setFixedHeight(26);
    consoleColumn->addWidget(source_);
    consoleColumn->addWidget(arrow_);
    consoleColumn->addWidget(dest_);
    consoleColumn->addStretch(1);
    BuildPages(consolePage);
    for (const bool isSource : {true, false}) {
        PathArea* area = isSource ? source_ : dest_;
        connect(area, &PathArea::picked, this, [this, isSource] { TaskPickFolder(isSource); });
        connect(area, &PathArea::openClicked, this,
                [this, isSource](Qt::KeyboardModifiers m) { OpenFolderButton(isSource, m); });
        connect(area, &PathArea::dropped, this, [this, isSource](const QString& path) {
            if (!isRunning()) SetPickedFolder(PathBytes(path), isSource);
        });
    }

    return pages_;
}

QLayout* ConsoleWindow::BuildButtonRow(QWidget* central) {
    // Option buttons and the task button.
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    consoleButton_ = new QToolButton(central);
    consoleButton_->setObjectName(QStringLiteral("console"));
    consoleButton_->setIcon(NamedIcon("icnOptConsole"));
    consoleButton_->setIconSize(QSize(24, 24));
    consoleButton_->setFixedSize(38, 38);
    consoleButton_->setAutoRaise(true);
    consoleButton_->setCheckable(true);
    consoleButton_->setToolTip(Str(GLS("Go to the Console")) + QStringLiteral(" (Ctrl+0)"));
    connect(consoleButton_, &QToolButton::clicked, this, [this] { ChooseGoPanel(kConsolePanel); });
    row->addWidget(consoleButton_);
    for (std::size_t i = 0; i < kOptionCount; ++i) {
        const OptionButton& def = OptionButtons()[i];
        auto* holder = new QWidget(central);
        holder->setFixedSize(40, 40);
        auto* button = new QToolButton(holder);
        button->setObjectName(QLatin1String(def.tab));
        button->setIcon(NamedIcon(def.icon));
        button->setIconSize(QSize(24, 24));
        button->setAutoRaise(true);
        button->setCheckable(true);
        button->setGeometry(0, 0, 38, 38);
        button->setToolTip(Str(GLS(def.tooltip)));
        connect(button, &QToolButton::clicked, this,
                [this, i] { ChooseGoPanel(static_cast<int>(i) + 1); });
        auto* marker = new QLabel(holder);
        marker->setPixmap(NamedIcon("icnOptOn").pixmap(10, 10));
        marker->setGeometry(28, 2, 10, 10);
        marker->setAttribute(Qt::WA_TransparentForMouseEvents);
        marker->hide();
        options_[i] = {button, marker, false};
        row->addWidget(holder);
    }
    row->addStretch(1);
    mainButton_ = new QPushButton(central);
    mainButton_->setObjectName(QStringLiteral("mainButton"));
    mainButton_->setMinimumSize(150, 40);
    mainButton_->setIconSize(QSize(16, 16));
    mainButton_->setStyleSheet(
        QStringLiteral("QPushButton#mainButton { background: #2563eb; color: white; border: none;"
                       " border-radius: 8px; padding: 6px 18px; font-weight: 600; }"
                       "QPushButton#mainButton:hover { background: #1d4ed8; }"
                       "QPushButton#mainButton:disabled { background: #93a3b8; }"
                       "QPushButton#mainButton[running=\"true\"] { background: #dc2626; }"));
    connect(mainButton_, &QPushButton::clicked, this, &ConsoleWindow::TaskExecuteSyncOrBackup);
    row->addWidget(mainButton_);
    return row;
}

void ConsoleWindow::BuildPages(OptionPanel* consolePage) {
    panels_[kConsolePanel] = consolePage;
    pages_->addWidget(consolePage);
    for (std::size_t o = 0; o < kOptionCount; ++o) {
        OptionPanel* page = nullptr;
        if (o == kSettingsOption) {
            auto* settings = new SettingsPanel(app_.document(), pages_);
            // The button says at once what the task chosen on the panel will do.
            connect(settings, &SettingsPanel::taskChosen, this, [this](int task) {
                if (!isRunning()) SetMainButtonTitle(false, task == sessions::kTaskSynchronize);
            });
            page = settings;
        } else if (o == kFilterOption) {
            page = new FilterPanel(pages_);
        } else if (o == kConflictsOption) {
            page = new ConflictsPanel(pages_);
        } else if (o == kMultiOption) {
            auto* multi = new MultiPanel(pages_);
            // A folder picked for a row lists its volume, as one picked for the console does.
            multi->onFolderPicked = [this](const std::string& path) {
                app_.AddToAutoMountVolumeArray(app_.document().mSessionIndex, path);
            };
            page = multi;
        } else if (o == kExcludeOption) {
            page = new ExcludePanel(pages_);
        } else if (o == kTimerOption) {
            page = new TimerPanel(pages_);
        } else if (o == kVolumesOption) {
            auto* volumes = new VolumesPanel(pages_);
            volumes->mountSetting = [this] {
                return engine::MountSettingFor(app_.preferences().mPrefDict);
            };
            page = volumes;
        } else {
            auto* scripts = new ScriptsPanel(app_.document(), pages_);
            scripts->scriptTimeout = [this] {
                return app_.preferences().mPrefDict.intAt("prefScriptTimeout",
                                                          sessions::kDefaultScriptTimeout);
            };
            page = scripts;
        }
        // The marker follows the controls while the user edits.
        connect(page, &OptionPanel::iconOnChanged, this,
                [this, o](bool on) { TurnIconOnTo(o, on); });
        panels_[o + 1] = page;
        pages_->addWidget(page);
    }
    pages_->setCurrentWidget(consolePage);
}

// ---- Panels ----

int ConsoleWindow::PanelNumber(const std::string& tab) {
    if (tab == "console") return kConsolePanel;
    for (std::size_t o = 0; o < kOptionCount; ++o) {
        if (tab == OptionButtons()[o].tab) return static_cast<int>(o) + 1;
    }
    return -1;
}

const std::string& ConsoleWindow::currentPanel() const {
    return static_cast<const OptionPanel*>(pages_->currentWidget())->tab();
}

OptionPanel* ConsoleWindow::panel(const std::string& tab) const {
    const int number = PanelNumber(tab);
    return number < 0 ? nullptr : panels_[number];
}

void ConsoleWindow::ChooseGoPanel(int tag) {
    int number = tag >= kMenuPanelTagOffset ? tag - kMenuPanelTagOffset : tag;
    if (number == 9) number = kConsolePanel;
    const bool known = number >= 0 && number < kPanelCount;
    const bool offered =
        known && (number == kConsolePanel || options_[number - 1].button->isEnabled());
    if (known && offered && !isRunning() && panels_[number] != pages_->currentWidget() &&
        GetCurrentPanel()) {
        if (number == static_cast<int>(kTimerOption) + 1) {
            GoPanelTimer();
        } else {
            GoPanel(panels_[number]->tab());
        }
    }
    // A checkable button lights itself when clicked, whether or not its page came.
    SyncPanelButtons();
}

void ConsoleWindow::GoPanelTimer() {
    // "All Sessions" has no timer page of its own: its timers are listed in the scheduling
    // window.
    if (app_.document().IsCurrentSessionAllSessions()) {
        WindowOpenScheduling();
        return;
    }
    GoPanel("timer");
}

void ConsoleWindow::WindowOpenScheduling() {
    if (schedulingWindow_ == nullptr) {
        schedulingWindow_ = new SchedulingWindow(*scheduler_, this);
        schedulingWindow_->onOpenLog = [this](const std::string& path) {
            OpenLogWithFileFromScheduling(path);
        };
    }
    schedulingWindow_->show();
    schedulingWindow_->raise();
    schedulingWindow_->activateWindow();
}

void ConsoleWindow::OpenLogWithFileFromScheduling(const std::string& path) {
    TheLogWindow();
    logWindow_->setLogFolder(app_.runService().LogFolder());
    if (!logWindow_->FillLogWindow(path, {})) return;
    logWindow_->show();
    logWindow_->raise();
    logWindow_->activateWindow();
}

void ConsoleWindow::UpdateTimerToolTip() {
    if (app_.preferences().mPrefDict.intAt("prefSyncAndQuit") != 0) return;
    QString tip = Str(GLS(OptionButtons()[kTimerOption].tooltip));
    const QString status = scheduler_ != nullptr ? scheduler_->StatusText() : QString();
    if (!status.isEmpty()) tip += QLatin1Char('\n') + status;
    options_[kTimerOption].button->setToolTip(tip);
}

void ConsoleWindow::GoPanel(const std::string& tab) {
    const int number = PanelNumber(tab);
    if (number < 0) return;
    sessions::SessionDocument& doc = app_.document();
    const std::int64_t i = doc.mSessionIndex;
    OptionPanel* page = panels_[number];
    if (number == kConsolePanel) {
        AblePopMenuSession(true, true);
        SetConsolePanes(i);
    } else {
        plist::Value* session = doc.GetSessionDict(i);
        if (session == nullptr) return;
        // While an option is edited the pop-up offers single sessions only: "All" has no
        // options of its own.
        AblePopMenuSession(true, false);
        page->ShowPanel(*session);
    }
    pages_->setCurrentWidget(page);
    SyncPanelButtons();
    if (number == kConsolePanel) {
        // Back on the console, the timers are listed again from the sessions as they now are.
        scheduler_->Arm();
        emit readyForReload();
    }
}

void ConsoleWindow::ShowDocumentClosed() {
    if (closedPage_ == nullptr) {
        closedPage_ = new DocumentClosedPanel(pages_);
        pages_->addWidget(closedPage_);
        auto* page = static_cast<DocumentClosedPanel*>(closedPage_);
        connect(page->newButton(), &QPushButton::clicked, documents_, &DocumentCommands::FileNew);
        connect(page->openButton(), &QPushButton::clicked, documents_, &DocumentCommands::FileOpen);
    }
    pages_->setCurrentWidget(closedPage_);
    SetComment({});
    EnableDisableConsolePanes(false);
    // Nothing to run and no session to choose until a document is open again.
    mainButton_->setEnabled(false);
    consoleButton_->setEnabled(false);
    SyncPanelButtons();
    SyncPanelActions();
    if (logWindow_ != nullptr) logWindow_->hide();
    if (VersionsWindow* versions = versionsWindow()) versions->hide();
}

int ConsoleWindow::sessionEntry(int tag) const {
    const int first = static_cast<int>(app_.document().SessionCount());
    for (int entry = first; entry < sessionPopup_->count(); ++entry) {
        if (sessionPopup_->itemText(entry).isEmpty()) continue;
        if (sessionPopup_->itemData(entry).toInt() == tag) return entry;
    }
    return -1;
}

bool ConsoleWindow::isDocumentShown() const {
    return app_.document().isDocumentOpen && pages_->currentWidget() != closedPage_;
}

bool ConsoleWindow::sessionEntryOffered(int entry) const {
    const int all = static_cast<int>(app_.document().SessionCount()) + 1;
    return entry != all || sessionPopupOffersAll();
}

bool ConsoleWindow::GetCurrentPanel() {
    auto* page = static_cast<OptionPanel*>(pages_->currentWidget());
    if (page == panels_[kConsolePanel]) return true;
    plist::Value* session = app_.document().GetSessionDict(app_.document().mSessionIndex);
    if (session == nullptr) return true;
    std::string message;
    if (page->GetPanels(*session, &message)) {
        const int number = PanelNumber(page->tab());
        TurnIconOnTo(static_cast<std::size_t>(number - 1), page->SetIconOn(*session));
        // The task may have changed: the main button says what a run will do now.
        SetMainButtonName(app_.document().mSessionIndex);
        DocumentChanged();
        return true;
    }
    if (!sheets_.panelAlert) {
        auto* box = new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")), Lines(message),
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("panelAlert"));
        box->button(QMessageBox::Ok)->setText(Str(GLS("OK")));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        sheets_.panelAlert = box;
        box->open();
    }
    return false;
}

void ConsoleWindow::SyncPanelButtons() {
    const QWidget* shown = pages_->currentWidget();
    consoleButton_->setChecked(shown == panels_[kConsolePanel]);
    for (std::size_t o = 0; o < kOptionCount; ++o) {
        options_[o].button->setChecked(shown == panels_[o + 1]);
    }
}

void ConsoleWindow::SyncPanelActions() {
    // The menu offers what the row offers.
    menus_.panelActions[kConsolePanel]->setEnabled(consoleButton_->isEnabled());
    for (std::size_t o = 0; o < kOptionCount; ++o) {
        menus_.panelActions[o + 1]->setEnabled(options_[o].button->isEnabled());
    }
}

void ConsoleWindow::AblePopMenuSession(bool enable, bool allItem) {
    sessionPopup_->setEnabled(enable);
    allItemOffered_ = allItem;
    auto* model = qobject_cast<QStandardItemModel*>(sessionPopup_->model());
    auto* view = qobject_cast<QListView*>(sessionPopup_->view());
    const int all = static_cast<int>(app_.document().SessionCount()) + 1;
    if (model == nullptr || view == nullptr || all >= sessionPopup_->count()) return;
    // Hidden from the list and disabled, so that the keys that step through a closed pop-up
    // skip it too; its separator goes with it.
    model->item(all)->setEnabled(allItem);
    view->setRowHidden(all, !allItem);
    view->setRowHidden(all - 1, !allItem);
}

bool ConsoleWindow::sessionPopupOffersAll() const {
    const int all = static_cast<int>(app_.document().SessionCount()) + 1;
    const auto* model = qobject_cast<const QStandardItemModel*>(sessionPopup_->model());
    const auto* view = qobject_cast<const QListView*>(sessionPopup_->view());
    return model != nullptr && view != nullptr && all < sessionPopup_->count() &&
           model->item(all)->isEnabled() && !view->isRowHidden(all);
}

// ---- Sessions ----

bool ConsoleWindow::IsRealSession(std::int64_t index) const {
    return index >= 0 && index < app_.document().SessionCount();
}

bool ConsoleWindow::IsMultiSession(std::int64_t index) const {
    const plist::Value* s = app_.document().GetSessionDict(index);
    const plist::Value* multi = s ? s->dictAt("multiDict") : nullptr;
    return multi != nullptr && multi->intAt("multiOn") == 1;
}

bool ConsoleWindow::IsSyncSession(std::int64_t index) const {
    const plist::Value* s = app_.document().GetSessionDict(index);
    const plist::Value* settings = s ? s->dictAt("settingsDict") : nullptr;
    return settings != nullptr && settings->intAt("settTask") == sessions::kTaskSynchronize;
}

void ConsoleWindow::SetDocumentSessions() {
    // The countdown runs what it was started for: other sessions (a document handed over by
    // another start, the template changed on disk) cancel it.
    if (syncAndQuit_.starting()) {
        StopSyncAndQuit();
        Refuse(Str(GLS("Sync and Quit is cancelled: the sessions changed during the countdown.")));
    }
    sessions::SessionDocument& doc = app_.document();
    doc.mSessionIndex = doc.mMainDict.intAt("sessionIndex");
    // Another document: nothing on a panel belongs to it. After a Close, everything the closed
    // page switched off is on again, as for a fresh start.
    pages_->setCurrentWidget(panels_[kConsolePanel]);
    mainButton_->setEnabled(true);
    EnableDisableConsolePanes(!isRunning());
    allItemOffered_ = true;
    SyncPanelButtons();
    SetSessionsPopUpMenu();
    scheduler_->Arm();
}

void ConsoleWindow::SetSessionsPopUpMenu() {
    sessions::SessionDocument& doc = app_.document();
    sessionPopup_->clear();
    const std::int64_t count = doc.SessionCount();
    for (std::int64_t i = 0; i < count; ++i) {
        plist::Value* session = doc.GetSessionDict(i);
        plist::Value* console = session ? session->dictAt("consoleDict") : nullptr;
        if (console != nullptr && !console->contains("sessionName")) {
            console->set("sessionName", "Session " + std::to_string(i + 1));
        }
        sessionPopup_->addItem(Str(doc.GetSessionName(i)), kTagSession);
    }
    // Then the fixed entries: a separator, "All Sessions", a separator and the commands, whose
    // tags follow from their place.
    const std::vector<std::string> fixed = sessions::FixedSessionEntryTitles();
    for (std::size_t k = 0; k < fixed.size(); ++k) {
        if (fixed[k].empty()) {
            sessionPopup_->insertSeparator(sessionPopup_->count());
        } else {
            const int tag = k == 1 ? kTagAllSessions : static_cast<int>(k) - 1;
            sessionPopup_->addItem(Str(fixed[k]), tag);
        }
    }
    const std::int64_t current = doc.mSessionIndex;
    if (current >= 0 && current <= count + 1)
        sessionPopup_->setCurrentIndex(static_cast<int>(current));
    AblePopMenuSession(sessionPopup_->isEnabled(), allItemOffered_);
    // As if chosen by the program: the current session is shown whatever it was before.
    SetConsolePanes(current);
    SetOptionDrawerPanes(current);
}

void ConsoleWindow::ChooseSession(int entry) {
    sessions::SessionDocument& doc = app_.document();
    const std::int64_t current = doc.mMainDict.intAt("sessionIndex");
    if (isRunning() || entry == current) {
        sessionPopup_->setCurrentIndex(static_cast<int>(current));
        return;
    }
    if (doc.SessionCount() == 0) return;
    const int tag = sessionPopup_->itemData(entry).toInt();
    const bool onPanel = pages_->currentWidget() != panels_[kConsolePanel];
    // The panel on screen is written into the session it shows before another one comes.
    if ((tag == kTagAllSessions && onPanel) || !GetCurrentPanel()) {
        sessionPopup_->setCurrentIndex(static_cast<int>(current));
        return;
    }
    if (tag >= kTagNewSession && tag <= kTagSortSessions) {
        SessionCommand(tag);
        return;
    }
    if (tag == kTagSession && IsRealSession(entry)) {
        doc.mSessionIndex = entry;
    } else if (tag == kTagAllSessions) {
        doc.mSessionIndex = doc.SessionCount() + 1;
    } else {
        sessionPopup_->setCurrentIndex(static_cast<int>(current));
        return;
    }
    doc.mMainDict.set("sessionIndex", doc.mSessionIndex);
    SetConsolePanes(doc.mSessionIndex);
    SetOptionDrawerPanes(doc.mSessionIndex);
    // The panel on screen now shows the chosen session.
    if (onPanel) {
        if (plist::Value* session = doc.GetSessionDict(doc.mSessionIndex)) {
            static_cast<OptionPanel*>(pages_->currentWidget())->ShowPanel(*session);
        }
    } else {
        // The timers in scope follow the session shown.
        scheduler_->Arm();
    }
    DocumentChanged();
}

void ConsoleWindow::SetConsolePanes(std::int64_t i) {
    sessions::SessionDocument& doc = app_.document();
    doc.mMainDict.set("sessionIndex", i);
    doc.mSessionIndex = i;
    // An Exact Synchronize tells when its pair was last brought into step.
    const std::string lastExactSync =
        IsRealSession(i) && !IsMultiSession(i) ? app_.LastExactSyncLine(i) : std::string();
    SetComment(lastExactSync.empty() ? QStringList() : QStringList{Str(lastExactSync)});
    const QColor color = PathColor(euidIsRoot_);
    source_->setTextColor(color);
    dest_->setTextColor(color);

    const bool real = IsRealSession(i);
    const bool all = doc.IsAllSessions(i);
    if (real) {
        const plist::Value& session = *doc.GetSessionDict(i);
        if (IsMultiSession(i)) {
            const auto rows = static_cast<long long>(sessions::CountMultiValid(session).size());
            for (PathArea* area : {source_, dest_}) {
                area->setPathText(Format(GLS("Multiple List"), rows), false);
                area->setPathToolTip(Str(GLS("Multiple Task defined in the Multiple List")));
                area->setIcon(NamedIcon("icn_folder_gray"));
            }
        } else {
            const plist::Value* console = session.dictAt("consoleDict");
            SetPathname(console ? console->stringAt("topFolder") : "", true);
            SetPathname(console ? console->stringAt("bottomFolder") : "", false);
            source_->setPathToolTip(Str(
                GLS("The source folder. Control key and click to reveal the folder in Finder.")));
            dest_->setPathToolTip(Str(GLS(
                "The destination folder. Control key and click to reveal the folder in Finder.")));
        }
        const bool sync = IsSyncSession(i);
        SetOrangeArrow(sync);
        source_->pickButton()->setToolTip(
            Str(sync ? GLS("Choose the first folder/file") : GLS("Choose the source folder/file")));
        dest_->pickButton()->setToolTip(Str(sync ? GLS("Choose the second folder/file")
                                                 : GLS("Choose the destination folder/file")));
    } else if (all) {
        for (PathArea* area : {source_, dest_}) {
            area->setPathText(Format(GLS("All Sessions"), doc.SessionCount()), false);
            area->setPathToolTip(Str(GLS("All the Sessions defined in the Session PopUpMenu")));
            area->setIcon(NamedIcon("icn_folder_gray"));
        }
        SetOrangeArrow(true);
    } else {
        // Neither a session nor "All": nothing to show.
        for (PathArea* area : {source_, dest_}) {
            area->setPathText({}, false);
            area->setPathToolTip({});
            area->setIcon(NamedIcon("icn_folder_gray"));
        }
        SetOrangeArrow(false);
    }
    if (real || all) SetMainButtonName(i);
    const bool pickable = real && !isRunning();
    for (PathArea* area : {source_, dest_}) {
        area->pickButton()->setEnabled(pickable);
        area->openButton()->setEnabled(pickable && !IsMultiSession(i));
    }
}

void ConsoleWindow::SetOrangeArrow(bool on) {
    // The window's own arrow (blue, one way) shows through when no orange one is set.
    arrow_->setPixmap(NamedIcon(on ? "icn_arrow_orange" : "icn_arrow_blue").pixmap(QSize(26, 26)));
    arrow_->setProperty("orange", on);
}

void ConsoleWindow::SetMainButtonName(std::int64_t i) {
    SetMainButtonTitle(app_.document().IsAllSessions(i), IsSyncSession(i));
}

void ConsoleWindow::SetMainButtonTitle(bool all, bool sync) {
    std::string title, tip;
    if (all) {
        title = GLS("Execute All");
        tip = GLS("Executes/Stops all the Sessions");
    } else if (sync) {
        title = GLS("Synchronize");
        tip = GLS("Starts/Stops the Synchronization");
    } else {
        title = GLS("Backup");
        tip = GLS("Starts/Stops the Backup");
    }
    mainButton_->setText(Str(title));
    mainButton_->setToolTip(Str(tip) + QStringLiteral("  (Ctrl+R, Esc)"));
    if (menus_.run != nullptr) menus_.run->setText(Str(title));
    mainButton_->setIcon(NamedIcon("icn_run"));
    mainButton_->setProperty("running", false);
    mainButton_->style()->polish(mainButton_);
}

void ConsoleWindow::SetOptionDrawerPanes(std::int64_t i) {
    const sessions::SessionDocument& doc = app_.document();
    const bool syncAndQuit = app_.preferences().mPrefDict.intAt("prefSyncAndQuit") != 0;
    const plist::Value* session = doc.GetSessionDict(i);
    if (IsRealSession(i) && session != nullptr) {
        const auto markers = OptionMarkers(*session);
        for (std::size_t o = 0; o < kOptionCount; ++o) {
            TurnIconOnTo(o, markers[o]);
            options_[o].button->setEnabled(true);
        }
    } else {
        bool someTimer = false;
        for (std::int64_t s = 0; s < doc.SessionCount(); ++s) {
            if (const plist::Value* each = doc.GetSessionDict(s)) {
                someTimer = someTimer || OptionMarkers(*each)[kTimerOption];
            }
        }
        for (std::size_t o = 0; o < kOptionCount; ++o) {
            TurnIconOnTo(o, o == kTimerOption && someTimer);
            options_[o].button->setEnabled(o == kTimerOption);
        }
    }
    QToolButton* timer = options_[kTimerOption].button;
    if (syncAndQuit) {
        TurnIconOnTo(kTimerOption, false);
        timer->setEnabled(false);
        timer->setToolTip(Str(GLS("Temporary off because of the SyncAndQuit")));
    } else {
        UpdateTimerToolTip();
    }
    SyncPanelActions();
}

void ConsoleWindow::TurnIconOnTo(std::size_t option, bool on) {
    options_[option].on = on;
    options_[option].marker->setVisible(on);
}

bool ConsoleWindow::optionMarker(std::size_t i) const { return options_[i].on; }

void ConsoleWindow::EnableDisableConsolePanes(bool enable) {
    const std::int64_t i = app_.document().mSessionIndex;
    sessionPopup_->setEnabled(enable);
    const bool real = IsRealSession(i);
    for (PathArea* area : {source_, dest_}) {
        area->pickButton()->setEnabled(real && enable);
        area->openButton()->setEnabled(real && enable && !IsMultiSession(i));
    }
    consoleButton_->setEnabled(enable);
    // A run works on what the panel wrote when it started: the panel waits until it ends.
    for (int p = kConsolePanel + 1; p < kPanelCount; ++p) panels_[p]->setEnabled(enable);
    if (!real) {
        for (auto& o : options_) o.button->setEnabled(false);
        SyncPanelActions();
        return;
    }
    for (auto& o : options_) o.button->setEnabled(enable);
    if (enable) SetOptionDrawerPanes(i);
    SyncPanelActions();
}

}  // namespace qv::ui
