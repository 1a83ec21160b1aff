// quorvel-gui: the desktop application. `--screenshot FILE.png [--session NAME] [--panel NAME]`
// renders the console without a display and saves it.

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QSessionManager>
#include <QSettings>
#include <QSocketNotifier>
#include <QTreeView>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/main_app.h"
#include "app/root_relaunch.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "platform/run_lock.h"
#include "platform/system_log.h"
#include "platform/termination_signals.h"
#include "platform/version.h"
#include "sessions/session_commands.h"
#include "ui/about_window.h"
#include "ui/console_window.h"
#include "ui/document_commands.h"
#include "ui/error_alert.h"
#include "ui/log_window.h"
#include "ui/preferences_window.h"
#include "ui/preview_window.h"
#include "ui/qt_text.h"
#include "ui/run_as_root.h"
#include "ui/scheduling_window.h"
#include "ui/session_name_sheet.h"
#include "ui/settings_files_watch.h"
#include "ui/shortcuts_window.h"
#include "ui/single_instance.h"
#include "ui/sort_sessions_window.h"
#include "ui/theme.h"
#include "ui/versions_window.h"

namespace {

// A screenshot, the help and the version need no display: they work over ssh and in scripts.
bool NeedsNoDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--screenshot" || a == "--help" || a == "-h" || a == "--help-all" ||
            a == "--version" || a == "-v") {
            return true;
        }
    }
    return false;
}

// Given by the instance that started this one as root; taken out before Qt sees argv.
bool TakeArgument(int& argc, char** argv, const char* wanted) {
    int kept = 1;
    bool found = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) {
            found = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return found;
}

// Qt takes "--session" for desktop session management: ours is taken out of argv first.
std::optional<std::string> TakeSessionArgument(int& argc, char** argv) {
    std::optional<std::string> name;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--session") == 0 && i + 1 < argc) {
            name = argv[++i];
        } else if (std::strncmp(argv[i], "--session=", 10) == 0) {
            name = argv[i] + 10;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return name;
}

qv::run::PlanItem DemoItem(const char* name, int mode, std::vector<qv::run::PlanItem> items = {}) {
    qv::run::PlanItem item;
    item.name = name;
    item.copyMode = mode;
    item.isFolder = !items.empty();
    item.subItems = std::move(items);
    return item;
}

template <typename... T>
std::vector<qv::run::PlanItem> DemoItems(T&&... items) {
    std::vector<qv::run::PlanItem> v;
    (v.push_back(std::move(items)), ...);
    return v;
}

// The plan the preview's picture shows, between the current session's two folders: copies, a
// replacement, a folder to delete, an attribute copy and one item skipped.
qv::run::RunState& DemoPlan(qv::app::MainApp& app) {
    static qv::run::RunState state;
    qv::run::TaskRoot root;
    const auto& doc = app.document();
    const qv::plist::Value* session = doc.GetSessionDict(doc.mSessionIndex);
    const qv::plist::Value* console = session ? session->dictAt("consoleDict") : nullptr;
    root.source = console ? console->stringAt("topFolder") : "";
    root.dest = console ? console->stringAt("bottomFolder") : "";
    if (root.source.empty()) root.source = "/home/you/Documents/Projects";
    if (root.dest.empty()) root.dest = "/home/you/Backups/Projects";
    root.subItems.push_back(
        DemoItem("Chapters", 1,
                 DemoItems(DemoItem("chapter-1.txt", 4), DemoItem("chapter-2.txt", 2),
                           DemoItem("chapter-3.txt", -2))));
    root.subItems.push_back(
        DemoItem("Figures", 2, DemoItems(DemoItem("diagram.svg", 2), DemoItem("plot.svg", 2))));
    root.subItems.push_back(DemoItem("Old drafts", 7, DemoItems(DemoItem("outline.txt", 7))));
    root.subItems.push_back(DemoItem("notes.md", 8));
    root.subItems.push_back(DemoItem("README.txt", 2));
    state.plan.taskRootList.push_back(std::move(root));
    state.plan.exactIndexAdditionLists.emplace_back();
    state.totals.categories.gFoldersToDescend = 2;
    state.totals.categories.gItemsAtoB = 6;
    state.totals.categories.gItemsToDelete = 2;
    state.totals.categories.gItemsAttrAtoB = 1;
    state.totals.gItemsSkipped = 1;
    state.totals.gItemsToDoTotal = 9;
    state.totals.bytesToDoTotal = 48213;
    return state;
}

