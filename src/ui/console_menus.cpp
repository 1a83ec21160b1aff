// The console's menu bar: File, Session, Task, View and Help. Every command that has a key
// shows it in its menu; the menus offer what the window offers at that moment.

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>

#include "platform/localization.h"
#include "ui/console_window.h"
#include "ui/document_commands.h"
#include "ui/option_markers.h"
#include "ui/qt_text.h"
#include "ui/run_controller.h"

namespace qv::ui {

using platform::GLS;

namespace {

template <typename Slot>
QAction* AddCommand(QMenu* menu, const std::string& title, const QKeySequence& keys, QObject* to,
                    Slot slot) {
    QAction* action = menu->addAction(Str(title));
    if (!keys.isEmpty()) action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, to, slot);
    return action;
}

}  // namespace

void ConsoleWindow::BuildMenus() {
    QMenuBar* bar = menuBar();

    menus_.file = bar->addMenu(Str(GLS("&File")));
    DocumentCommands* d = documents_;
    AddCommand(menus_.file, GLS("New"), QKeySequence(Qt::CTRL | Qt::Key_N), d,
               [d] { d->FileNew(); });
    AddCommand(menus_.file, GLS("Open…"), QKeySequence(Qt::CTRL | Qt::Key_O), d,
               [d] { d->FileOpen(); });
    menus_.recent = menus_.file->addMenu(Str(GLS("Open Recent")));
    connect(d, &DocumentCommands::recentDocumentsChanged, this, &ConsoleWindow::RebuildRecentMenu);
    RebuildRecentMenu();
    menus_.file->addSeparator();
    menus_.documentActions = {
        AddCommand(menus_.file, GLS("Close"), QKeySequence(Qt::CTRL | Qt::Key_W), d,
                   [d] { d->FileClose(); }),
        AddCommand(menus_.file, GLS("Save"), QKeySequence(Qt::CTRL | Qt::Key_S), d,
                   [d] { d->FileSave(); }),
        AddCommand(menus_.file, GLS("Save As…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), d,
                   [d] { d->FileSaveAs(); }),
    };
    menus_.file->addSeparator();
    menus_.restore = AddCommand(menus_.file, GLS("Restore…"), QKeySequence(), this, [this] {
        if (!isRunning()) WindowOpenVersions();
    });
    menus_.file->addSeparator();
    AddCommand(menus_.file, GLS("Preferences…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), this,
               [this] {
                   if (!isRunning()) emit preferencesRequested();
               });
    menus_.file->addSeparator();
    AddCommand(menus_.file, GLS("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this,
               [this] { RequestQuit(); });

    menus_.session = bar->addMenu(Str(GLS("&Session")));

    QMenu* task = bar->addMenu(Str(GLS("&Task")));
    menus_.run =
        AddCommand(task, GLS("Synchronize"), QKeySequence(Qt::CTRL | Qt::Key_R), this, [this] {
            if (!isRunning() && !syncAndQuit_.starting() && isDocumentShown() &&
                mainButton_->isEnabled()) {
                TaskExecuteSyncOrBackup();
            }
        });
    menus_.stop =
        AddCommand(task, GLS("Stop"), QKeySequence(Qt::CTRL | Qt::Key_Period), this, [this] {
            if (syncAndQuit_.starting()) {
                StopSyncAndQuit();
            } else {
                StopRun();
            }
        });
    menus_.stop->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Period), QKeySequence(Qt::Key_Escape)});

    BuildViewMenu(bar->addMenu(Str(GLS("&View"))));

    menus_.help = bar->addMenu(Str(GLS("&Help")));
    AddCommand(menus_.help, GLS("Keyboard Shortcuts"), QKeySequence(Qt::Key_F1), this,
               [this] { emit shortcutsRequested(); });
    AddCommand(menus_.help, GLS("About Quorvel"), QKeySequence(), this,
               [this] { emit aboutRequested(); });

    // The menus follow the window: what it offers now, and the sessions of the document.
    for (QMenu* menu : {menus_.file, menus_.session, task}) {
        connect(menu, &QMenu::aboutToShow, this, &ConsoleWindow::SyncMenus);
    }
}

