#include "ui/in_place_commands.h"

#include <QAction>
#include <QMenu>
#include <QTableWidget>
#include <QWidget>

#include "platform/localization.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

const std::vector<InPlaceCommand>& InPlaceCommands() {
    static const std::vector<InPlaceCommand> commands = {
        {InPlace::kPreviewSkip, "Preview", "Skip or Include", QKeySequence(Qt::Key_Space),
         "Click in the Action column"},
        {InPlace::kPreviewTurn, "Preview", "Swap the Direction", QKeySequence(Qt::CTRL | Qt::Key_T),
         "Alt+Click in the Action column"},
        {InPlace::kPreviewShowSource, "Preview", "Show the Source Item in the File Manager",
         QKeySequence(Qt::CTRL | Qt::Key_Return), "Ctrl+Click on the source"},
        {InPlace::kPreviewShowDestination, "Preview",
         "Show the Destination Item in the File Manager",
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Return), "Ctrl+Click on the destination"},
        {InPlace::kCellEdit, "Lists", "Edit", QKeySequence(Qt::Key_Return), "Click"},
        {InPlace::kCellToggle, "Lists", "Switch On or Off", QKeySequence(Qt::Key_Space),
         "Click in the first column"},
        {InPlace::kCellClear, "Lists", "Clear", QKeySequence(Qt::Key_Delete), "Alt+Click"},
        {InPlace::kCellShow, "Lists", "Show in the File Manager",
         QKeySequence(Qt::CTRL | Qt::Key_Return), "Ctrl+Click"},
        {InPlace::kFolderChoose, "Folders", "Choose…", QKeySequence(Qt::Key_Return),
         "Click on the folder's icon"},
        {InPlace::kFolderShow, "Folders", "Show in the File Manager",
         QKeySequence(Qt::CTRL | Qt::Key_Return), "Click on the arrow"},
        {InPlace::kFolderClear, "Folders", "Clear", QKeySequence(Qt::Key_Delete),
         "Alt+Click on the arrow"},
    };
    return commands;
}

namespace {

const InPlaceCommand& Command(InPlace id) {
    for (const InPlaceCommand& c : InPlaceCommands()) {
        if (c.id == id) return c;
    }
    return InPlaceCommands().front();
}

}  // namespace

QAction* AddInPlaceAction(QWidget* owner, InPlace id, std::function<void()> run) {
    const InPlaceCommand& c = Command(id);
    auto* action = new QAction(Str(GLS(c.title)), owner);
    action->setShortcut(c.keys);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    action->setData(static_cast<int>(id));
    QObject::connect(action, &QAction::triggered, owner, [run = std::move(run)] { run(); });
    owner->addAction(action);
    return action;
}

std::vector<ShortcutRow> InPlaceShortcutRows() {
    std::vector<ShortcutRow> rows;
    for (const InPlaceCommand& c : InPlaceCommands()) {
        QString keys = c.keys.toString(QKeySequence::NativeText);
        if (*c.click != '\0') keys += QStringLiteral(", ") + Str(GLS(c.click));
        rows.push_back({Str(GLS(c.where)) + QStringLiteral(" › ") + Str(GLS(c.title)), keys});
    }
    return rows;
}

void AddCellCommands(QTableWidget* table, const CellClick& click, bool shows) {
    table->setFocusPolicy(Qt::StrongFocus);
    // The current cell, or the first cell after the on/off column.
    auto at = [table] {
        const int row = std::max(table->currentRow(), 0);
        const int column = std::max(table->currentColumn(), 1);
        return std::pair{row, std::min(column, table->columnCount() - 1)};
    };
    auto withKeys = [table, click, at](Qt::KeyboardModifiers modifiers, bool firstColumn) {
        return [table, click, at, modifiers, firstColumn] {
            if (table->rowCount() == 0) return;
            const auto [row, column] = at();
            click(row, firstColumn ? 0 : column, modifiers);
        };
    };
    AddInPlaceAction(table, InPlace::kCellEdit, withKeys(Qt::NoModifier, false));
    AddInPlaceAction(table, InPlace::kCellToggle, withKeys(Qt::NoModifier, true));
    AddInPlaceAction(table, InPlace::kCellClear, withKeys(Qt::AltModifier, false));
    if (shows) AddInPlaceAction(table, InPlace::kCellShow, withKeys(Qt::ControlModifier, false));
}

QMenu* CellMenu(QTableWidget* table, int row, int column) {
    if (row < 0 || column < 0) return nullptr;
    table->setCurrentCell(row, column);
    auto* menu = new QMenu(table);
    menu->setObjectName(QStringLiteral("ContextCell"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* action : table->actions()) {
        if (!action->data().isValid()) continue;
        // The on/off column has nothing to edit or clear.
        const auto id = static_cast<InPlace>(action->data().toInt());
        if (column == 0 && id != InPlace::kCellToggle) continue;
        menu->addAction(action);
    }
    return menu;
}

}  // namespace qv::ui