// For the pictures of the documentation: opens a menu or a dialog of the window.
QWidget* ShowForScreenshot(qv::app::MainApp& app, qv::ui::ConsoleWindow& window,
                           const QString& what) {
    if (what.startsWith(QStringLiteral("menu:"))) {
        const QString title = what.mid(5);
        for (QAction* top : window.menuBar()->actions()) {
            QMenu* menu = top->menu();
            if (menu == nullptr || top->text().remove(QLatin1Char('&')) != title) continue;
            emit menu->aboutToShow();
            const QRect at = window.menuBar()->actionGeometry(top);
            menu->popup(window.menuBar()->mapToGlobal(at.bottomLeft()));
            window.menuBar()->setActiveAction(top);
            QApplication::processEvents();
            return menu;
        }
        return nullptr;
    }
    if (what == QStringLiteral("running")) {
        // A copy a third of the way through a large file.
        qv::app::ProgressFigures f;
        f.itemsTotal = 346;
        f.itemsDone = 121;
        f.bytesTotal = std::uint64_t{1536} << 20;
        f.bytesDone = std::uint64_t{517} << 20;
        f.bytesPerSecond = 48.6 * (1 << 20);
        f.secondsLeft = 21;
        const auto* console = app.document().GetSessionDict(app.document().mSessionIndex);
        const qv::plist::Value* folders = console ? console->dictAt("consoleDict") : nullptr;
        const std::string a = folders ? folders->stringAt("topFolder") : "/home/you/Videos";
        const std::string b = folders ? folders->stringAt("bottomFolder") : "/media/backup/Videos";
        f.item = {qv::run::kModeCopyAtoB, a + "/holiday-2026.mkv", b + "/holiday-2026.mkv", ""};
        f.itemBytes = std::uint64_t{700} << 20;
        f.itemBytesDone = std::uint64_t{230} << 20;
        window.setInfoDrawerOpen(true);
        window.ShowRunForPicture(f);
        QApplication::processEvents();
        return &window;
    }
    if (what == QStringLiteral("scheduling")) {
        window.WindowOpenScheduling();
        QWidget* scheduling = window.schedulingWindow();
        QApplication::processEvents();
        return scheduling;
    }
    if (what == QStringLiteral("versions")) {
        // The session's versions, the newest of the first item selected.
        window.WindowOpenVersions();
        qv::ui::VersionsWindow* versions = window.versionsWindow();
        if (versions == nullptr) return nullptr;
        while (versions->isBusy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!versions->versions().empty()) {
            const qv::fileops::VersionInfo& first = versions->versions().front();
            versions->SelectVersion(first.relativePath, first.stamp);
        }
        QApplication::processEvents();
        return versions;
    }
    QDialog* dialog = nullptr;
    if (what == QStringLiteral("shortcuts")) {
        dialog = new qv::ui::ShortcutsWindow(window.menuActions(), &window);
    } else if (what == QStringLiteral("about")) {
        dialog = new qv::ui::AboutWindow(&window);
    } else if (what == QStringLiteral("preferences")) {
        dialog = new qv::ui::PreferencesWindow(app, &window);
    } else if (what == QStringLiteral("new-session")) {
        dialog = new qv::ui::SessionNameSheet(app.document(),
                                              qv::sessions::ProposedNewSessionName(app.document()),
                                              std::nullopt, &window);
    } else if (what == QStringLiteral("sort-sessions")) {
        dialog = new qv::ui::SortSessionsWindow(app.document(), &window);
    } else if (what == QStringLiteral("preview")) {
        qv::ui::PreviewSettings settings;
        settings.expanded = true;
        settings.describe = [](const std::string& path) {
            return qv::app::MainApp::DescribePreviewSide(path);
        };
        auto* preview = new qv::ui::PreviewWindow(DemoPlan(app), settings, &window);
        preview->resize(900, 560);
        preview->show();
        while (preview->expanding()) QApplication::processEvents();
        preview->SearchNextOrPreviousItem(2, false);
        dialog = preview;
    } else if (what == QStringLiteral("preview-menu")) {
        // The preview with the right-click menu of its selected row, as one picture.
        QWidget* preview = ShowForScreenshot(app, window, QStringLiteral("preview"));
        auto* outline = static_cast<qv::ui::PreviewWindow*>(preview)->outline();
        const QRect row = outline->visualRect(outline->currentIndex());
        static_cast<qv::ui::PreviewWindow*>(preview)->ShowRowMenu(row.center() + QPoint(60, 0));
        QApplication::processEvents();
        QMenu* menu = static_cast<qv::ui::PreviewWindow*>(preview)->rowMenu();
        QImage picture = preview->grab().toImage();
        QPainter painter(&picture);
        painter.drawImage(preview->mapFromGlobal(menu->mapToGlobal(QPoint(0, 0))),
                          menu->grab().toImage());
        painter.end();
        menu->close();
        preview->hide();
        auto* shown = new QLabel(&window, Qt::Window);
        shown->setPixmap(QPixmap::fromImage(picture));
        shown->resize(picture.size());
        dialog = nullptr;
        shown->show();
        QApplication::processEvents();
        return shown;
    }
    if (dialog == nullptr) return nullptr;
    dialog->show();
    QApplication::processEvents();
    return dialog;
}

