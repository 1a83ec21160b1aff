#pragma once
// The sheet that asks for the custom name pattern of the destination sub-folder: the pattern,
// the name it gives now (refreshed as the user types) and a few samples. OK is refused, with
// an alert, while the pattern is not valid; the sheet then stays open.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <functional>
#include <string>

class QLineEdit;

class QPushButton;

namespace qv::ui {

class CustomNameSheet : public QDialog {
    Q_OBJECT
  public:
    // sample: the name a pattern gives now; check: "" for a pattern that may be used,
    // otherwise why not.
    using Sample = std::function<std::string(const std::string& pattern)>;
    using Check = std::function<std::string(const std::string& pattern)>;
    CustomNameSheet(Sample sample, Check check, QWidget* parent);

    // Fills the pattern field (and the sample) before the sheet is opened.
    void setPattern(const std::string& pattern);
    std::string pattern() const;

    QLineEdit* patternField() const { return pattern_; }
    QLineEdit* sampleField() const { return sample_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    // The alert of a refused pattern while it is shown.
    QMessageBox* alert() const { return alert_; }

  private:
    void UpdateAskSubFolderResultField();
    void Apply();

    Sample sampleOf_;
    Check check_;
    QLineEdit* pattern_ = nullptr;
    QLineEdit* sample_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPointer<QMessageBox> alert_;
};

}  // namespace qv::ui
