// quorvel-gui: the desktop application. `--screenshot FILE.png [--session NAME]` renders the
// console without a display and saves it.

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstring>
#include <iostream>

#include "app/main_app.h"
#include "platform/localization.h"
#include "ui/console_window.h"
#include "ui/qt_text.h"
#include "ui/theme.h"

namespace {

bool WantsScreenshot(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
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
    parser.setApplicationDescription(QStringLiteral("Back up and synchronize pairs of folders."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"), QStringLiteral("Render the console to a PNG file and quit."),
        QStringLiteral("FILE.png"));
    const QCommandLineOption session(QStringLiteral("session"),
                                     QStringLiteral("Show the session of that name."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption theme(QStringLiteral("theme"),
                                   QStringLiteral("light, dark, or the desktop's (default)."),
                                   QStringLiteral("THEME"));
    parser.addOptions({screenshot, session, theme});
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

    qv::ui::ConsoleWindow window(app);
    QObject::connect(&window, &qv::ui::ConsoleWindow::terminated, &qapp, &QApplication::quit,
                     Qt::QueuedConnection);
    window.SetDocumentSessions();
    if (parser.isSet(session)) {
        const std::int64_t index =
            app.document().FindSessionIndex(parser.value(session).toStdString());
        if (index < 0) {
            std::cerr << "quorvel-gui: no session named \"" << parser.value(session).toStdString()
                      << "\"\n";
            return 2;
        }
        window.ChooseSession(static_cast<int>(index));
        window.sessionPopup()->setCurrentIndex(static_cast<int>(index));
    }

    if (parser.isSet(screenshot)) {
        window.show();
        QApplication::processEvents();
        if (!window.grab().save(parser.value(screenshot), "PNG")) {
            std::cerr << "quorvel-gui: cannot write " << parser.value(screenshot).toStdString()
                      << "\n";
            return 1;
        }
        return 0;
    }
    window.show();
    return QApplication::exec();
}
