#include "ui/preview_item_model.h"

#include <QColor>
#include <QPainter>
#include <cstdlib>

#include "platform/localization.h"
#include "run/plan_item.h"
#include "ui/qt_text.h"

namespace qv::ui {

using engine::PreviewNode;

namespace {

// The other side's picture of an item: the same image, faded.
QIcon Washed(const QIcon& icon) {
    QIcon washed;
    for (int size : {16, 24, 32}) {
        QPixmap faded(size, size);
        faded.fill(Qt::transparent);
        QPainter painter(&faded);
        painter.setOpacity(0.3);
        painter.drawPixmap(0, 0, icon.pixmap(size, size));
        painter.end();
        washed.addPixmap(faded);
    }
    return washed;
}

// Which side holds the item, by the planned mode: its icon is drawn plain there, faded on the
// other side.
bool AHoldsItem(int mode) {
    const int m = std::abs(mode);
    return m == 1 || m == 2 || m == 4 || m == 5 || m == 6 || m == 8 || m == 9;
}

bool BHoldsItem(int mode) {
    // A skipped folder to descend is drawn from A: B may not have it yet.
    if (mode == -run::kModeDescend) return false;
    const int m = std::abs(mode);
    return m == 1 || m == 3 || m == 4 || m == 5 || m == 7 || m == 8 || m == 9;
}

}  // namespace

PreviewItemModel::PreviewItemModel(engine::PreviewModel& model, bool moveToTrash, QObject* parent)
    : QAbstractItemModel(parent), model_(model) {
    folder_ = NamedIcon("icn_folder");
    file_ = NamedIcon("icn_file");
    folderWashed_ = Washed(folder_);
    fileWashed_ = Washed(file_);
    for (int mode = 0; mode < 10; ++mode) modeIcons_[mode] = ModeIcon(mode, moveToTrash);
}

QIcon PreviewItemModel::ModeIcon(int copyMode, bool moveToTrash) {
    switch (copyMode) {
        case run::kModeDescend:
            return NamedIcon("icnPreviewNothing");
        case run::kModeCopyAtoB:
        case run::kModeReplaceBwithA:
            return NamedIcon("icnPreviewViolet");
        case run::kModeCopyBtoA:
        case run::kModeReplaceAwithB:
            return NamedIcon("icnPreviewOrange");
        case run::kModeDeleteInA:
        case run::kModeDeleteInB:
            return NamedIcon(moveToTrash ? "icnPreviewTrash" : "icnPreviewDelete");
        case run::kModeAttrAtoB:
            return NamedIcon("icnPreviewAccessAB");
        case run::kModeAttrBtoA:
            return NamedIcon("icnPreviewAccessBA");
        default:
            return NamedIcon("icnPreviewSkip");
    }
}

PreviewNode* PreviewItemModel::NodeAt(const QModelIndex& index) const {
    return index.isValid() ? static_cast<PreviewNode*>(index.internalPointer()) : nullptr;
}

QModelIndex PreviewItemModel::IndexOf(const PreviewNode* node, int column) const {
    if (node == nullptr) return {};
    // A task root's row is its place in the task list; an item's is its place in its folder.
    const int row =
        static_cast<int>(node->parent() ? node->indexInParent() : node->firstNodeIndex());
    return createIndex(row, column, const_cast<PreviewNode*>(node));
}

QModelIndex PreviewItemModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column > kDestColumn) return {};
    if (!parent.isValid()) {
        if (static_cast<std::size_t>(row) >= model_.totRootItems()) return {};
        return createIndex(row, column, &model_.rootItem(static_cast<std::size_t>(row)));
    }
    PreviewNode* folder = NodeAt(parent);
    if (row >= folder->numberOfChildren()) return {};
    return createIndex(row, column, &folder->childAt(static_cast<std::size_t>(row)));
}

QModelIndex PreviewItemModel::parent(const QModelIndex& child) const {
    const PreviewNode* node = NodeAt(child);
    return node ? IndexOf(node->parent()) : QModelIndex();
}

int PreviewItemModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(model_.totRootItems());
    if (parent.column() != kSourceColumn) return 0;
    const std::int64_t n = NodeAt(parent)->numberOfChildren();
    return n > 0 ? static_cast<int>(n) : 0;
}

int PreviewItemModel::columnCount(const QModelIndex&) const { return 3; }

bool PreviewItemModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) return model_.totRootItems() > 0;
    return parent.column() == kSourceColumn && NodeAt(parent)->numberOfChildren() > 0;
}

Qt::ItemFlags PreviewItemModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QVariant PreviewItemModel::Decoration(const PreviewNode& node, int column) const {
    const int mode = node.copyMode();
    if (column == kModeColumn) return modeIcons_[mode >= 0 && mode < 10 ? mode : 0];
    const bool folder = node.numberOfChildren() >= 0;
    const bool held = column == kSourceColumn ? AHoldsItem(mode) : BHoldsItem(mode);
    if (folder) return held ? folder_ : folderWashed_;
    return held ? file_ : fileWashed_;
}

QVariant PreviewItemModel::data(const QModelIndex& index, int role) const {
    const PreviewNode* node = NodeAt(index);
    if (node == nullptr) return {};
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            if (column == kSourceColumn) return Path(node->sourceName());
            if (column == kDestColumn) return Path(node->destName());
            return {};
        case Qt::DecorationRole:
            return Decoration(*node, column);
        case Qt::ToolTipRole:
            if (column == kSourceColumn) return Path(node->source());
            if (column == kDestColumn) return Path(node->dest());
            return {};
        case Qt::ForegroundRole: {
            const int mode = node->copyMode();
            if (column == kModeColumn) return {};
            if (mode <= 0) return QColor(Qt::red);
            const bool held = column == kSourceColumn ? AHoldsItem(mode) : BHoldsItem(mode);
            return held ? QVariant() : QVariant(QColor(Qt::gray));
        }
        default:
            return {};
    }
}

QVariant PreviewItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == kSourceColumn) return Str(platform::GLS("Source"));
    if (section == kDestColumn) return Str(platform::GLS("Destination"));
    return {};
}

void PreviewItemModel::NodeChanged(const PreviewNode& node) {
    // Skipping a deletion or re-enabling an item changes the folders above it too.
    for (const PreviewNode* p = node.parent(); p != nullptr; p = p->parent()) {
        emit dataChanged(IndexOf(p, kSourceColumn), IndexOf(p, kDestColumn));
    }
    emit dataChanged(IndexOf(&node, kSourceColumn), IndexOf(&node, kDestColumn));
    SubtreeChanged(node);
}

void PreviewItemModel::SubtreeChanged(const PreviewNode& node) {
    // Rows never made were never shown: the view asks for them afresh.
    if (!node.childrenMade() || node.numberOfChildren() <= 0) return;
    auto& folder = const_cast<PreviewNode&>(node);
    const auto last = static_cast<std::size_t>(node.numberOfChildren() - 1);
    emit dataChanged(IndexOf(&folder.childAt(0), kSourceColumn),
                     IndexOf(&folder.childAt(last), kDestColumn));
    for (std::size_t i = 0; i <= last; ++i) SubtreeChanged(folder.childAt(i));
}

}  // namespace qv::ui
