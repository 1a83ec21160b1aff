#pragma once
// The table of an option's rows that switch on and off in their first column (filters,
// timers): how it looks, how it is filled and what a click in it does. Each panel keeps its
// editor; these take what differs as callbacks.

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <vector>

#include "ui/row_clicks.h"

class QDialog;
class QTableWidget;

namespace qv::ui {

inline constexpr int kRowOnOffColumn = 0;

// A table of rows, one per line, the on/off column narrow and the others sharing the width; a
// click (reported once) goes to onClick.
QTableWidget* NewRowsTable(const QStringList& headers, RowClicks::Handler onClick, QWidget* parent);

// One row as the table shows it: the text of each cell and whether it looks enabled.
struct RowCells {
    std::vector<QString> texts;
    std::vector<bool> enabled;
};

// Sets the table to `rows` rows, each filled from cells(row). With tips, a cell but the on/off
// one also shows its text as a tool tip (for the texts cut short).
void FillRowsTable(QTableWidget* table, int rows, const std::function<RowCells(int row)>& cells,
                   bool tips);

// What a click at row, column of a table of `rows` rows and `columns` columns asks for: the
// on/off column switches the row, an Alt-click (or Delete) elsewhere resets it, a plain click edits
// it. A click outside the table asks for nothing.
struct RowActions {
    std::function<void(std::size_t row)> toggle;
    std::function<void(std::size_t row)> reset;
    std::function<void(std::size_t row)> edit;
};
void ClickRow(int row, int column, Qt::KeyboardModifiers modifiers, std::size_t rows, int columns,
              const RowActions& actions);

// Opens a row's dialog without a nested event loop; it deletes itself when closed and calls
// accepted (in context) when OK takes the row.
void OpenRowDialog(QDialog* dialog, QObject* context, std::function<void()> accepted);

// ClickRow on a panel's editor: a switched or reset row calls changed; a plain click opens the
// row's Dialog (Dialog(editor, row, window)) over the panel's window, kept in `dialog` while
// it is open, and calls accepted when OK takes the row.
template <typename Editor, typename Dialog>
void ClickEditorRow(Editor& editor, QPointer<Dialog>& dialog, QWidget* panel, int row, int column,
                    Qt::KeyboardModifiers modifiers, int columns,
                    const std::function<void()>& changed, const std::function<void()>& accepted) {
    ClickRow(row, column, modifiers, editor.rowCount(), columns,
             {[&editor, changed](std::size_t index) {
                  editor.ToggleRow(index);
                  changed();
              },
              [&editor, changed](std::size_t index) {
                  editor.ResetRow(index);
                  changed();
              },
              [&editor, &dialog, panel, accepted](std::size_t index) {
                  dialog = new Dialog(editor, index, panel->window());
                  OpenRowDialog(dialog, panel, accepted);
              }});
}

}  // namespace qv::ui
