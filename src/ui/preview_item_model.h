#pragma once
// The preview's rows as Qt's item model: a thin, lazy view over engine::PreviewModel. An index
// points at its PreviewNode; nodes are made only when the view asks for a folder's rows, so a
// plan of a million items costs nothing until its folders are opened.

#include <QAbstractItemModel>
#include <QIcon>
#include <QPixmap>

#include "engine/preview_model.h"

namespace qv::ui {

class PreviewItemModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    enum Column { kSourceColumn = 0, kModeColumn = 1, kDestColumn = 2 };

    // moveToTrash: deletions show the trash image.
    PreviewItemModel(engine::PreviewModel& model, bool moveToTrash, QObject* parent = nullptr);

    engine::PreviewNode* NodeAt(const QModelIndex& index) const;
    QModelIndex IndexOf(const engine::PreviewNode* node, int column = kSourceColumn) const;

    // The image of a copy mode in the middle column (and on the search buttons).
    static QIcon ModeIcon(int copyMode, bool moveToTrash);

    // The rows a click changed: the node, the folders above it and every row made below it.
    void NodeChanged(const engine::PreviewNode& node);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    void SubtreeChanged(const engine::PreviewNode& node);
    QVariant Decoration(const engine::PreviewNode& node, int column) const;

    engine::PreviewModel& model_;
    QIcon folder_, file_, folderWashed_, fileWashed_;
    QIcon modeIcons_[10];
};

}  // namespace qv::ui
