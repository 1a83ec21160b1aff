#pragma once
// The window that reorders and thins out the sessions: a working copy of the list in a table
// whose rows are dragged into place and deleted with the Delete key. Apply hands the new order
// to the caller (order(), as original indices); Cancel leaves the document as it was.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <cstdint>
#include <vector>

#include "sessions/session_commands.h"
#include "sessions/session_document.h"

class QAbstractItemModel;
class QPushButton;
class QTableView;

namespace qv::ui {

class SortSessionsTableModel;

class SortSessionsWindow : public QDialog {
    Q_OBJECT
  public:
    SortSessionsWindow(const sessions::SessionDocument& doc, QWidget* parent);

    // The working copy's sessions as their original indices.
    std::vector<std::int64_t> order() const { return sessions_.order(); }
    // Moves the rows as a drop above dropRow does, and selects them where they landed.
    void MoveRows(const std::vector<std::int64_t>& rows, std::int64_t dropRow);
    // The Delete key: the selected rows go, unless that would leave no session.
    void DeleteSelectedRows();

    QTableView* table() const { return table_; }
    QAbstractItemModel* tableModel() const;
    QPushButton* applyButton() const { return apply_; }
    QPushButton* cancelButton() const { return cancel_; }
    // The alert of a refused deletion while it is shown.
    QMessageBox* alert() const { return alert_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Select(const std::vector<std::int64_t>& rows);

    sessions::SortSessionsModel sessions_;
    SortSessionsTableModel* model_ = nullptr;
    QTableView* table_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPointer<QMessageBox> alert_;
};

}  // namespace qv::ui
