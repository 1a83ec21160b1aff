#pragma once
// The question asked when the scan finds a conflict: both items, and the choice to carry out
// the planned action, to skip it, or to stop the run. Shown window-modal with open(); the
// answer goes to the reply function once, when the dialog finishes (Stop if it is destroyed
// unanswered).

#include <QDialog>
#include <functional>

#include "run/main_thread_proxy.h"

class QCheckBox;
class QPushButton;

namespace qv::ui {

class ReplaceFileDialog : public QDialog {
    Q_OBJECT
  public:
    using Reply = std::function<void(run::ConflictReply)>;
    ReplaceFileDialog(const run::ConflictQuestion& question, Reply reply, QWidget* parent);
    ~ReplaceFileDialog() override;

    QPushButton* replaceButton() const { return replace_; }
    QPushButton* skipButton() const { return skip_; }
    QPushButton* stopButton() const { return stop_; }
    QCheckBox* changeDirectionBox() const { return changeDirection_; }

  private:
    void Answer(run::ConflictAnswer answer);

    Reply reply_;
    QPushButton* replace_ = nullptr;
    QPushButton* skip_ = nullptr;
    QPushButton* stop_ = nullptr;
    QCheckBox* changeDirection_ = nullptr;
};

}  // namespace qv::ui
