#pragma once
// The sheet that asks for a session's name when one is made, duplicated or renamed. OK checks
// the name as the session commands do: a refused name is explained in an alert and the sheet
// stays open; the session's own name during a rename closes it as if cancelled.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "sessions/session_document.h"

class QBoxLayout;
class QLineEdit;
class QPushButton;

namespace qv::ui {

class SessionNameSheet : public QDialog {
    Q_OBJECT
  public:
    // renaming: the index of the session being renamed, if any. The caller opens the sheet with
    // open() and reads name() when it finishes accepted.
    SessionNameSheet(const sessions::SessionDocument& doc, const std::string& proposed,
                     std::optional<std::int64_t> renaming, QWidget* parent);

    std::string name() const;

    QLineEdit* nameField() const { return field_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    // The alert of a refused name while it is shown.
    QMessageBox* alert() const { return alert_; }

  private:
    void AskNameApply();

    const sessions::SessionDocument& doc_;
    std::optional<std::int64_t> renaming_;
    QLineEdit* field_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPointer<QMessageBox> alert_;
};

// A window-modal "Warning:" alert with the message and OK, opened without a nested event loop;
// it deletes itself when closed.
QMessageBox* OpenWarning(const std::string& message, const char* objectName, QWidget* parent);

// OpenWarning for a value refused in a field ("" when none is at fault): select(field) puts the
// user on it now, and again when the alert closes, since the alert takes the focus while it is
// up.
QMessageBox* OpenFieldWarning(const std::string& message, const char* objectName,
                              const std::string& field,
                              const std::function<void(const std::string&)>& select,
                              QWidget* parent);

// The Cancel and OK buttons at the foot of a sheet, on the right, OK the default; Cancel
// rejects the sheet, OK is the caller's to connect.
void AddOkCancel(QDialog* sheet, QBoxLayout* layout, QPushButton** ok, QPushButton** cancel);

}  // namespace qv::ui