// The window's picture with a popup (a menu, a dialog) drawn where it stands over it; a dialog
// larger than the window gets room around it.
QImage WithPopup(QWidget& window, QWidget* popup) {
    const QImage under = window.grab().toImage();
    const QImage over = popup->grab().toImage();
    QPoint at = window.mapFromGlobal(popup->mapToGlobal(QPoint(0, 0)));
    if (qobject_cast<QMenu*>(popup) == nullptr) {
        at = QPoint((under.width() - over.width()) / 2, 40);
    }
    QRect bounds = under.rect().united(QRect(at, over.size()));
    QImage picture(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(window.palette().color(QPalette::Window).darker(115));
    QPainter painter(&picture);
    painter.drawImage(-bounds.topLeft(), under);
    painter.drawImage(at - bounds.topLeft(), over);
    painter.setPen(window.palette().color(QPalette::Mid));
    painter.drawRect(QRect(at - bounds.topLeft(), over.size()).adjusted(0, 0, -1, -1));
    return picture;
}

// The window program's options.
struct GuiOptions {
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Render the console to a PNG file and quit."),
                                  QStringLiteral("FILE.png")};
    QCommandLineOption theme{QStringLiteral("theme"),
                             QStringLiteral("light, dark, or the desktop's (default)."),
                             QStringLiteral("THEME")};
    QCommandLineOption logFile{
        QStringLiteral("log"),
        QStringLiteral("Open the log window on a log file (with --screenshot: render it)."),
        QStringLiteral("FILE")};
    QCommandLineOption panel{
        QStringLiteral("panel"),
        QStringLiteral("Show that page of the console: console, settings, timer, multi, filter, "
                       "exclude, conflicts, autoMountVolumes or appleScript."),
        QStringLiteral("NAME")};
    QCommandLineOption show{
        QStringLiteral("show"),
        QStringLiteral(
            "With --screenshot: draw the window with a menu open (menu:File, "
            "menu:Session, ...) or a dialog over it (preferences, new-session, "
            "sort-sessions, about, shortcuts, preview, preview-menu), the scheduling window "
            "(scheduling), the versions window (versions) or the console during a copy "
            "(running)."),
        QStringLiteral("WHAT")};

    QCommandLineOption syncAndQuit{
        QStringLiteral("sync-and-quit"),
        QStringLiteral("After a countdown of 10 seconds that the main button cancels, run the "
                       "current session (or all) unattended and quit when it ends without Stop. "
                       "So does a start without a document while the Sync and Quit preference "
                       "is on.")};
    QCommandLineOption syncAndLogout{
        QStringLiteral("sync-and-logout"),
        QStringLiteral("The same, for a run before the desktop session ends: its log says so.")};

    void AddTo(QCommandLineParser& parser) const {
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({screenshot, theme, logFile, panel, show, syncAndQuit, syncAndLogout});
        parser.addPositionalArgument(QStringLiteral("FILE.qvd"),
                                     QStringLiteral("A session document to open."),
                                     QStringLiteral("[FILE.qvd]"));
        parser.setApplicationDescription(
            QStringLiteral("Back up and synchronize pairs of folders.\n"
                           "--session NAME  Show the session of that name."));
    }
};

void SetUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationVersion(QLatin1String(qv::platform::kShortVersion));
    QApplication::setDesktopFileName(QStringLiteral("app.quorvel.Quorvel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.quorvel.Quorvel.svg")));
    // The window decides when to quit: after a run has concluded and the files are written.
    QApplication::setQuitOnLastWindowClosed(false);
}

