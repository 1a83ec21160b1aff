// quorvel-gui: the desktop application. `--screenshot FILE.png [--session NAME] [--panel NAME]`
// renders the console without a display and saves it.

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "app/main_app.h"
#include "app/root_relaunch.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "ui/console_window.h"
#include "ui/log_window.h"
#include "ui/qt_text.h"
#include "ui/theme.h"

namespace {

bool WantsScreenshot(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0) return true;
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

}  // namespace

int main(int argc, char** argv) {
    const bool startedAsRoot = TakeArgument(argc, argv, qv::app::kSetUidRootArgument);
    const std::optional<std::string> sessionName = TakeSessionArgument(argc, argv);
    // A screenshot needs no display.
    if (WantsScreenshot(argc, argv) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationVersion(QStringLiteral(QV_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.quorvel.Quorvel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.quorvel.Quorvel.svg")));
    // The window decides when to quit: after a run has concluded and the files are written.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"), QStringLiteral("Render the console to a PNG file and quit."),
        QStringLiteral("FILE.png"));
    const QCommandLineOption theme(QStringLiteral("theme"),
                                   QStringLiteral("light, dark, or the desktop's (default)."),
                                   QStringLiteral("THEME"));
    const QCommandLineOption logFile(
        QStringLiteral("log"),
        QStringLiteral("Open the log window on a log file (with --screenshot: render it)."),
        QStringLiteral("FILE"));
    const QCommandLineOption panel(
        QStringLiteral("panel"),
        QStringLiteral("Show that page of the console: console, settings, timer, multi, filter, "
                       "exclude, conflicts, autoMountVolumes or appleScript."),
        QStringLiteral("NAME"));
    parser.addOptions({screenshot, theme, logFile, panel});
    parser.setApplicationDescription(
        QStringLiteral("Back up and synchronize pairs of folders.\n"
                       "--session NAME  Show the session of that name."));
    parser.process(qapp);

    qv::ui::ApplyTheme(qapp, qv::ui::ChooseTheme(parser.value(theme)));

    qv::app::MainApp app(qv::app::DefaultResourcesFolder());
    const qv::app::StartupResult started = app.Start();
    if (!started.ok) {
        if (parser.isSet(screenshot)) {
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

    qv::ui::ConsoleWindow window(app);
    QObject::connect(&window, &qv::ui::ConsoleWindow::terminated, &qapp, &QApplication::quit,
                     Qt::QueuedConnection);
    window.SetDocumentSessions();
    if (sessionName) {
        const std::int64_t index = app.document().FindSessionIndex(*sessionName);
        if (index < 0) {
            std::cerr << "quorvel-gui: no session named \"" << *sessionName << "\"\n";
            return 2;
        }
        window.ChooseSession(static_cast<int>(index));
        window.sessionPopup()->setCurrentIndex(static_cast<int>(index));
    }

    if (parser.isSet(panel)) {
        const std::string name = parser.value(panel).toStdString();
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

    qv::ui::LogWindow* log = nullptr;
    if (parser.isSet(logFile)) {
        window.WindowOpenLog();
        log = window.logWindow();
        if (!log->FillLogWindow(qv::ui::PathBytes(parser.value(logFile)), {})) {
            std::cerr << "quorvel-gui: cannot read " << parser.value(logFile).toStdString() << "\n";
            return 1;
        }
        log->LogFindError(false);
    }
    if (parser.isSet(screenshot)) {
        window.show();
        if (log != nullptr) log->show();
        QApplication::processEvents();
        QWidget* shown = log != nullptr ? static_cast<QWidget*>(log) : &window;
        if (!shown->grab().save(parser.value(screenshot), "PNG")) {
            std::cerr << "quorvel-gui: cannot write " << parser.value(screenshot).toStdString()
                      << "\n";
            return 1;
        }
        return 0;
    }
    window.show();
    if (log != nullptr) {
        log->show();
        log->raise();
    }
    return QApplication::exec();
}
