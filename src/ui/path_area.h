#pragma once
// One side of the console: the pick button with the item's icon, the path (shortened in its
// middle to fit), and the button that opens the folder. Items dropped on it are offered as
// the side's new path.

#include <QFrame>
#include <QIcon>
#include <QMenu>
#include <QPointer>

class QLabel;
class QToolButton;

namespace qv::ui {

class PathArea : public QFrame {
    Q_OBJECT
  public:
    PathArea(const QString& role, QWidget* parent);

    // The full text; shown shortened when the field is too narrow. A placeholder is dimmed.
    void setPathText(const QString& text, bool placeholder);
    QString pathText() const { return text_; }
    bool isPlaceholder() const { return placeholder_; }
    QString shownText() const;
    void setIcon(const QIcon& icon);
    void setPathToolTip(const QString& tip);
    void setTextColor(const QColor& color);

    QToolButton* pickButton() const { return pick_; }
    QToolButton* openButton() const { return open_; }
    QLabel* pathLabel() const { return path_; }
    // The right-click menu last shown (for tests).
    QMenu* contextMenu() const { return menu_; }

  signals:
    void picked();
    void openClicked(Qt::KeyboardModifiers modifiers);
    void dropped(const QString& path);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void Refresh();

    QString text_;
    bool placeholder_ = false;
    QColor color_;
    QLabel* role_ = nullptr;
    QLabel* path_ = nullptr;
    QToolButton* pick_ = nullptr;
    QToolButton* open_ = nullptr;
    QPointer<QMenu> menu_;
};

}  // namespace qv::ui
