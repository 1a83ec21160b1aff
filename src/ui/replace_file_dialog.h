#pragma once
// The "Replace File" question, drawn from its model: what changed, both items with their
// modification dates, the direction of the planned action (which code 31 lets the user swap),
// and the buttons to carry out the action, skip it or stop the run. Shown window-modal with
// open(); the answer goes to the reply function once, when the dialog finishes (Stop if it is
// destroyed unanswered).

#include <QDialog>
#include <functional>

class QLayout;
class QVBoxLayout;

#include "fileops/replace_dialog.h"
#include "run/main_thread_proxy.h"

class QLabel;
class QPushButton;

namespace qv::ui {

class ReplaceFileDialog : public QDialog {
    Q_OBJECT
  public:
    using Reply = std::function<void(run::ConflictReply)>;
    ReplaceFileDialog(const run::ConflictQuestion& question, Reply reply, QWidget* parent);
    ~ReplaceFileDialog() override;

    const fileops::ReplaceDialogModel& model() const { return model_; }
    QPushButton* replaceButton() const { return replace_; }
    QPushButton* skipButton() const { return skip_; }
    QPushButton* stopButton() const { return stop_; }
    // Visible for code 31 only.
    QPushButton* swapButton() const { return swap_; }

  private:
    // Both items, with their dates, sizes and a button to show each; the one the question is
    // not about (a deletion's other side) dimmed.
    QLayout* BuildItems();
    // The direction with its swap button, and the answers.
    void BuildAnswerRows(QVBoxLayout* layout);
    void ShowDirection();
    void Finish(int tag);

    fileops::ReplaceDialogModel model_;
    Reply reply_;
    QLabel* explanation_ = nullptr;
    QLabel* direction_ = nullptr;
    QPushButton* replace_ = nullptr;
    QPushButton* skip_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* swap_ = nullptr;
};

}  // namespace qv::ui
