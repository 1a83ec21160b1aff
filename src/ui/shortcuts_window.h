#pragma once
// Help > Keyboard Shortcuts: every command of the menu bar that has a key, read from the menus
// themselves so that the list cannot fall behind them, then the keys of what has the focus
// (a preview row, a list cell, a folder) with the clicks they stand for.

#include <QDialog>
#include <QList>

class QAction;
class QTableWidget;

namespace qv::ui {

class ShortcutsWindow : public QDialog {
    Q_OBJECT
  public:
    ShortcutsWindow(const QList<QAction*>& actions, QWidget* parent);
    QTableWidget* table() const { return table_; }

  private:
    QTableWidget* table_ = nullptr;
};

}  // namespace qv::ui
