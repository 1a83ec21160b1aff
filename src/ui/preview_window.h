#pragma once
// The preview window: the planned actions of every task of a run between its scan and its copy,
// where the user skips or re-enables items, turns replacements around, looks for items of a kind,
// opens or reveals them, and then continues (code 100) or stops the run (code 99). Every change
// is made in place on the run's plan, which the waiting worker then performs.

#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/preview_model.h"
#include "run/run_state.h"

class QAction;
class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;
class QTreeView;

namespace qv::app {
class MainApp;
}

namespace qv::ui {

class PreviewItemModel;

// What the window needs to know beyond the plan.
struct PreviewSettings {
    bool allSessions = false;
    bool exact = false;
    bool sync = false;
    bool moveToTrash = false;
    bool expanded = false;  // open every folder (prefPreviewExpanded)
    // The info box of one side of an item; none: every field "--".
    std::function<engine::PreviewSideInfo(const std::string& path)> describe;
    std::string framesFile;  // where the window's frame is kept; empty: not kept
    // Shows the versions kept of the item at `path` over the window; none: not offered.
    std::function<void(const std::string& path, QWidget* over)> showVersions;
};

// The settings of the run going on, read on the main thread.
PreviewSettings PreviewSettingsFor(app::MainApp& app, const run::RunState& state);

class PreviewWindow : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kContinueCode = 100;
    static constexpr int kStopCode = 99;
    // The search buttons' tags, in the order of the toolbar.

    PreviewWindow(run::RunState& state, PreviewSettings settings, QWidget* parent = nullptr);
    ~PreviewWindow() override;

    void ContinuePreview() { done(kContinueCode); }
    void StopPreview() { done(kStopCode); }
    void reject() override { StopPreview(); }
    // Keeps the window's frame for the next preview.
    void done(int code) override;

    // A click on the outline, as the mouse gave it (an invalid index: outside the rows).
    void ClickTheRow(const QModelIndex& index, Qt::KeyboardModifiers modifiers);
    // The right-click menu of the row at `at` (viewport coordinates): what its clicks do.
    void ShowRowMenu(const QPoint& at);
    QMenu* rowMenu() const { return rowMenu_; }
    // The next (backward: previous) row of the kind the tag names; false when there is none.
    bool SearchNextOrPreviousItem(int tag, bool backward);
    // source: the A side; else the B side.
    void OpenFile(bool source);
    void RevealInFinder(bool source);

    QTreeView* outline() const { return tree_; }
    PreviewItemModel* itemModel() const { return items_; }
    QPushButton* continueButton() const { return continue_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* openButton(bool source) const { return side(source).open; }
    QPushButton* revealButton(bool source) const { return side(source).reveal; }
    QLabel* infoField(bool source, int field) const { return side(source).fields[field]; }
    // The totals box's counters, in the order of engine::PreviewTotals.
    QLabel* totalField(int counter) const { return totals_[counter]; }
    QMessageBox* alert() const { return alert_; }
    // Folders still waiting to be opened when the window opens them all.
    bool expanding() const { return !toExpand_.empty(); }

    // Info box fields, in this order.
    enum InfoField { kName, kModified, kBackup, kAttributes, kSize, kPath, kFieldCount };

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct SideBox {
        QGroupBox* box = nullptr;
        std::array<QLabel*, kFieldCount> fields{};
        QPushButton* open = nullptr;
        QPushButton* reveal = nullptr;
    };

    void BuildWindow();
    QWidget* BuildSideBox(bool source);
    QWidget* BuildTotalsBox();
    void RefreshInfoFileBoxes();
    void RefreshTotals();
    void ExpandSomeMore();
    engine::PreviewNode* SelectedNode() const;
    // False, after the alert that says so, when no row is selected.
    bool RowSelected();
    std::string SidePath(bool source) const;
    const SideBox& side(bool source) const { return source ? sideA_ : sideB_; }

    PreviewSettings settings_;
    std::unique_ptr<engine::PreviewModel> model_;
    PreviewItemModel* items_ = nullptr;
    QTreeView* tree_ = nullptr;
    bool swallowRelease_ = false;  // the second release of a double click
    QPushButton* continue_ = nullptr;
    QPushButton* stop_ = nullptr;
    SideBox sideA_, sideB_;
    static constexpr int kTotalRows = 9;  // the eight counters, then the bytes to copy
    std::array<QLabel*, kTotalRows> totals_{};
    QPointer<QMessageBox> alert_;
    QPointer<QMenu> rowMenu_;
    // The folders left to open, in display order from the back.
    std::vector<engine::PreviewNode*> toExpand_;
    QTimer expandTimer_;
};

}  // namespace qv::ui
