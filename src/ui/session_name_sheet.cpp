#include "ui/session_name_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "sessions/session_commands.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

QMessageBox* OpenWarning(const std::string& message, const char* objectName, QWidget* parent) {
    auto* box = new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")), Str(message),
                                QMessageBox::Ok, parent);
    box->setObjectName(QLatin1String(objectName));
    box->button(QMessageBox::Ok)->setText(Str(GLS("OK")));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
    return box;
}

QMessageBox* OpenFieldWarning(const std::string& message, const char* objectName,
                              const std::string& field,
                              const std::function<void(const std::string&)>& select,
                              QWidget* parent) {
    QMessageBox* box = OpenWarning(message, objectName, parent);
    if (field.empty()) return box;
    select(field);
    QObject::connect(box, &QDialog::finished, parent, [select, field] { select(field); });
    return box;
}

void AddOkCancel(QDialog* sheet, QBoxLayout* layout, QPushButton** ok, QPushButton** cancel) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    *cancel = new QPushButton(Str(GLS("Cancel")), sheet);
    *ok = new QPushButton(Str(GLS("OK")), sheet);
    (*ok)->setDefault(true);
    buttons->addWidget(*cancel);
    buttons->addWidget(*ok);
    layout->addLayout(buttons);
    QObject::connect(*cancel, &QPushButton::clicked, sheet, &QDialog::reject);
}

SessionNameSheet::SessionNameSheet(const sessions::SessionDocument& doc,
                                   const std::string& proposed,
                                   std::optional<std::int64_t> renaming, QWidget* parent)
    : QDialog(parent), doc_(doc), renaming_(renaming) {
    setObjectName(QStringLiteral("sessionNameSheet"));
    setWindowTitle(Str(GLS("Session name:")));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(Str(GLS("Session name:")), this));
    field_ = new QLineEdit(Str(proposed), this);
    field_->setObjectName(QStringLiteral("sessionNameField"));
    field_->setMinimumWidth(300);
    field_->selectAll();
    layout->addWidget(field_);

    AddOkCancel(this, layout, &ok_, &cancel_);
    connect(ok_, &QPushButton::clicked, this, &SessionNameSheet::AskNameApply);
}

std::string SessionNameSheet::name() const { return field_->text().toStdString(); }

void SessionNameSheet::AskNameApply() {
    if (alert_) return;
    const sessions::NameCheck check = sessions::CheckSessionName(doc_, name(), renaming_);
    switch (check.verdict) {
        case sessions::NameVerdict::Accepted:
            accept();
            return;
        case sessions::NameVerdict::Unchanged:
            reject();
            return;
        default:
            alert_ = OpenWarning(check.message, "sessionNameAlert", this);
            return;
    }
}

}  // namespace qv::ui
