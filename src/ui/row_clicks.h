#pragma once
// The clicks on a table of option rows, each reported once with the keys held: a double click
// acts as its first click did, so an on/off cell is not switched twice.

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QObject>
#include <functional>

namespace qv::ui {

class RowClicks : public QObject {
  public:
    using Handler = std::function<void(int row, int column, Qt::KeyboardModifiers modifiers)>;
    RowClicks(QAbstractItemView* table, Handler handler)
        : QObject(table), table_(table), handler_(std::move(handler)) {
        table->viewport()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick) {
            swallowRelease_ = true;
            return true;
        }
        if (event->type() != QEvent::MouseButtonRelease) return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        if (swallowRelease_) {
            swallowRelease_ = false;
            return true;
        }
        const QModelIndex index = table_->indexAt(mouse->position().toPoint());
        if (index.isValid()) handler_(index.row(), index.column(), mouse->modifiers());
        return false;
    }

  private:
    QAbstractItemView* table_;
    Handler handler_;
    bool swallowRelease_ = false;
};

}  // namespace qv::ui
