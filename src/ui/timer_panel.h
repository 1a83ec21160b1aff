#pragma once
// The timer panel: the session's master switch of its timers and the table of its timer rows,
// then its triggers. A click in the table switches a row, resets it (Alt) or opens the row
// dialog; the controls edit a TimerEditor, and the trigger section a TriggerEditor.

#include <QPointer>
#include <optional>

#include "sessions/timer_editor.h"
#include "sessions/trigger_editor.h"
#include "ui/option_panel.h"
#include "ui/timer_row_dialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace qv::ui {

class TimerPanel : public OptionPanel {
    Q_OBJECT
  public:
    explicit TimerPanel(QWidget* parent);

    void SessionShown(const plist::Value& session) override;
    void SetPanels(const plist::Value& timerDict) override;
    bool GetPanels(plist::Value& session, std::string* message) override;
    bool SetIconOn(const plist::Value& session) const override;

    // For tests and the screenshot.
    QCheckBox* onOffBox() const { return onOff_; }
    QTableWidget* table() const { return table_; }
    // The row dialog while it is open.
    TimerRowDialog* rowDialog() const { return dialog_; }
    QCheckBox* onMountBox() const { return onMount_; }
    QCheckBox* onChangeBox() const { return onChange_; }
    QLineEdit* quietField() const { return quiet_; }
    QLineEdit* minMinutesField() const { return minMinutes_; }
    QLabel* triggerDescription() const { return description_; }
    // A click in the table as the user makes it (a row or column outside the table does
    // nothing).
    void EditTimerRow(int row, int column, Qt::KeyboardModifiers modifiers);

  private:
    void ChooseOnOff(bool on);
    void ShowOnOff();
    void ReloadTable();
    // The table and the marker as the editor now has them.
    void ShowTable();
    // The checkbox too.
    void ShowAll();
    void BtnOnOff();
    QWidget* NewTriggerSection();
    // The trigger section as the editor has it; the fields' texts too when `fields`.
    void ShowTriggers(bool fields);
    // The two fields into the editor: "" when both were taken, else the first refusal.
    std::string TakeTriggerFields();

    QCheckBox* onOff_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPointer<TimerRowDialog> dialog_;
    std::optional<sessions::TimerEditor> editor_;
    std::optional<sessions::TriggerEditor> triggers_;
    QCheckBox* onMount_ = nullptr;
    QCheckBox* onChange_ = nullptr;
    QLineEdit* quiet_ = nullptr;
    QLineEdit* minMinutes_ = nullptr;
    QLabel* description_ = nullptr;
    bool filling_ = false;
};

}  // namespace qv::ui
