#pragma once
// The commands that act on what is under the pointer or has the focus: a row of the preview, a
// cell of a list, a folder of the console. Each one a modified click gives (Alt-click, which
// several window managers keep for moving windows, and Ctrl-click) is also a key and an entry
// of the right-click menu, made here from one table that Help > Keyboard Shortcuts lists too.

#include <QKeySequence>
#include <QList>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QPoint;
class QTableWidget;
class QWidget;

namespace qv::ui {

enum class InPlace {
    kPreviewSkip,
    kPreviewTurn,
    kPreviewShowSource,
    kPreviewShowDestination,
    kCellEdit,
    kCellToggle,
    kCellClear,
    kCellShow,
    kFolderChoose,
    kFolderShow,
    kFolderClear,
};

struct InPlaceCommand {
    InPlace id;
    const char* where;  // "Preview", "Lists", "Folders"
    const char* title;
    QKeySequence keys;
    const char* click;  // the click it stands for, "" for none
};

const std::vector<InPlaceCommand>& InPlaceCommands();

// The command as an action of `owner`: its key works while the owner or a child of it has the
// focus, and the action can be put in a right-click menu.
QAction* AddInPlaceAction(QWidget* owner, InPlace id, std::function<void()> run);

// The list of Help > Keyboard Shortcuts: "Where › Title" and the keys, then the click.
struct ShortcutRow {
    QString command;
    QString keys;
};
std::vector<ShortcutRow> InPlaceShortcutRows();

// A list's cells take the keys and the right-click menu of their clicks: Return edits the
// current cell as a click does, Space switches its row, Delete clears it as an Alt-click does,
// and with `shows` Ctrl+Return shows its item as a Ctrl-click does. The table takes the focus
// for it. The menu is offered to `extend` (which may add entries, e.g. the item's folders)
// before it is shown at `globalPos`.
using CellClick = std::function<void(int row, int column, Qt::KeyboardModifiers modifiers)>;
void AddCellCommands(QTableWidget* table, const CellClick& click, bool shows);
QMenu* CellMenu(QTableWidget* table, int row, int column);

}  // namespace qv::ui
