#pragma once
// The editor of one filter row: for each criterion a switch, its comparison and its values.
// OK hands the values to the FilterEditor, which takes the row or says what is wrong; a
// refusal is explained in an alert and the dialog stays open on the field at fault. Cancel
// leaves the row as it was.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "sessions/filter_editor.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qv::ui {

class FilterRowDialog : public QDialog {
    Q_OBJECT
  public:
    // The caller opens the dialog with open(); the editor outlives it.
    FilterRowDialog(sessions::FilterEditor& editor, std::size_t index, QWidget* parent);

    std::size_t index() const { return index_; }
    // The controls by the row key they stand for (a date field's text is its QLineEdit).
    QCheckBox* criterionSwitch(const std::string& key) const;
    QComboBox* popUp(const std::string& key) const;
    QLineEdit* field(const std::string& key) const;
    QLabel* nameField() const { return name_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    // The alert of a refused row while it is shown.
    QMessageBox* alert() const { return alert_; }

  private:
    struct Criterion {
        std::string switchKey;
        std::vector<std::string> keys;  // the criterion's other controls
        QPushButton* pick = nullptr;    // type and creator only
    };
    void BuildCriterion(Criterion& criterion, int line, QGridLayout* grid);
    void FillFromRow(const plist::Value& row);
    void OnOffCheckBox(const Criterion& criterion, bool selectField);
    void ChooseDatePop(const std::string& stem, bool selectField);
    void StepDate(const std::string& stem, sessions::FilterDateField field, int delta);
    void ShowDate(const std::string& stem, const sessions::FilterDate& date);
    void PickTypeAndCreator(const std::string& fieldKey, bool creator);
    plist::Value EditedRow() const;
    void SetFilterRow();
    void SelectField(const std::string& key);

    sessions::FilterEditor& editor_;
    std::size_t index_;
    std::vector<Criterion> criteria_;
    std::map<std::string, QWidget*, std::less<>> controls_;
    QLabel* name_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPointer<QMessageBox> alert_;
};

}  // namespace qv::ui
