#include "ui/settings_files_watch.h"

#include <QFileSystemWatcher>
#include <QTimer>

#include "ui/qt_text.h"

namespace qv::ui {

namespace {
// Writers replace a file in a few steps (a temporary file, a rename): look once they are done.
constexpr int kSettleMilliseconds = 300;
}  // namespace

SettingsFilesWatch::SettingsFilesWatch(app::MainApp& app, std::function<bool()> mayReload,
                                       QObject* parent)
    : QObject(parent), app_(app), mayReload_(std::move(mayReload)) {
    watcher_ = new QFileSystemWatcher(this);
    watcher_->addPath(Path(app_.paths().pathFolderPref));
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMilliseconds);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, settle_,
            qOverload<>(&QTimer::start));
    connect(settle_, &QTimer::timeout, this, &SettingsFilesWatch::Look);
}

void SettingsFilesWatch::Retry() {
    if (pending_) Look();
}

void SettingsFilesWatch::Look() {
    // The folder may have been made since the watch began (or removed and made again).
    if (watcher_->directories().isEmpty()) watcher_->addPath(Path(app_.paths().pathFolderPref));
    if (!mayReload_()) {
        pending_ = true;
        return;
    }
    pending_ = false;
    const app::SettingsFilesReload r = app_.ReloadChangedSettingsFiles();
    if (r.templateReloaded || r.preferencesReloaded || !r.problems.empty()) emit reloaded(r);
}

}  // namespace qv::ui