// The session, the panel and the log the command line names; an exit status when one of them
// cannot be shown, 0 otherwise.
int ShowWhatWasNamed(qv::app::MainApp& app, qv::ui::ConsoleWindow& window,
                     const QCommandLineParser& parser, const GuiOptions& options,
                     const std::optional<std::string>& sessionName, qv::ui::LogWindow*& log) {
    if (sessionName) {
        const std::int64_t index = app.document().FindSessionIndex(*sessionName);
        if (index < 0) {
            std::cerr << "quorvel-gui: no session named \"" << *sessionName << "\"\n";
            return 2;
        }
        window.ChooseSession(static_cast<int>(index));
        window.sessionPopup()->setCurrentIndex(static_cast<int>(index));
    }
    if (parser.isSet(options.panel)) {
        const std::string name = parser.value(options.panel).toStdString();
        const int number = qv::ui::ConsoleWindow::PanelNumber(name);
        if (number < 0) {
            std::cerr << "quorvel-gui: no panel named \"" << name << "\"\n";
            return 2;
        }
        window.ChooseGoPanel(number);
        if (window.currentPanel() != name) {
            std::cerr << "quorvel-gui: the panel \"" << name
                      << "\" is not offered for this session\n";
            return 2;
        }
    }
    if (parser.isSet(options.logFile)) {
        window.WindowOpenLog();
        log = window.logWindow();
        if (!log->FillLogWindow(qv::ui::PathBytes(parser.value(options.logFile)), {})) {
            std::cerr << "quorvel-gui: cannot read " << parser.value(options.logFile).toStdString()
                      << "\n";
            return 1;
        }
        log->LogFindError(false);
    }
    return 0;
}

// --screenshot: the window (or the log window, or what --show names over the window) as a PNG.
int SaveScreenshot(qv::app::MainApp& app, qv::ui::ConsoleWindow& window,
                   const QCommandLineParser& parser, const GuiOptions& options,
                   qv::ui::LogWindow* log) {
    window.show();
    if (log != nullptr) log->show();
    QApplication::processEvents();
    QWidget* shown = log != nullptr ? static_cast<QWidget*>(log) : &window;
    QImage picture = shown->grab().toImage();
    if (parser.isSet(options.show)) {
        QWidget* over = ShowForScreenshot(app, window, parser.value(options.show));
        if (over == nullptr) {
            std::cerr << "quorvel-gui: nothing to show named \""
                      << parser.value(options.show).toStdString() << "\"\n";
            return 2;
        }
        // The window itself in another state (a run), or something drawn over it.
        picture = over == &window ? window.grab().toImage() : WithPopup(window, over);
    }
    if (!picture.save(parser.value(options.screenshot), "PNG")) {
        std::cerr << "quorvel-gui: cannot write " << parser.value(options.screenshot).toStdString()
                  << "\n";
        return 1;
    }
    return 0;
}

// Another instance's document, a termination signal, the end of the desktop session.
void ListenToTheDesktop(QApplication& qapp, qv::app::MainApp& app, qv::ui::ConsoleWindow& window,
                        qv::ui::SingleInstance& instance) {
    QObject::connect(&instance, &qv::ui::SingleInstance::openRequested, &window,
                     [&window](const std::string& path) {
                         qv::ui::BringForward(window);
                         if (!path.empty()) window.documents().OpenFile(path);
                     });
    const int signalFd = qv::platform::TerminationSignalDescriptor();
    if (signalFd >= 0) {
        auto* notifier = new QSocketNotifier(signalFd, QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
            qv::platform::TakeTerminationSignal();
            window.TerminateNow();
        });
    }
    QObject::connect(&qapp, &QGuiApplication::commitDataRequest, &window,
                     [&app, &window](QSessionManager&) {
                         // The desktop session ends: a run stops, and its log says the user quit.
                         if (window.isRunning()) window.TerminateNow();
                         for (const std::string& problem : app.WriteTemplateAndPreferences()) {
                             qv::platform::SystemLog(problem);
                         }
                     });
}

