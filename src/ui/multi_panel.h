#pragma once
// The multiple-list panel: the source and destination pairs a session runs in place of its own
// folders, one per row, and the switch of the whole list. The controls edit a MultiEditor.

#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <functional>
#include <optional>

#include "sessions/multi_editor.h"
#include "ui/option_panel.h"
#include "ui/path_table.h"

namespace qv::ui {

class MultiPanel : public OptionPanel {
    Q_OBJECT
  public:
    explicit MultiPanel(QWidget* parent);

    void SetPanels(const plist::Value& multiDict) override;
    bool GetPanels(plist::Value& session, std::string* message) override;
    bool SetIconOn(const plist::Value& session) const override;

    // Told each folder stored by a pick or a drop, so that its volume can be mounted for a run.
    std::function<void(const std::string&)> onFolderPicked;

    // For tests: the controls, and the picker on screen.
    QCheckBox* listCheckbox() const { return listOn_; }
    PathTable* table() const { return table_; }
    QFileDialog* picker() const { return picker_; }
    QMessageBox* alert() const { return alert_; }

  private:
    void EditMultiRow(int row, int column, Qt::KeyboardModifiers modifiers);
    void SetPickedPath(std::size_t row, bool source, const std::string& path);
    void Refresh();

    QCheckBox* listOn_ = nullptr;
    PathTable* table_ = nullptr;
    QPointer<QFileDialog> picker_;
    QPointer<QMessageBox> alert_;
    std::optional<sessions::MultiEditor> editor_;
    bool filling_ = false;
};

}  // namespace qv::ui
