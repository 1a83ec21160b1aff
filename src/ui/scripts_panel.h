#pragma once
// The scripts panel: the shell scripts a session runs before it is scanned and after it is
// copied, each with its switch, its text and a Try button that runs it now. The controls edit a
// ScriptEditor; leaving the panel checks the switched-on texts and, when one does not pass,
// keeps the user on it with the faulty line selected.

#include <QCheckBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <atomic>
#include <functional>
#include <thread>

#include "sessions/script_options.h"
#include "sessions/session_document.h"
#include "ui/option_panel.h"

namespace qv::ui {

class ScriptsPanel : public OptionPanel {
    Q_OBJECT
  public:
    ScriptsPanel(const sessions::SessionDocument& document, QWidget* parent,
                 platform::ChildRunner& runner = platform::SystemChildRunner());
    ~ScriptsPanel() override;

    void SetPanels(const plist::Value& appleScriptDict) override;
    bool GetPanels(plist::Value& session, std::string* message) override;
    bool SetIconOn(const plist::Value& session) const override;

    // The time limit of a script tried here, in seconds (0: none).
    std::function<std::int64_t()> scriptTimeout = [] { return sessions::kDefaultScriptTimeout; };

    // For tests: the controls of the before- (0) and after-script (1), and the alert on screen.
    QCheckBox* checkbox(int which) const { return rows_[which].on; }
    QPlainTextEdit* text(int which) const { return rows_[which].text; }
    QPushButton* tryButton(int which) const { return rows_[which].tryButton; }
    QMessageBox* alert() const { return alert_; }
    bool trying() const { return tryThread_.joinable() && !tryDone_; }

  signals:
    void tryEnded();

  private:
    struct Row {
        QCheckBox* on = nullptr;
        QPlainTextEdit* text = nullptr;
        QPushButton* tryButton = nullptr;
    };
    sessions::ScriptEditor Editor() const;
    void SelectLine(int which, int line);
    void TryOrStop(int which);
    void TryEnded(int which, bool ok, const sessions::ScriptEditor::Failure& failure,
                  const std::string& output);
    void Alert(QMessageBox::Icon icon, const std::string& title, const std::string& text);

    const sessions::SessionDocument& document_;
    platform::ChildRunner& runner_;
    Row rows_[2];
    QPointer<QMessageBox> alert_;
    std::thread tryThread_;
    std::atomic<bool> tryStop_{false};
    std::atomic<bool> tryDone_{false};
};

}  // namespace qv::ui
