#pragma once
// The exclude panel: the files and folders a session's runs leave alone, one per row, and the
// switch of the whole list. The controls edit an ExcludeEditor.

#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <optional>

#include "sessions/exclude_editor.h"
#include "ui/option_panel.h"
#include "ui/path_table.h"

namespace qv::ui {

class ExcludePanel : public OptionPanel {
    Q_OBJECT
  public:
    explicit ExcludePanel(QWidget* parent);

    void SetPanels(const plist::Value& excludeDict) override;
    void SessionShown(const plist::Value& session) override;
    bool GetPanels(plist::Value& session, std::string* message) override;
    bool SetIconOn(const plist::Value& session) const override;

    // For tests: the controls, and the picker on screen.
    QCheckBox* listCheckbox() const { return listOn_; }
    PathTable* table() const { return table_; }
    QFileDialog* picker() const { return picker_; }
    QMessageBox* alert() const { return alert_; }

  private:
    void EditExcludeRow(int row, int column, Qt::KeyboardModifiers modifiers);
    void PathsDropped(const std::vector<std::string>& paths);
    void Warn(const std::string& message);
    void Refresh();

    QCheckBox* listOn_ = nullptr;
    PathTable* table_ = nullptr;
    QPointer<QFileDialog> picker_;
    QPointer<QMessageBox> alert_;
    std::optional<sessions::ExcludeEditor> editor_;
    std::string sourceFolder_;  // where the picker of an empty row opens
    bool filling_ = false;
};

}  // namespace qv::ui
