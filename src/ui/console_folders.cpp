// The console's two folders: choosing one, showing it in the file manager, clearing it; and
// the log window it opens.
#include <QFileDialog>
#include <QMessageBox>

#include "app/main_app.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/system_log.h"
#include "ui/console_window.h"
#include "ui/document_commands.h"
#include "ui/log_window.h"
#include "ui/path_area.h"
#include "ui/path_table.h"
#include "ui/qt_text.h"
#include "ui/session_name_sheet.h"
#include "ui/versions_window.h"

namespace qv::ui {

using platform::GLS;

// ---- Choosing folders ----

void ConsoleWindow::SetPathname(const std::string& path, bool source) {
    PathArea* area = source ? source_ : dest_;
    if (path.empty()) {
        area->setPathText(Str(GetEmptyTopBottomString(source)), true);
        area->setIcon(NamedIcon("icn_folder_gray"));
        return;
    }
    area->setPathText(Path(path), false);
    const platform::ItemAttributes a = platform::ReadItemAttributes(path.c_str());
    if (!a.exists()) {
        area->setIcon(NamedIcon("icn_folder_gray"));
    } else if (a.isDirectory() && !app::MainApp::IsFilePackage(path, a)) {
        area->setIcon(NamedIcon("icn_folder"));
    } else {
        area->setIcon(NamedIcon("icn_file"));
    }
}

std::string ConsoleWindow::GetEmptyTopBottomString(bool source) const {
    const sessions::SessionDocument& doc = app_.document();
    const std::int64_t i = doc.mSessionIndex;
    if (doc.IsAllSessions(i)) return {};
    const plist::Value* session = doc.GetSessionDict(i);
    const plist::Value* console = session ? session->dictAt("consoleDict") : nullptr;
    const std::string other =
        console ? console->stringAt(source ? "bottomFolder" : "topFolder") : "";
    // The other side decides: a file (or a package) asks for a file.
    bool file = false;
    if (!other.empty()) {
        const platform::ItemAttributes a = platform::ReadItemAttributes(other.c_str());
        file = a.exists() && (!a.isDirectory() || app::MainApp::IsFilePackage(other, a));
    }
    const bool sync = IsSyncSession(i);
    if (source) {
        return sync
                   ? (file ? GLS("Drag here the 1st file") : GLS("Drag here the 1st folder"))
                   : (file ? GLS("Drag here the source file") : GLS("Drag here the source folder"));
    }
    return sync ? (file ? GLS("Drag here the 2nd file") : GLS("Drag here the 2nd folder"))
                : (file ? GLS("Drag here the destination file")
                        : GLS("Drag here the destination folder"));
}

void ConsoleWindow::TaskPickFolder(bool source) {
    const std::int64_t i = app_.document().mSessionIndex;
    // Multiple-list sessions choose their folders in the multiple list's panel.
    if (isRunning() || !IsRealSession(i) || IsMultiSession(i)) return;
    const plist::Value* console = app_.document().GetSessionDict(i)->dictAt("consoleDict");
    const std::string current =
        console ? console->stringAt(source ? "topFolder" : "bottomFolder") : "";
    auto* dialog = new QFileDialog(
        this, Str(source ? GLS("Choose the source Folder") : GLS("Choose the destination Folder")));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::DontResolveSymlinks);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setLabelText(QFileDialog::Accept, Str(GLS("Choose")));
    dialog->setDirectory(platform::ItemExists(current) ? Path(current) : QDir::homePath());
    connect(dialog, &QFileDialog::fileSelected, this, [this, source](const QString& path) {
        if (!isRunning()) SetPickedFolder(PathBytes(path), source);
    });
    dialog->open();
}

void ConsoleWindow::SetPickedFolder(const std::string& path, bool source) {
    if (const std::string problem = sessions::FolderPathProblem(path); !problem.empty()) {
        sheets_.sessionAlert = OpenWarning(problem, "folderAlert", this);
        return;
    }
    sessions::SessionDocument& doc = app_.document();
    const std::int64_t i = doc.mSessionIndex;
    if (!IsRealSession(i) || IsMultiSession(i)) return;
    plist::Value* session = doc.GetSessionDict(i);
    plist::Value* console = session->dictAt("consoleDict");
    if (console == nullptr) console = &session->set("consoleDict", plist::Dict{});
    console->set(source ? "topFolder" : "bottomFolder", path);
    app_.AddToAutoMountVolumeArray(i, path);
    SetPathname(path, source);
    // The other side's placeholder may now ask for a file rather than a folder.
    const std::string other = console->stringAt(source ? "bottomFolder" : "topFolder");
    if (other.empty()) SetPathname(other, !source);
    DocumentChanged();
}

void ConsoleWindow::DocumentChanged() {
    std::string reason;
    if (!app_.document().SaveTemplateIfChanged(&reason)) {
        platform::SystemLog("Can't write the template document: " + reason);
    }
    documents_->UpdateTitle();  // the mark of unsaved changes
}

void ConsoleWindow::OpenFolderButton(bool source, Qt::KeyboardModifiers modifiers) {
    sessions::SessionDocument& doc = app_.document();
    const std::int64_t i = doc.mSessionIndex;
    if (isRunning() || !IsRealSession(i) || IsMultiSession(i)) return;
    if (modifiers & Qt::AltModifier) {
        SetPickedFolder("", source);
        return;
    }
    const plist::Value* console = doc.GetSessionDict(i)->dictAt("consoleDict");
    std::string path = console ? console->stringAt(source ? "topFolder" : "bottomFolder") : "";
    if (path.empty()) return;
    // The nearest item that exists, shown in its folder.
    for (int level = 0; level < 1024 && !platform::ItemExists(path) && path != "/"; ++level) {
        path = platform::ParentFolder(path);
    }
    const std::string folder =
        platform::IsExistingFolder(path) ? path : platform::ParentFolder(path);
    OpenWithDesktop(folder, this);
}

// ---- The log window ----

LogWindow* ConsoleWindow::TheLogWindow() {
    if (logWindow_ == nullptr) {
        logWindow_ = new LogWindow(this);
        logWindow_->setWindowFlag(Qt::Window);
        logWindow_->onShowVersions = [this](const std::string& path) { WindowOpenVersions(path); };
    }
    return logWindow_;
}

void ConsoleWindow::WindowOpenLog() {
    TheLogWindow();
    if (logWindow_->isVisible()) {
        logWindow_->raise();
        logWindow_->activateWindow();
        return;
    }
    const app::RunService& service = app_.runService();
    logWindow_->setLogFolder(service.LogFolder());
    if (logWindow_->FillLogWindow(service.pathLogFile(), service.logString())) logWindow_->show();
}

void ConsoleWindow::WindowOpenVersions(const std::string& path) {
    if (!isDocumentShown()) return;
    // What the panel on screen says is what the session says.
    if (!isRunning() && !GetCurrentPanel()) return;
    OpenVersionsWindow(app_, this, app_.document().mSessionIndex, path, isRunning());
}

VersionsWindow* ConsoleWindow::versionsWindow() const {
    return findChild<VersionsWindow*>(QString(), Qt::FindDirectChildrenOnly);
}

}  // namespace qv::ui
