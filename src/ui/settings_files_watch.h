#pragma once
// Watches the folder of the template document and the preferences file, so that changes made
// by another program (the `quorvel` command, another Quorvel) reach the window. The folder is
// watched rather than the files: every write replaces a file by renaming a new one over it,
// which ends a watch on the file itself. Changes are looked at once the writes have settled,
// never during a run (they wait for its end), and what the window itself wrote is recognised
// by the core and ignored.

#include <QObject>
#include <functional>

#include "app/main_app.h"

class QFileSystemWatcher;
class QTimer;

namespace qv::ui {

class SettingsFilesWatch : public QObject {
    Q_OBJECT
  public:
    // mayReload: whether the window can take new settings now (no run, no option panel with
    // edits in progress); when it cannot, the look is made again at Retry().
    SettingsFilesWatch(app::MainApp& app, std::function<bool()> mayReload, QObject* parent);

    // Looks now (after a run, or when the console page comes back).
    void Retry();

  signals:
    // Something was read again, or a changed file could not be read (and was kept aside).
    void reloaded(const app::SettingsFilesReload& what);

  private:
    void Look();

    app::MainApp& app_;
    std::function<bool()> mayReload_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* settle_ = nullptr;
    bool pending_ = false;
};

}  // namespace qv::ui
