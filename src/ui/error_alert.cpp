#include "ui/error_alert.h"

#include <QPushButton>
#include <utility>

#include "platform/localization.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

ErrorAlert::ErrorAlert(Kind kind, const std::string& title, const std::string& message, Reply reply,
                       QWidget* parent)
    : QMessageBox(parent), reply_(std::move(reply)) {
    setObjectName(QStringLiteral("errorAlert"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Str(title));
    setText(Str(title));
    setInformativeText(Lines(message));
    if (kind == Kind::Stops) {
        setIcon(QMessageBox::Warning);
        stop_ = addButton(Str(GLS("OK")), QMessageBox::AcceptRole);
        setDefaultButton(static_cast<QPushButton*>(stop_));
    } else if (kind == Kind::ConfirmsDeletion) {
        setIcon(QMessageBox::Warning);
        setText(Lines(message));
        setInformativeText(QString());
        stop_ = addButton(Str(GLS("Keep")), QMessageBox::RejectRole);
        continue_ = addButton(Str(GLS("Delete")), QMessageBox::DestructiveRole);
        setDefaultButton(static_cast<QPushButton*>(stop_));
    } else {
        setIcon(QMessageBox::Critical);
        stop_ = addButton(Str(GLS("Stop")), QMessageBox::RejectRole);
        continue_ = addButton(Str(GLS("Continue")), QMessageBox::AcceptRole);
        setDefaultButton(static_cast<QPushButton*>(continue_));
    }
    connect(this, &QMessageBox::buttonClicked, this, [this](QAbstractButton* button) {
        if (button != nullptr && button == continueAll_ && allReply_) {
            std::exchange(allReply_, nullptr)(run::MainThreadProxy::ErrorAnswer::SkipAll);
            return;
        }
        Answer(continue_ != nullptr && button == continue_);
    });
    // Escape or the close box: stop, the answer that never loses anything.
    connect(this, &QDialog::finished, this, [this] { Answer(false); });
}

ErrorAlert::~ErrorAlert() { Answer(false); }

void ErrorAlert::OfferContinueAll(std::function<void(run::MainThreadProxy::ErrorAnswer)> reply) {
    allReply_ = std::move(reply);
    continueAll_ = addButton(Str(GLS("Continue and Don't Ask Again")), QMessageBox::AcceptRole);
    continueAll_->setObjectName(QStringLiteral("continueAll"));
}

void ErrorAlert::Answer(bool goOn) {
    if (allReply_) {
        using Answer = run::MainThreadProxy::ErrorAnswer;
        std::exchange(allReply_, nullptr)(goOn ? Answer::Skip : Answer::Stop);
        return;
    }
    if (!reply_) return;
    Reply reply = std::move(reply_);
    reply_ = nullptr;
    reply(goOn);
}

}  // namespace qv::ui

namespace qv::ui {
QMessageBox* OpenAlert(QWidget* parent, QMessageBox::Icon icon, const std::string& title,
                       const std::string& text, const QString& objectName) {
    auto* box = new QMessageBox(icon, Str(title), Lines(text), QMessageBox::Ok, parent);
    box->setObjectName(objectName);
    box->button(QMessageBox::Ok)->setText(Str(platform::GLS("OK")));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
    return box;
}

void ShowNotice(QWidget* parent, const std::string& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, Str(platform::GLS("Warning:")), Lines(text),
                                QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("notice"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
}  // namespace qv::ui
