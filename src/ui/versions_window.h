#pragma once
// The versions window: the versions a session's runs kept of the items they replaced or
// deleted, in a tree by the items' paths, the one selected described, and put back where it
// was (Restore) or into a folder of the user's choice (Restore To…). The versions folders are
// read, and a version restored, on a thread of their own.

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fileops/versions.h"
#include "sessions/plist_value.h"

class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QStackedWidget;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

namespace qv::app {
class MainApp;
}
namespace qv::sessions {
class SessionDocument;
}

namespace qv::ui {

// The session of the document whose folders hold `path` (an absolute path), `preferred` first;
// nothing when none does.
std::optional<std::int64_t> SessionHoldingPath(const sessions::SessionDocument& document,
                                               const std::string& path, std::int64_t preferred);

class VersionsWindow;

// The versions window of `owner` (made on first use, a window of its own: over a dialog that
// blocks the others, it is the dialog's), brought to the front on the session whose folders
// hold `path`, `session` first, and limited to that path; on `session` and every item when no
// session's folders hold it.
VersionsWindow* OpenVersionsWindow(app::MainApp& app, QWidget* owner, std::int64_t session,
                                   const std::string& path, bool runGoingOn);

class VersionsWindow : public QWidget {
    Q_OBJECT
  public:
    explicit VersionsWindow(app::MainApp& app, QWidget* parent = nullptr);
    ~VersionsWindow() override;

    // Lists the versions of the session at that index (All Sessions: the first one) kept of
    // `path` and of what lay below it: an absolute path in its folders, or a path below their
    // tops; "" for every item.
    void ShowSession(std::int64_t index, const std::string& path = {});
    // Reads the versions folders again.
    void Refresh();
    // While a run goes on nothing is restored: the run lock is the run's.
    void setRunGoingOn(bool on);

    // Asks for the folder of Restore To…, starting at `start`, and gives the choice to `chosen`
    // (never called when the user cancels). A folder dialog unless replaced (by tests).
    using FolderChooser =
        std::function<void(const std::string& start, std::function<void(const std::string&)>)>;
    void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }

    // For tests and the screenshot.
    bool isBusy() const { return worker_ != nullptr; }
    QTreeWidget* tree() const { return tree_; }
    QLabel* note() const { return note_; }
    QComboBox* sessionPopUp() const { return sessions_; }
    QPushButton* restoreButton() const { return restore_; }
    QPushButton* restoreToButton() const { return restoreTo_; }
    QPushButton* refreshButton() const { return refresh_; }
    QPushButton* showAllButton() const { return showAll_; }
    // The detail lines of the selected version, in order: item, kept at, size, side, kept in.
    QLabel* detail(int line) const { return details_[line]; }
    static constexpr int kDetailLines = 5;
    // The confirmation or the report of a restore, while shown.
    QMessageBox* alert() const { return alert_; }
    const std::vector<fileops::VersionInfo>& versions() const { return listing_.versions; }
    // Selects the row of a version (false when it is not listed).
    bool SelectVersion(const std::string& relativePath, const std::string& stamp);

  private:
    struct Listing {
        std::vector<fileops::VersionPair> pairs;
        run::VersionsSettings settings;
        std::string relative;
        std::vector<fileops::VersionInfo> versions;
        std::vector<std::string> errors;
    };
    struct Restored {
        bool ok = false;
        std::vector<std::string> done;
        std::string why;
    };

    void BuildWindow();
    QWidget* BuildDetails();
    void FillSessionPopUp(std::int64_t index);
    void ShowListing(Listing listing);
    QTreeWidgetItem* NodeFor(const fileops::VersionInfo& version);
    void ShowSelection();
    const fileops::VersionInfo* Selected() const;
    void AskRestore(const std::optional<std::string>& toFolder);
    void PerformRestore(const fileops::VersionInfo& version,
                        const std::optional<std::string>& toFolder);
    void TellRestored(const Restored& result);
    void SyncButtons();
    // Runs `work` on the window's thread and `then` here with its result; one at a time.
    template <typename Result>
    void InBackground(std::function<Result()> work, std::function<void(Result)> then);

    app::MainApp& app_;
    std::int64_t session_ = 0;
    std::string path_;  // what the list is limited to, as given
    plist::Value shownSession_;
    Listing listing_;
    bool runGoingOn_ = false;
    bool refreshAgain_ = false;
    int shown_ = 0;  // counts what ShowSession was asked to show
    FolderChooser chooseFolder_;
    QThread* worker_ = nullptr;

    QComboBox* sessions_ = nullptr;
    QLabel* scope_ = nullptr;
    QPushButton* showAll_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* errors_ = nullptr;
    QLabel* details_[kDetailLines] = {};
    QPushButton* refresh_ = nullptr;
    QPushButton* restore_ = nullptr;
    QPushButton* restoreTo_ = nullptr;
    QPointer<QMessageBox> alert_;
    // The tree's nodes by pair and path while it is filled.
    std::map<std::string, QTreeWidgetItem*> nodes_;
};

}  // namespace qv::ui