// The windows the console does not own: preferences (and running as root), About, keys.
void ConnectOtherWindows(qv::app::MainApp& app, qv::ui::ConsoleWindow& window,
                         qv::ui::RunAsRootController& root) {
    QObject::connect(&window, &qv::ui::ConsoleWindow::preferencesRequested, &window,
                     [&app, &window, &root] {
                         if (!window.GetCurrentPanel()) return;
                         auto* prefs = new qv::ui::PreferencesWindow(app, &window);
                         prefs->setAttribute(Qt::WA_DeleteOnClose);
                         QObject::connect(prefs, &qv::ui::PreferencesWindow::runAsRootChanged,
                                          &root, &qv::ui::RunAsRootController::PrefRunAsRoot);
                         prefs->open();
                     });
    QObject::connect(&root, &qv::ui::RunAsRootController::saveRequested, &window,
                     [&window] { window.WriteSettingsFiles(); });
    QObject::connect(&root, &qv::ui::RunAsRootController::quitRequested, &window,
                     [&window](bool writeFiles) {
                         if (writeFiles) {
                             window.RequestQuit();
                         } else {
                             window.QuitWithoutWriting();
                         }
                     });
    QObject::connect(&window, &qv::ui::ConsoleWindow::aboutRequested, &window, [&window] {
        auto* about = new qv::ui::AboutWindow(&window);
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->open();
    });
    QObject::connect(&window, &qv::ui::ConsoleWindow::shortcutsRequested, &window, [&window] {
        auto* keys = new qv::ui::ShortcutsWindow(window.menuActions(), &window);
        keys->setAttribute(Qt::WA_DeleteOnClose);
        keys->open();
    });
}

// The template and the preferences as other programs change them.
void FollowSettingsFiles(qv::ui::ConsoleWindow& window, qv::ui::SettingsFilesWatch& watch) {
    QObject::connect(&window, &qv::ui::ConsoleWindow::readyForReload, &watch,
                     &qv::ui::SettingsFilesWatch::Retry);
    QObject::connect(&watch, &qv::ui::SettingsFilesWatch::reloaded, &window,
                     [&window](const qv::app::SettingsFilesReload& what) {
                         if (what.templateReloaded) window.SetDocumentSessions();
                         for (const std::string& problem : what.problems) {
                             qv::ui::ShowNotice(&window, problem);
                         }
                     });
}

// The console comes back where the user left it (the desktop's own settings file, beside the
// preferences: window frames are no preference of the user's).
void KeepWindowFrame(qv::ui::ConsoleWindow& window, QSettings& frames) {
    window.restoreGeometry(frames.value(QStringLiteral("ConsoleWindowFrame")).toByteArray());
    QObject::connect(&window, &qv::ui::ConsoleWindow::terminated, &window, [&frames, &window] {
        frames.setValue(QStringLiteral("ConsoleWindowFrame"), window.saveGeometry());
        frames.sync();
        qv::platform::GiveCreatedItem(qv::ui::PathBytes(frames.fileName()));  // as root: theirs
    });
}

// The sync-and-quit countdown: asked for, or the preference at a start that names no document (a
// login's autostart). Never over another document than the one named.
void StartSyncAndQuitWhenAsked(qv::app::MainApp& app, qv::ui::ConsoleWindow& window,
                               const QCommandLineParser& parser, const GuiOptions& options,
                               const std::string& documentToOpen) {
    const bool asked = parser.isSet(options.syncAndQuit) || parser.isSet(options.syncAndLogout);
    const bool prefSyncAndQuit = app.preferences().mPrefDict.intAt("prefSyncAndQuit") != 0;
    // Opening a log to read is no start of the application's own.
    if (!asked && !(prefSyncAndQuit && documentToOpen.empty() && !parser.isSet(options.logFile))) {
        return;
    }
    if (!documentToOpen.empty() && app.document().pathDocumentFile != documentToOpen) {
        std::cerr << "quorvel-gui: the document was not opened: Sync and Quit is not started\n";
        return;
    }
    window.PrepareToExecuteSyncAndQuit(parser.isSet(options.syncAndLogout)
                                           ? qv::run::kExecutedBySyncAndLogout
                                           : qv::run::kExecutedBySyncAndQuit);
}

}  // namespace

