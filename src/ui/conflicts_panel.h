#pragma once
// The conflicts panel: for each kind of conflict, whether the planned action goes ahead or is
// dropped, and whether the user is asked each time. The controls edit a ConflictsEditor.

#include <QButtonGroup>
#include <QCheckBox>
#include <array>
#include <optional>

#include "sessions/conflicts_editor.h"
#include "ui/option_panel.h"

namespace qv::ui {

class ConflictsPanel : public OptionPanel {
    Q_OBJECT
  public:
    explicit ConflictsPanel(QWidget* parent);

    void SetPanels(const plist::Value& conflictsDict) override;
    bool GetPanels(plist::Value& session, std::string* message) override;
    bool SetIconOn(const plist::Value& session) const override;

    // For tests: the radio group of a kind (button ids are the tags 1 and 2) and its checkbox.
    QButtonGroup* radio(std::size_t kind) const { return rows_[kind].radio; }
    QCheckBox* ask(std::size_t kind) const { return rows_[kind].ask; }

  private:
    struct Row {
        QButtonGroup* radio = nullptr;
        QCheckBox* ask = nullptr;
    };
    void BtnOnOff();

    std::array<Row, 6> rows_;
    std::optional<sessions::ConflictsEditor> editor_;
    bool filling_ = false;
};

}  // namespace qv::ui
