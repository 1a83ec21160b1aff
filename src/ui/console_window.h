#pragma once
// The console: the application's main window. It shows one session (or all of them) with its
// two folders, the task button and the option buttons, runs the session, and shows the run's
// progress, its information drawer and its final report.

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/end_of_run.h"
#include "app/main_app.h"
#include "app/progress_meter.h"
#include "sessions/session_commands.h"
#include "ui/option_markers.h"

class QAction;
class QComboBox;
class QStackedWidget;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
class QFrame;
class QMessageBox;
class QDialog;
class QMenu;

namespace qv::ui {

class DocumentCommands;
class LogWindow;
class OptionPanel;
class InfoDrawer;
class PathArea;
class RunController;
class SchedulingWindow;
class VersionsWindow;
class WindowScheduler;

// The entries of the session pop-up menu after the sessions: a separator, then "All Sessions".
inline constexpr int kTagSession = 0;
inline constexpr int kTagAllSessions = 1;
inline constexpr int kTagNewSession = 2;
inline constexpr int kTagDuplicateSession = 3;
inline constexpr int kTagRenameSession = 4;
inline constexpr int kTagRemoveSession = 5;
inline constexpr int kTagSortSessions = 6;

// The pages of the console by number: 0 (and 9) the console, 1 to 8 the options in the order
// of OptionButtons(). The option buttons carry the number; the menu entries carry it plus 39.
inline constexpr int kConsolePanel = 0;
inline constexpr int kPanelCount = 1 + static_cast<int>(kOptionCount);
inline constexpr int kMenuPanelTagOffset = 39;

class ConsoleWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit ConsoleWindow(app::MainApp& app, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    // Shows the document just loaded: its sessions in the pop-up and its current session.
    void SetDocumentSessions();
    void SetSessionsPopUpMenu();
    // The pop-up's entry at `entry` was chosen.
    void ChooseSession(int entry);
    // The pop-up's entry of that tag (New, Duplicate, ..., Sort); -1 when there is none.
    int sessionEntry(int tag) const;
    // The name sheet, removal question or sort window a session command has open, and the
    // alert of a refused one.
    QDialog* sessionDialog() const { return sheets_.sessionDialog; }
    QMessageBox* sessionAlert() const { return sheets_.sessionAlert; }

    void SetConsolePanes(std::int64_t index);
    void SetOptionDrawerPanes(std::int64_t index);
    void SetMainButtonName(std::int64_t index);
    void SetMainButtonTitle(bool all, bool sync);
    void EnableDisableConsolePanes(bool enable);
    std::string GetEmptyTopBottomString(bool source) const;
    void SetPickedFolder(const std::string& path, bool source);
    // After the window changed the sessions: the template, when it is the open document, is
    // written at once (other programs may change it too; see SettingsFilesWatch).
    void DocumentChanged();

    // Panels. GoPanel shows the page of that identifier ("console", "settings", ...) with the
    // current session; GetCurrentPanel writes the page on screen back into the session and is
    // false, with the page's message on screen, when the page refuses to be left;
    // ChooseGoPanel is the buttons' and the menu's way there (see kMenuPanelTagOffset).
    void GoPanel(const std::string& tab);
    bool GetCurrentPanel();
    void ChooseGoPanel(int tag);
    // The number of a page identifier, or -1.
    static int PanelNumber(const std::string& tab);
    const std::string& currentPanel() const;
    OptionPanel* panel(const std::string& tab) const;
    QToolButton* consoleButton() const { return consoleButton_; }
    QAction* panelAction(int number) const { return menus_.panelActions[number]; }
    // Whether the session pop-up offers "All Sessions" (not while an option panel is shown).
    bool sessionPopupOffersAll() const;
    // The message of a page that refused to be left, while shown.
    QMessageBox* panelAlert() const { return sheets_.panelAlert; }

    // The main button: starts a run, or stops the one going on.
    void TaskExecuteSyncOrBackup();
    // The alert of a run refused because another one holds the run lock, while shown.
    QMessageBox* refusal() const { return sheets_.refusal; }
    // Quit: during a run asks first, stops it and quits once it has concluded.
    void RequestQuit();

    // Sync and quit: a countdown of 10 seconds that the main button cancels, then a run of the
    // current session (or of all) that nobody attends, and the application quits when it ends
    // without Stop. executedBy: run::kExecutedBySyncAndQuit or run::kExecutedBySyncAndLogout.
    void PrepareToExecuteSyncAndQuit(int executedBy);
    void ExecuteSyncAndQuit();  // the countdown's tick, every second
    void StopSyncAndQuit();
    bool isStartingSyncAndQuit() const { return syncAndQuit_.starting(); }
    bool isExecutingSyncAndQuit() const { return syncAndQuit_.executing(); }
    // Who is asked to power the machine off after a run (tests put a fake in its place).
    void setLoginManager(platform::LoginManager& login) { login_ = &login; }
    // The alert of a shut-down refused, or of a sync-and-quit that did not quit, while shown.
    QMessageBox* endOfRunAlert() const { return sheets_.endOfRun; }
    bool isRunning() const;
    // The log button and menu entry: brings the log window to the front, or fills it with the
    // last run's log and shows it.
    void WindowOpenLog();
    LogWindow* logWindow() const { return logWindow_; }
    // The scheduling window: shown, or brought to the front; and how it opens an entry's log.
    void WindowOpenScheduling();
    void OpenLogWithFileFromScheduling(const std::string& path);
    SchedulingWindow* schedulingWindow() const { return schedulingWindow_; }
    // File > Restore…: the versions window over the current session, or over the session whose
    // folders hold `path`, limited to it (every item of the current session when none does).
    void WindowOpenVersions(const std::string& path = {});
    VersionsWindow* versionsWindow() const;

    // For tests and the screenshot.
    QComboBox* sessionPopup() const { return sessionPopup_; }
    PathArea* sourceArea() const { return source_; }
    PathArea* destArea() const { return dest_; }
    QPushButton* mainButton() const { return mainButton_; }
    QToolButton* optionButton(std::size_t i) const { return options_[i].button; }
    bool optionMarker(std::size_t i) const;
    QLabel* arrow() const { return arrow_; }
    QString commentText() const { return view_.commentText; }
    QProgressBar* progressBar() const { return view_.progress; }
    InfoDrawer* infoDrawer() const { return drawer_; }
    void setInfoDrawerOpen(bool open);
    QString infoDrawerText() const;
    // The clock the rate and the time left are measured with, in seconds from any origin.
    void setClock(std::function<double()> seconds) { view_.clock = std::move(seconds); }
    // What the refresh timer does: the progress bar and the drawer follow the run now.
    void RefreshProgress() { UpdateItemsToDoField(); }
    // For the pictures of the documentation: the window as during a copy with these figures.
    void ShowRunForPicture(const app::ProgressFigures& figures);
    RunController& runController() const { return *run_; }
    QMessageBox* quitQuestion() const { return sheets_.quitQuestion; }
    // The "Starting task:" confirmation while it is shown.
    QMessageBox* confirmation() const { return sheets_.confirmation; }

    // The File menu's commands and the save question.
    DocumentCommands& documents() const { return *documents_; }
    WindowScheduler& windowScheduler() const { return *scheduler_; }
    // The page shown while no document is open (after File > Close).
    void ShowDocumentClosed();
    bool isDocumentShown() const;
    // Ends the application without questions, writing the template and the preferences (a
    // termination signal, the desktop session ending). A run is stopped and concluded first.
    void TerminateNow();
    // Ends the application leaving the files as they are (they were written for the instance
    // that takes over, running as root).
    void QuitWithoutWriting();
    // Writes the template (the sessions on screen) and the preferences now.
    void WriteSettingsFiles();
    QMenu* fileMenu() const { return menus_.file; }
    QMenu* sessionMenu() const { return menus_.session; }
    QMenu* helpMenu() const { return menus_.help; }
    QAction* runAction() const { return menus_.run; }
    QAction* stopAction() const { return menus_.stop; }
    QAction* restoreAction() const { return menus_.restore; }
    // Every action of the menu bar with a shortcut, for the shortcuts window.
    QList<QAction*> menuActions() const;

  signals:
    // The template document and the preferences are written: the application may end.
    void terminated();
    // The user asked for a window the console does not own.
    void preferencesRequested();
    // A run ended or the console page came back: settings changed meanwhile may be read.
    void readyForReload();
    void aboutRequested();
    void shortcutsRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The comment line is cut to the width its label has once laid out.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct OptionWidgets {
        QToolButton* button = nullptr;
        QLabel* marker = nullptr;
        bool on = false;
    };

    void BuildWindow();
    // The session pop-up with the log and drawer buttons; the console page and the panels; the
    // option buttons with the main button.
    QLayout* BuildTopRow(QWidget* central);
    QWidget* BuildPageStack(QWidget* central);
    QLayout* BuildButtonRow(QWidget* central);
    void BuildPages(OptionPanel* consolePage);
    // The menu bar (console_menus.cpp).
    void BuildMenus();
    void BuildViewMenu(QMenu* view);
    void RebuildSessionMenu();
    void RebuildRecentMenu();
    void SyncMenus();
    // What the File and Task menus offer as a run starts and ends, menus open or not.
    void SyncRunActions();
    // The session commands (console_sessions.cpp).
    void SessionCommand(int tag);
    void SessionCommandDone(const sessions::SessionCommandResult& result);
    bool sessionEntryOffered(int entry) const;
    void AblePopMenuSession(bool enable, bool allItem);
    void GoPanelTimer();
    // The timer button's tooltip says when the next timer fires, or who fires them.
    void UpdateTimerToolTip();
    // The buttons of the page row light the page on screen.
    void SyncPanelButtons();
    void SyncPanelActions();
    bool IsRealSession(std::int64_t index) const;
    bool IsMultiSession(std::int64_t index) const;
    bool IsSyncSession(std::int64_t index) const;
    void SetPathname(const std::string& path, bool source);
    void SetOrangeArrow(bool on);
    void TaskPickFolder(bool source);
    void OpenFolderButton(bool source, Qt::KeyboardModifiers modifiers);
    void SetComment(const QStringList& lines);
    void TurnIconOnTo(std::size_t option, bool on);

    // Progress during a run.
    void StartRun();
    // Asks the run to stop and shows that the request was heard. quitting: the user quits the
    // application, and the run's log says so.
    void StopRun(bool quitting = false);
    // Says why a run does not start, once at a time.
    void Refuse(const QString& why);
    void RunStarted();
    void ScanProgress(qint64 itemsScanned, qint64 itemsToDo);
    void PreviewShowing();
    void CopyStarting(qint64 itemsToDo, double secondsBetweenRefreshes);
    void ToggleTimerUpdateField(bool on);
    void UpdateItemsToDoField();
    void ShowCopyProgress(const app::ProgressFigures& f);
    void UpdateInfoDrawer();
    void RunFinished();
    void SetReportOnConsole();
    // The beep and the desktop notice at the end of a run.
    void TellRunEnded();
    // After a run: shut the machine down, quit, or stay (console_sync_and_quit.cpp).
    void ActAfterRun();
    // Says, in an alert that waits for nobody, why the application did not do what it was set
    // to do at the end of a run.
    void TellEndOfRun(const std::string& why);
    void Terminate();
    // The log window, made on first use.
    LogWindow* TheLogWindow();

    app::MainApp& app_;
    RunController* run_ = nullptr;
    WindowScheduler* scheduler_ = nullptr;
    SchedulingWindow* schedulingWindow_ = nullptr;
    bool euidIsRoot_ = false;

    QComboBox* sessionPopup_ = nullptr;
    PathArea* source_ = nullptr;
    PathArea* dest_ = nullptr;
    QLabel* arrow_ = nullptr;
    QPushButton* mainButton_ = nullptr;
    QToolButton* drawerButton_ = nullptr;
    QToolButton* logButton_ = nullptr;
    LogWindow* logWindow_ = nullptr;
    std::array<OptionWidgets, kOptionCount> options_;
    QToolButton* consoleButton_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    std::array<OptionPanel*, kPanelCount> panels_{};
    bool allItemOffered_ = true;

    InfoDrawer* drawer_ = nullptr;

    int widthWithoutDrawer_ = 0;  // the window's width before the drawer widened it

    // The run as the console shows it: the comment line, the bar, and what they are reckoned
    // from.
    struct RunView {
        QLabel* comment = nullptr;
        QStringList commentLines;
        QString commentText;
        QProgressBar* progress = nullptr;
        QTimer* updateTimer = nullptr;
        std::int64_t itemsAtCopyStart = 0;
        int progressStepsPerItem = 1;  // the bar moves within an item as its content is copied
        std::function<double()> clock;
        double runStartedAt = 0;
        std::optional<app::ProgressModel> progressModel;
        std::optional<app::ProgressFigures> figures;  // the last sample of the copy
        bool copying = false;
        bool stopping = false;  // Stop was asked for and the run has not ended yet
    } view_;
    // The menus, and the actions whose state follows the console's.
    struct Menus {
        QMenu* file = nullptr;
        QMenu* recent = nullptr;
        QMenu* session = nullptr;
        QMenu* help = nullptr;
        QAction* run = nullptr;
        QAction* stop = nullptr;
        QAction* restore = nullptr;
        QList<QAction*> documentActions;  // need an open document
        std::array<QAction*, kPanelCount> panelActions{};
    } menus_;
    // The sheets open over the window, one of each kind at most.
    struct Sheets {
        QPointer<QMessageBox> panelAlert;
        QPointer<QDialog> sessionDialog;
        QPointer<QMessageBox> sessionAlert;
        QPointer<QMessageBox> quitQuestion;
        QPointer<QMessageBox> confirmation;
        QPointer<QMessageBox> refusal;
        QPointer<QMessageBox> endOfRun;
    } sheets_;
    app::SyncAndQuitCountdown syncAndQuit_;
    QTimer* syncAndQuitTimer_ = nullptr;
    platform::LoginManager* login_ = &platform::SystemLoginManager();

    DocumentCommands* documents_ = nullptr;
    OptionPanel* closedPage_ = nullptr;

    bool terminateAfterRun_ = false;
    bool terminated_ = false;
};

}  // namespace qv::ui
