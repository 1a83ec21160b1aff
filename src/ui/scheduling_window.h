#pragma once
// The scheduling window: the execution list of the window's scheduler with the state of each
// entry, the horizon (how many days ahead it lists), the deletion of Done entries and the
// opening of an entry's log.

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace qv::ui {

class WindowScheduler;

// The horizons offered, in days.
inline constexpr int kMaxHorizonDays = 7;

class SchedulingWindow : public QWidget {
    Q_OBJECT
  public:
    SchedulingWindow(WindowScheduler& scheduler, QWidget* parent);

    // OpenLogWithFileFromScheduling: how the window shows a log file (the console's log
    // window).
    std::function<void(const std::string& path)> onOpenLog;

    // SetArray: the table follows the scheduler's list, its blocking and the notice.
    void SetArray();
    void DeleteTimerRow();
    void SchedulingOpenLog();

    // For tests and the screenshot.
    QTableWidget* table() const { return table_; }
    QComboBox* horizonPopUp() const { return horizon_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* openLogButton() const { return openLog_; }
    QLabel* notice() const { return notice_; }

  private:
    std::vector<std::size_t> SelectedRows() const;
    void SelectionChanged();

    WindowScheduler& scheduler_;
    QComboBox* horizon_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* openLog_ = nullptr;
    QLabel* notice_ = nullptr;
};

}  // namespace qv::ui
