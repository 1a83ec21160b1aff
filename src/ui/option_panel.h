#pragma once
// One page of the console's stack: the console itself or the panel of one option. The window
// moves between pages through this interface alone, so that each option's panel only maps
// its controls onto that option's editor.

#include <QWidget>

class QPushButton;
#include <string>

#include "sessions/plist_value.h"

namespace qv::ui {

class OptionPanel : public QWidget {
    Q_OBJECT
  public:
    // tab: the page's identifier ("console", "settings", ...); dictKey: the session
    // sub-dictionary the page edits ("" for the console).
    OptionPanel(std::string tab, std::string dictKey, QWidget* parent);

    const std::string& tab() const { return tab_; }
    const std::string& dictKey() const { return dictKey_; }

    // Loads the session's sub-dictionary into the controls (an empty one when it has none).
    void ShowPanel(const plist::Value& session);
    // Fills the controls from the sub-dictionary. The session itself is not touched until
    // GetPanels.
    virtual void SetPanels(const plist::Value& dict) = 0;
    // What a panel takes from the rest of the session (its folders), before SetPanels.
    virtual void SessionShown(const plist::Value& /*session*/) {}
    // Checks the controls and writes what they say into the session under dictKey(). On
    // invalid input the session is left as it was and `message` tells why.
    virtual bool GetPanels(plist::Value& session, std::string* message) = 0;
    // Whether the stored session uses the option: the marker of the option's button.
    virtual bool SetIconOn(const plist::Value& session) const = 0;

  signals:
    // The marker the controls stand for, sent on every edit so that the button follows the
    // user before anything is written.
    void iconOnChanged(bool on);

  private:
    std::string tab_;
    std::string dictKey_;
};

// The console page: the two folders of the session and the task arrow. Leaving it never
// fails and it writes nothing.
class ConsolePanel : public OptionPanel {
    Q_OBJECT
  public:
    explicit ConsolePanel(QWidget* parent);
    void SetPanels(const plist::Value&) override {}
    bool GetPanels(plist::Value&, std::string*) override { return true; }
    bool SetIconOn(const plist::Value&) const override { return false; }
};

// The page shown while no document is open: it offers New and Open.
class DocumentClosedPanel : public OptionPanel {
    Q_OBJECT
  public:
    explicit DocumentClosedPanel(QWidget* parent);
    void SetPanels(const plist::Value&) override {}
    bool GetPanels(plist::Value&, std::string*) override { return true; }
    bool SetIconOn(const plist::Value&) const override { return false; }
    QPushButton* newButton() const { return new_; }
    QPushButton* openButton() const { return open_; }

  private:
    QPushButton* new_ = nullptr;
    QPushButton* open_ = nullptr;
};

}  // namespace qv::ui
