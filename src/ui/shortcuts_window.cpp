#include "ui/shortcuts_window.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMenu>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "ui/in_place_commands.h"
#include "ui/qt_text.h"

namespace qv::ui {

ShortcutsWindow::ShortcutsWindow(const QList<QAction*>& actions, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("shortcutsWindow"));
    setWindowTitle(Str(platform::GLS("Keyboard Shortcuts")));
    auto* layout = new QVBoxLayout(this);
    const std::vector<ShortcutRow> inPlace = InPlaceShortcutRows();
    table_ = new QTableWidget(static_cast<int>(actions.size() + inPlace.size()), 2, this);
    table_->setHorizontalHeaderLabels({Str(platform::GLS("Command")), Str(platform::GLS("Keys"))});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    int row = 0;
    for (QAction* action : actions) {
        QString command = action->text().remove(QLatin1Char('&'));
        if (const auto* menu = qobject_cast<const QMenu*>(action->parent())) {
            command = menu->title().remove(QLatin1Char('&')) + QStringLiteral(" › ") + command;
        }
        QStringList keys;
        for (const QKeySequence& k : action->shortcuts()) {
            keys << k.toString(QKeySequence::NativeText);
        }
        table_->setItem(row, 0, new QTableWidgetItem(command));
        table_->setItem(row, 1, new QTableWidgetItem(keys.join(QStringLiteral(", "))));
        ++row;
    }
    // Then the keys of the rows, cells and folders under the focus, with their clicks.
    for (const ShortcutRow& r : inPlace) {
        table_->setItem(row, 0, new QTableWidgetItem(r.command));
        table_->setItem(row, 1, new QTableWidgetItem(r.keys));
        ++row;
    }
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(560, 560);
}

}  // namespace qv::ui