int main(int argc, char** argv) {
    const bool startedAsRoot = TakeArgument(argc, argv, qv::app::kSetUidRootArgument);
    const std::optional<std::string> sessionName = TakeSessionArgument(argc, argv);
    // Without a display the arguments are still read (and refused) offscreen; a window that
    // cannot be shown is then refused with a message rather than an abort in the toolkit.
    const bool noDisplay = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
                           qEnvironmentVariableIsEmpty("DISPLAY") &&
                           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if ((NeedsNoDisplay(argc, argv) || noDisplay) &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication qapp(argc, argv);
    SetUpApplication();
    QCommandLineParser parser;
    const GuiOptions options;
    options.AddTo(parser);
    parser.process(qapp);

    qv::ui::ApplyTheme(qapp, qv::ui::ChooseTheme(parser.value(options.theme)));

    const bool rendering = parser.isSet(options.screenshot);
    if (parser.isSet(options.syncAndQuit) && parser.isSet(options.syncAndLogout)) {
        std::cerr << "quorvel-gui: --sync-and-quit and --sync-and-logout exclude each other\n";
        return 2;
    }
    if (noDisplay && !rendering) {
        std::cerr << "quorvel-gui: no display to show the window on (DISPLAY and "
                     "WAYLAND_DISPLAY are not set); quorvel is the command for a terminal\n";
        return 1;
    }
    // A document named on the command line, made absolute while the working folder is known.
    std::string documentToOpen;
    if (!parser.positionalArguments().isEmpty()) {
        documentToOpen =
            qv::ui::PathBytes(QFileInfo(parser.positionalArguments().front()).absoluteFilePath());
    }

    qv::app::MainApp app(qv::app::DefaultResourcesFolder());
    const qv::app::StartupResult started = app.Start();
    if (!started.ok) {
        if (rendering) {
            std::cerr << "quorvel-gui: " << started.alert << "\n";
        } else {
            QMessageBox::warning(nullptr, qv::ui::Str(qv::platform::GLS("Warning:")),
                                 qv::ui::Lines(started.alert));
        }
        return 1;
    }
    // The instance that started this one quits on this line.
    if (startedAsRoot && qv::platform::RunningAsRoot()) {
        qv::platform::AnnounceOnStandardOutput(qv::app::kRootReadyLine);
    }

    // One window per user: a second start hands its document to the first and ends.
    qv::ui::SingleInstance instance(qv::platform::RuntimeFolder(app.paths()));
    // Started as root by the window it replaces: that one ends now and releases the lock.
    constexpr int kRelaunchWaitMilliseconds = 10000;
    const bool syncAndQuitAsked =
        parser.isSet(options.syncAndQuit) || parser.isSet(options.syncAndLogout);
    if (!rendering && !instance.BecomeFirst(startedAsRoot ? kRelaunchWaitMilliseconds : 0)) {
        if (syncAndQuitAsked) {
            // The window that runs has its own run to look after: nothing is run here.
            std::cerr << "quorvel-gui: another Quorvel window is running: Sync and Quit is not "
                         "started\n";
            return 1;
        }
        if (instance.HandOver(documentToOpen)) return 0;
        std::cerr << "quorvel-gui: another Quorvel window is running and does not answer\n";
        return 1;
    }
    if (!rendering) qv::platform::SystemLog(qv::app::MainApp::LaunchLine("quorvel-gui"));

    qv::ui::ConsoleWindow window(app);
    QObject::connect(&window, &qv::ui::ConsoleWindow::terminated, &qapp, &QApplication::quit,
                     Qt::QueuedConnection);
    window.SetDocumentSessions();
    qv::ui::LogWindow* log = nullptr;
    if (const int status = ShowWhatWasNamed(app, window, parser, options, sessionName, log)) {
        return status;
    }
    if (rendering) return SaveScreenshot(app, window, parser, options, log);
    window.show();
    if (log != nullptr) {
        log->show();
        log->raise();
    }
    for (const std::string& notice : started.notices) qv::ui::ShowNotice(&window, notice);

    ListenToTheDesktop(qapp, app, window, instance);
    qv::ui::SettingsFilesWatch watch(
        app,
        [&window] {
            return !window.isRunning() && window.currentPanel() == "console" &&
                   QApplication::activeModalWidget() == nullptr;
        },
        &window);
    FollowSettingsFiles(window, watch);
    QSettings frames(
        qv::ui::Path(qv::platform::JoinPath(app.paths().pathFolderPref, "windows.ini")),
        QSettings::IniFormat);
    KeepWindowFrame(window, frames);
    qv::ui::RunAsRootController root(app, &window);
    ConnectOtherWindows(app, window, root);

    // The template is on disk from the start, for the command and other windows to see.
    window.DocumentChanged();
    if (!documentToOpen.empty()) window.documents().OpenFile(documentToOpen);
    StartSyncAndQuitWhenAsked(app, window, parser, options, documentToOpen);
    return QApplication::exec();
}
