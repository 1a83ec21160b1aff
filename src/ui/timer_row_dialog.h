#pragma once
// The editor of one timer row: its start, its repetition with a daily end time and a last day,
// and the weekdays it may fire on. OK hands the fields to the TimerEditor, which takes the row
// or says what is wrong; a refusal is explained in an alert, the corrected value shows and the
// dialog stays open on the field at fault. Cancel leaves the row as it was.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "sessions/timer_editor.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qv::ui {

class StepperField;

class TimerRowDialog : public QDialog {
    Q_OBJECT
  public:
    // The caller opens the dialog with open(); the editor outlives it.
    TimerRowDialog(sessions::TimerEditor& editor, std::size_t index, QWidget* parent);

    std::size_t index() const { return index_; }
    // The fields by the name the editor gives them ("startDay", "intervalHours", ...).
    QLineEdit* field(const std::string& name) const;
    StepperField* stepper(const std::string& name) const;
    // "intervalOn", "endOn", "endDateOn" and the weekday keys ("onlySunday", ...).
    QCheckBox* checkBox(const std::string& key) const;
    QLabel* startWeekday() const { return startWeekday_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    // The alert of a refused row while it is shown.
    QMessageBox* alert() const { return alert_; }

  private:
    StepperField* AddField(const std::string& name, int width);
    QCheckBox* AddBox(const std::string& key, const QString& title);
    void Fill(const sessions::TimerFields& fields);
    sessions::TimerFields Fields() const;
    std::int64_t Number(const std::string& name) const;
    void Step(const std::string& name, int steps);
    void ShowWeekdays();
    void ClickCheckBox();
    void SetTimerRow();
    void SelectField(const std::string& name);

    sessions::TimerEditor& editor_;
    std::size_t index_;
    std::map<std::string, StepperField*, std::less<>> fields_;
    std::map<std::string, QCheckBox*, std::less<>> boxes_;
    QLabel* startWeekday_ = nullptr;
    QLabel* endWeekday_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPointer<QMessageBox> alert_;
};

}  // namespace qv::ui