void ConsoleWindow::BuildViewMenu(QMenu* view) {
    for (int number = 0; number < kPanelCount; ++number) {
        const std::string title =
            number == kConsolePanel ? GLS("Console") : GLS(OptionButtons()[number - 1].title);
        const int tag = kMenuPanelTagOffset + number;
        QAction* action = AddCommand(
            view, title, QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + number)), this,
            [this, tag] { ChooseGoPanel(tag); });
        action->setData(tag);
        menus_.panelActions[number] = action;
        if (number == kConsolePanel) view->addSeparator();
    }
    view->addSeparator();
    AddCommand(view, GLS("Information"), QKeySequence(Qt::CTRL | Qt::Key_I), this,
               [this] { drawerButton_->toggle(); });
    AddCommand(view, GLS("Log Window"), QKeySequence(Qt::CTRL | Qt::Key_L), this,
               [this] { WindowOpenLog(); });
    AddCommand(view, GLS("Scheduling"), QKeySequence(), this, [this] {
        if (isDocumentShown()) WindowOpenScheduling();
    });
}

void ConsoleWindow::RebuildRecentMenu() {
    menus_.recent->clear();
    const std::vector<std::string>& paths = app_.recentDocuments().paths();
    for (const std::string& path : paths) {
        QAction* action =
            menus_.recent->addAction(Path(path).replace(QLatin1Char('&'), QStringLiteral("&&")));
        connect(action, &QAction::triggered, this, [this, path] { documents_->OpenFile(path); });
    }
    if (!paths.empty()) menus_.recent->addSeparator();
    QAction* clear = menus_.recent->addAction(Str(GLS("Clear Menu")), this, [this] {
        app_.recentDocuments().Clear();
        RebuildRecentMenu();
    });
    clear->setEnabled(!paths.empty());
}

void ConsoleWindow::RebuildSessionMenu() {
    menus_.session->clear();
    // The same entries as the pop-up, in the same order; choosing one is choosing it there.
    for (int entry = 0; entry < sessionPopup_->count(); ++entry) {
        const QString title = sessionPopup_->itemText(entry);
        if (title.isEmpty()) {
            menus_.session->addSeparator();
            continue;
        }
        QAction* action = menus_.session->addAction(
            QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")));
        const bool isSession = sessionPopup_->itemData(entry).toInt() == kTagSession ||
                               sessionPopup_->itemData(entry).toInt() == kTagAllSessions;
        action->setCheckable(isSession);
        action->setChecked(isSession && entry == sessionPopup_->currentIndex());
        connect(action, &QAction::triggered, this, [this, entry] {
            sessionPopup_->setCurrentIndex(entry);
            ChooseSession(entry);
        });
    }
}

void ConsoleWindow::SyncRunActions() {
    // The sync-and-quit countdown is as good as a run: Stop cancels it.
    const bool running = isRunning() || syncAndQuit_.starting();
    const bool open = isDocumentShown();
    for (QAction* action : menus_.documentActions) action->setEnabled(!running && open);
    menus_.run->setEnabled(!running && open && mainButton_->isEnabled());
    menus_.restore->setEnabled(!running && open);
    // The keys of Stop work whether or not the menu was opened since the run started.
    menus_.stop->setEnabled(running);
}

void ConsoleWindow::SyncMenus() {
    SyncRunActions();
    RebuildSessionMenu();
    // The menu offers what the pop-up offers.
    const auto actions = menus_.session->actions();
    for (int entry = 0; entry < actions.size() && entry < sessionPopup_->count(); ++entry) {
        actions[entry]->setEnabled(sessionPopup_->isEnabled() && sessionEntryOffered(entry));
    }
}

QList<QAction*> ConsoleWindow::menuActions() const {
    QList<QAction*> all;
    for (QAction* top : menuBar()->actions()) {
        if (QMenu* menu = top->menu()) {
            for (QAction* a : menu->actions()) {
                if (!a->shortcut().isEmpty()) all.push_back(a);
            }
        }
    }
    return all;
}

}  // namespace qv::ui
