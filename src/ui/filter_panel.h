#pragma once
// The filters panel: whether the session's filters are in use, whether they pick the items to
// copy or the items to skip, and the table of rows with their descriptions. A click in the
// table switches a row, resets it (Alt) or opens the row editor; the controls edit a
// FilterEditor.

#include <QPointer>
#include <optional>

#include "sessions/filter_editor.h"
#include "ui/filter_row_dialog.h"
#include "ui/option_panel.h"

class QButtonGroup;
class QCheckBox;
class QTableWidget;

namespace qv::ui {

class FilterPanel : public OptionPanel {
    Q_OBJECT
  public:
    explicit FilterPanel(QWidget* parent);

    void SetPanels(const plist::Value& filterDict) override;
    bool GetPanels(plist::Value& session, std::string* message) override;
    bool SetIconOn(const plist::Value& session) const override;

    // For tests and the screenshot.
    QCheckBox* onOffBox() const { return onOff_; }
    QButtonGroup* copySkipRadio() const { return copySkip_; }  // ids are the tags 1 and 2
    QTableWidget* table() const { return table_; }
    // The row editor while it is open.
    FilterRowDialog* rowDialog() const { return dialog_; }
    // A click in the table as the user makes it (a row or column outside the table does
    // nothing).
    void EditFilterRow(int row, int column, Qt::KeyboardModifiers modifiers);

  private:
    void ChooseOnOff(bool on);
    void ShowOnOff();
    void ReloadTable();
    // The checkbox, the table and the marker as the editor now has them.
    void ShowAll();
    void BtnOnOff();

    QCheckBox* onOff_ = nullptr;
    QButtonGroup* copySkip_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPointer<FilterRowDialog> dialog_;
    std::optional<sessions::FilterEditor> editor_;
    bool filling_ = false;
};

}  // namespace qv::ui
