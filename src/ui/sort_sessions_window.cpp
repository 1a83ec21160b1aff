#include "ui/sort_sessions_window.h"

#include <QAbstractTableModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "platform/localization.h"
#include "ui/qt_text.h"
#include "ui/session_name_sheet.h"

namespace qv::ui {

using platform::GLS;

namespace {

// Rows travel only inside the table: their numbers, in ascending order.
constexpr const char* kSessionRowsMime = "application/x-quorvel-session-rows";

}  // namespace

// The working copy as a table: "#" (the row number) and the name. Rows are dragged whole and
// dropped between rows; a drop reorders the working copy instead of copying rows.
class SortSessionsTableModel : public QAbstractTableModel {
  public:
    using Moved = std::function<void(const std::vector<std::int64_t>& rows, std::int64_t drop)>;
    SortSessionsTableModel(const sessions::SortSessionsModel& sessions, Moved moved,
                           QObject* parent)
        : QAbstractTableModel(parent), sessions_(sessions), moved_(std::move(moved)) {}

    void Reload() {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(sessions_.rowCount());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        if (index.column() == 0) return QString::number(index.row() + 1);
        return Str(sessions_.rows()[static_cast<std::size_t>(index.row())].name);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
        return section == 0 ? QStringLiteral("#") : Str(GLS("Name"));
    }

    // Rows take no drop on themselves, so every drop falls between two rows.
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) return Qt::ItemIsDropEnabled;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    }

    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override { return {QLatin1String(kSessionRowsMime)}; }

    QMimeData* mimeData(const QModelIndexList& indexes) const override {
        std::vector<int> rows;
        for (const QModelIndex& index : indexes) {
            if (index.isValid()) rows.push_back(index.row());
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        QStringList numbers;
        for (int row : rows) numbers << QString::number(row);
        auto* mime = new QMimeData;
        mime->setData(QLatin1String(kSessionRowsMime), numbers.join(QLatin1Char(',')).toLatin1());
        return mime;
    }

    // The view leaves the dragged rows to us: it finds no removeRows() to call afterwards.
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                      const QModelIndex& parent) override {
        if (data == nullptr || !data->hasFormat(QLatin1String(kSessionRowsMime))) return false;
        if (action == Qt::IgnoreAction) return true;
        if (action != Qt::MoveAction) return false;
        std::vector<std::int64_t> rows;
        const QList<QByteArray> numbers = data->data(QLatin1String(kSessionRowsMime)).split(',');
        for (const QByteArray& number : numbers) {
            bool ok = false;
            const int r = number.toInt(&ok);
            if (ok) rows.push_back(r);
        }
        const std::int64_t drop = row >= 0           ? row
                                  : parent.isValid() ? parent.row()
                                                     : sessions_.rowCount();
        moved_(rows, drop);
        return true;
    }

  private:
    const sessions::SortSessionsModel& sessions_;
    Moved moved_;
};

SortSessionsWindow::SortSessionsWindow(const sessions::SessionDocument& doc, QWidget* parent)
    : QDialog(parent), sessions_(doc) {
    setObjectName(QStringLiteral("sortSessionsWindow"));
    setWindowTitle(Str(GLS("Sort Sessions")));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);

    model_ = new SortSessionsTableModel(
        sessions_,
        [this](const std::vector<std::int64_t>& rows, std::int64_t drop) { MoveRows(rows, drop); },
        this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("sortSessionsTable"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setDragEnabled(true);
    table_->setAcceptDrops(true);
    table_->setDropIndicatorShown(true);
    table_->setDragDropOverwriteMode(false);
    table_->setDragDropMode(QAbstractItemView::InternalMove);
    table_->setDefaultDropAction(Qt::MoveAction);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->installEventFilter(this);
    table_->setMinimumSize(360, 240);
    layout->addWidget(table_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel_ = new QPushButton(Str(GLS("Cancel")), this);
    apply_ = new QPushButton(Str(GLS("Apply")), this);
    apply_->setDefault(true);  // Return applies
    buttons->addWidget(cancel_);
    buttons->addWidget(apply_);
    layout->addLayout(buttons);
    connect(apply_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QAbstractItemModel* SortSessionsWindow::tableModel() const { return model_; }

void SortSessionsWindow::MoveRows(const std::vector<std::int64_t>& rows, std::int64_t dropRow) {
    const std::vector<std::int64_t> moved = sessions_.MoveRows(rows, dropRow);
    model_->Reload();
    Select(moved);
}

void SortSessionsWindow::DeleteSelectedRows() {
    if (alert_) return;
    std::vector<std::int64_t> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    const sessions::SessionCommandResult r = sessions_.DeleteRows(rows);
    if (!r) {
        alert_ = OpenWarning(r.message, "sortSessionsAlert", this);
        return;
    }
    if (!rows.empty()) model_->Reload();
}

void SortSessionsWindow::Select(const std::vector<std::int64_t>& rows) {
    QItemSelection selection;
    for (std::int64_t row : rows) {
        const int r = static_cast<int>(row);
        selection.select(model_->index(r, 0), model_->index(r, model_->columnCount({}) - 1));
    }
    table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

bool SortSessionsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            DeleteSelectedRows();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace qv::ui
