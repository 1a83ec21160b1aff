#pragma once
// The alerts of the error path during a run: a failure that stops the run (one OK button),
// or the question whether to skip the failed item and continue (Continue or Stop). Shown
// window-modal with open(); the answer goes to the reply function once (true to go on).
// An alert destroyed unanswered answers "stop".

#include <QMessageBox>
#include <functional>
#include <string>

#include "run/main_thread_proxy.h"

namespace qv::ui {

class ErrorAlert : public QMessageBox {
    Q_OBJECT
  public:
    // ConfirmsDeletion: Delete or Keep, Keep being the default and the answer of Escape.
    enum class Kind { Stops, AsksSkipAndContinue, ConfirmsDeletion };
    using Reply = std::function<void(bool goOn)>;
    ErrorAlert(Kind kind, const std::string& title, const std::string& message, Reply reply,
               QWidget* parent);
    ~ErrorAlert() override;

    QAbstractButton* continueButton() const { return continue_; }  // null for Kind::Stops
    QAbstractButton* stopButton() const { return stop_; }          // OK for Kind::Stops
    // A third button for Kind::AsksSkipAndContinue: continue and ask no more in this run. The
    // answer then goes to `reply` in place of the one given at construction.
    void OfferContinueAll(std::function<void(run::MainThreadProxy::ErrorAnswer)> reply);
    QAbstractButton* continueAllButton() const { return continueAll_; }

  private:
    void Answer(bool goOn);

    Reply reply_;
    std::function<void(run::MainThreadProxy::ErrorAnswer)> allReply_;
    QAbstractButton* continueAll_ = nullptr;
    QAbstractButton* continue_ = nullptr;
    QAbstractButton* stop_ = nullptr;
};

}  // namespace qv::ui

namespace qv::ui {
// A "Warning:" alert with OK about something that did not stop the application (a damaged
// settings file kept aside), opened without waiting.
// An alert with one OK button, window-modal over parent and gone once answered; the caller may
// keep it in a QPointer to close or test it.
QMessageBox* OpenAlert(QWidget* parent, QMessageBox::Icon icon, const std::string& title,
                       const std::string& text, const QString& objectName);
void ShowNotice(QWidget* parent, const std::string& text);
}  // namespace qv::ui
