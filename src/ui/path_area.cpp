#include "ui/path_area.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/in_place_commands.h"
#include "ui/middle_truncation.h"

namespace qv::ui {

namespace {

QString FirstLocalPath(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls()) return {};
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) return url.toLocalFile();
    }
    return {};
}

}  // namespace

PathArea::PathArea(const QString& role, QWidget* parent) : QFrame(parent) {
    setAcceptDrops(true);
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QStringLiteral("pathArea"));
    setFocusPolicy(Qt::StrongFocus);  // for its keys
    setMinimumHeight(78);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(12);

    pick_ = new QToolButton(this);
    pick_->setIconSize(QSize(48, 48));
    pick_->setAutoRaise(true);
    pick_->setCursor(Qt::PointingHandCursor);
    layout->addWidget(pick_);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    role_ = new QLabel(role, this);
    QFont small = role_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    small.setCapitalization(QFont::AllUppercase);
    small.setLetterSpacing(QFont::PercentageSpacing, 106);
    role_->setFont(small);
    role_->setEnabled(false);
    texts->addWidget(role_);
    path_ = new QLabel(this);
    QFont pathFont = path_->font();
    pathFont.setPointSizeF(pathFont.pointSizeF() * 1.08);
    path_->setFont(pathFont);
    path_->setMinimumWidth(80);
    path_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    texts->addWidget(path_);
    layout->addLayout(texts, 1);

    open_ = new QToolButton(this);
    open_->setIcon(QIcon(QStringLiteral(":/icons/icn_reveal.svg")));
    open_->setIconSize(QSize(18, 18));
    open_->setAutoRaise(true);
    layout->addWidget(open_);

    connect(pick_, &QToolButton::clicked, this, &PathArea::picked);
    connect(open_, &QToolButton::clicked, this,
            [this] { emit openClicked(QApplication::keyboardModifiers()); });
    // The clicks on the two buttons as keys while the area has the focus, and in its menu;
    // each does what its button would, and nothing while the button is off.
    AddInPlaceAction(this, InPlace::kFolderChoose, [this] {
        if (pick_->isEnabled()) emit picked();
    });
    AddInPlaceAction(this, InPlace::kFolderShow, [this] {
        if (open_->isEnabled()) emit openClicked(Qt::NoModifier);
    });
    AddInPlaceAction(this, InPlace::kFolderClear, [this] {
        if (open_->isEnabled()) emit openClicked(Qt::AltModifier);
    });
}

void PathArea::contextMenuEvent(QContextMenuEvent* event) {
    if (menu_) menu_->close();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* action : actions()) {
        const auto id = static_cast<InPlace>(action->data().toInt());
        action->setEnabled(id == InPlace::kFolderChoose ? pick_->isEnabled() : open_->isEnabled());
        menu->addAction(action);
    }
    connect(menu, &QMenu::aboutToHide, this, [this] {
        for (QAction* action : actions()) action->setEnabled(true);
    });
    menu_ = menu;
    menu->popup(event->globalPos());
}

void PathArea::setPathText(const QString& text, bool placeholder) {
    text_ = text;
    placeholder_ = placeholder;
    Refresh();
}

QString PathArea::shownText() const { return path_->text(); }

void PathArea::setIcon(const QIcon& icon) { pick_->setIcon(icon); }

void PathArea::setPathToolTip(const QString& tip) {
    path_->setToolTip(tip);
    setToolTip(tip);
}

void PathArea::setTextColor(const QColor& color) {
    color_ = color;
    Refresh();
}

void PathArea::Refresh() {
    QPalette p = path_->palette();
    QColor c = color_.isValid() ? color_ : palette().color(QPalette::Text);
    if (placeholder_) c = palette().color(QPalette::PlaceholderText);
    p.setColor(QPalette::WindowText, c);
    path_->setPalette(p);
    QFont f = path_->font();
    f.setItalic(placeholder_);
    path_->setFont(f);
    path_->setText(TruncatedString(text_, *path_));
}

void PathArea::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    Refresh();
}

void PathArea::dragEnterEvent(QDragEnterEvent* event) {
    if (!FirstLocalPath(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void PathArea::dropEvent(QDropEvent* event) {
    const QString path = FirstLocalPath(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    emit dropped(path);
}

}  // namespace qv::ui
