#include "ui/rows_table.h"

#include <QDialog>
#include <QHeaderView>
#include <QMenu>
#include <QTableWidget>

#include "platform/localization.h"
#include "ui/in_place_commands.h"
#include "ui/qt_text.h"

namespace qv::ui {

QTableWidget* NewRowsTable(const QStringList& headers, RowClicks::Handler onClick,
                           QWidget* parent) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QStringLiteral("theList"));
    table->setHorizontalHeaderLabels(headers);
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(kRowOnOffColumn, QHeaderView::Fixed);
    for (int c = 1; c < headers.size(); ++c) header->setSectionResizeMode(c, QHeaderView::Stretch);
    table->setColumnWidth(kRowOnOffColumn, 36);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->setToolTip(Str(platform::GLS(
        "Click a row (or Return) to edit it; click its first column (or Space) to switch it on "
        "or off; Alt-click (or Delete) to clear it; right-click for these.")));
    AddCellCommands(table, onClick, false);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(table, &QWidget::customContextMenuRequested, table, [table](const QPoint& p) {
        const QModelIndex at = table->indexAt(p);
        if (QMenu* menu = CellMenu(table, at.row(), at.column())) {
            menu->popup(table->viewport()->mapToGlobal(p));
        }
    });
    new RowClicks(table, std::move(onClick));
    return table;
}

void FillRowsTable(QTableWidget* table, int rows, const std::function<RowCells(int row)>& cells,
                   bool tips) {
    table->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const RowCells row = cells(r);
        for (int c = 0; c < static_cast<int>(row.texts.size()); ++c) {
            QTableWidgetItem* item = table->item(r, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                table->setItem(r, c, item);
            }
            const auto cell = static_cast<std::size_t>(c);
            item->setText(row.texts[cell]);
            if (tips) item->setToolTip(c == kRowOnOffColumn ? QString() : row.texts[cell]);
            if (c == kRowOnOffColumn) item->setTextAlignment(Qt::AlignCenter);
            // Disabled cells only look so: a click still edits the row.
            item->setFlags(row.enabled[cell] ? Qt::ItemIsEnabled : Qt::NoItemFlags);
        }
    }
}

void ClickRow(int row, int column, Qt::KeyboardModifiers modifiers, std::size_t rows, int columns,
              const RowActions& actions) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows || column < 0 || column >= columns) {
        return;
    }
    const auto index = static_cast<std::size_t>(row);
    if (column == kRowOnOffColumn) {
        actions.toggle(index);
    } else if (modifiers & Qt::AltModifier) {
        actions.reset(index);
    } else {
        actions.edit(index);
    }
}

void OpenRowDialog(QDialog* dialog, QObject* context, std::function<void()> accepted) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::accepted, context, std::move(accepted));
    dialog->open();
}

}  // namespace qv::ui
