#pragma once
// The table of a path list (the exclude list, the multiple list): clicks reported with the keys
// held, files dropped from a file browser onto a cell, and the menu of a path's enclosing
// folders. What a click or a drop means is the panel's to decide.

#include <QFileDialog>
#include <QMenu>
#include <QPointer>
#include <QTableWidget>
#include <functional>
#include <string>
#include <vector>

namespace qv::ui {

// Opens a file or folder with the desktop's program for it. When none opens it, a notice over
// `parent` says so: a click must never do nothing.
bool OpenWithDesktop(const std::string& path, QWidget* parent);
// What opens a URL on the desktop; tests replace it.
std::function<bool(const QUrl&)>& DesktopOpener();

// Shows the item in the desktop's file manager: its folder opened (the nearest existing one
// when the item is gone).
void RevealItem(const std::string& path, QWidget* parent);

// The items of a path menu, the item itself first, then each enclosing folder up to "/".
std::vector<std::string> PathMenuEntries(const std::string& path);

// Opens the picker of one file or folder (links not followed, hidden items shown), at `current`
// when it exists, else in `startFolder` when that is a folder, else at the home folder; `chosen`
// gets the picked path. The dialog deletes itself when closed.
QFileDialog* OpenItemDialog(QWidget* parent, const std::string& title, const std::string& button,
                            const std::string& current,
                            std::function<void(const std::string&)> chosen,
                            const std::string& startFolder = {});

class PathTable : public QTableWidget {
    Q_OBJECT
  public:
    PathTable(int rows, const QStringList& headers, QWidget* parent);

    // Whether files may be dropped onto that cell now.
    std::function<bool(int row, int column)> acceptsDrop;
    // The path a cell stands for ("" for none): the right-click menu lists its folders.
    std::function<std::string(int row, int column)> pathOf;

    // Sets a cell's text and look; a dimmed cell is shown in the disabled colour but still
    // answers clicks, as a pick in a list that is off switches the list on.
    void SetCell(int row, int column, const QString& text, bool dimmed,
                 const QString& toolTip = {});
    // The menu the last right-click opened (for tests).
    QMenu* pathMenu() const { return pathMenu_; }

  signals:
    void cellClickedWith(int row, int column, Qt::KeyboardModifiers modifiers);
    // The dropped files as paths (bytes), in the order given.
    void pathsDropped(int row, int column, const std::vector<std::string>& paths);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    bool DropTarget(const QPoint& viewportPos, const QMimeData* data, int* row, int* column) const;

    QPointer<QMenu> pathMenu_;
};

}  // namespace qv::ui
