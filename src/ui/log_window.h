#pragma once
// The log window: the last run's log, or any saved log file, in a monospaced view, with
// buttons that jump to the previous or next line reporting an error. The right-click menu of a
// line naming an item offers the item's versions.

#include <QMainWindow>
#include <functional>
#include <string>

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace qv::ui {

class LogWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit LogWindow(QWidget* parent = nullptr);

    // Shows the log file at `path`; when nothing (or a folder) stands there, the log text of
    // the last run instead, titled "Log Window". False when there is nothing to show, or the
    // file cannot be read (an alert says so).
    bool FillLogWindow(const std::string& path, const std::string& currentLog);
    // Selects the next (or previous) error line after (before) the selection, going round
    // the end of the text; beeps when the log has none. False when none was found.
    bool LogFindError(bool previous);

    QPlainTextEdit* view() const { return view_; }
    QLabel* searchNote() const { return found_; }
    QString selectedText() const;
    // The folder the Open button starts in.
    void setLogFolder(const std::string& folder) { logFolder_ = folder; }
    // What "Versions of This Item…" does with the path of the line clicked.
    std::function<void(const std::string& path)> onShowVersions;
    // The right-click menu of the view at `at` (viewport coordinates), not yet shown.
    QMenu* LineMenu(const QPoint& at);

  private:
    void OpenLogFile();
    void ShowText(const QString& text);

    QPlainTextEdit* view_ = nullptr;
    QLabel* found_ = nullptr;  // says when a search found nothing
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    std::string logFolder_;
};

}  // namespace qv::ui
