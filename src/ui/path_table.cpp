#include "ui/path_table.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QUrl>

#include "platform/file_io.h"
#include "platform/localization.h"
#include "ui/error_alert.h"
#include "ui/in_place_commands.h"
#include "ui/middle_truncation.h"
#include "ui/qt_text.h"

namespace qv::ui {

std::function<bool(const QUrl&)>& DesktopOpener() {
    static std::function<bool(const QUrl&)> opener = [](const QUrl& url) {
        return QDesktopServices::openUrl(url);
    };
    return opener;
}

bool OpenWithDesktop(const std::string& path, QWidget* parent) {
    if (DesktopOpener()(QUrl::fromLocalFile(Path(path)))) return true;
    ShowNotice(parent,
               platform::FormatText(
                   platform::GLS("Can't show \"%@\": no file manager or other program opens it "
                                 "on this desktop."),
                   {path}));
    return false;
}

void RevealItem(const std::string& path, QWidget* parent) {
    if (path.empty()) return;
    std::string item = path;
    for (int level = 0; level < 1024 && !platform::ItemExists(item) && item != "/"; ++level) {
        item = platform::ParentFolder(item);
    }
    // The item is shown in its folder; "/" has none but itself.
    const std::string folder = item == "/" ? item : platform::ParentFolder(item);
    OpenWithDesktop(folder, parent);
}

std::vector<std::string> PathMenuEntries(const std::string& path) {
    std::vector<std::string> entries;
    std::string item = path;
    while (!item.empty() && item.front() == '/' && entries.size() < 1024) {
        entries.push_back(item);
        if (item == "/") break;
        item = platform::ParentFolder(item);
    }
    return entries;
}

namespace {

// Picks one file or folder: a folder selected when the accept button is pressed is the choice,
// not a folder to enter (double-clicking enters it).
class ItemDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;
    void accept() override {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && QFileInfo(files.front()).isDir()) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

// Paths keep their beginning and their item's name: shortened in the middle to the cell's width
// when drawn, so that they follow the columns as the window is resized.
class MiddleTruncatingDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int width = option->rect.width() - 8;  // the cell's text margins
        if (width <= 0) return;
        const QFontMetrics& metrics = option->fontMetrics;
        option->text = TruncatedString(option->text, width, [&metrics](const QString& text) {
            return metrics.horizontalAdvance(text);
        });
    }
};

}  // namespace

QFileDialog* OpenItemDialog(QWidget* parent, const std::string& title, const std::string& button,
                            const std::string& current,
                            std::function<void(const std::string&)> chosen,
                            const std::string& startFolder) {
    auto* dialog = new ItemDialog(parent, Str(title));
    dialog->setObjectName(QStringLiteral("itemDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog, qEnvironmentVariableIsSet("QV_TEST"));
    dialog->setOption(QFileDialog::DontResolveSymlinks);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setFilter(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    dialog->setLabelText(QFileDialog::Accept, Str(button));
    if (!current.empty() && platform::ItemExists(current)) {
        dialog->setDirectory(Path(platform::ParentFolder(current)));
        dialog->selectFile(Path(current));
    } else if (!startFolder.empty() && platform::IsExistingFolder(startFolder)) {
        dialog->setDirectory(Path(startFolder));
    } else {
        dialog->setDirectory(QDir::homePath());
    }
    QObject::connect(dialog, &QFileDialog::finished, parent,
                     [dialog, chosen = std::move(chosen)](int result) {
                         const QStringList files = dialog->selectedFiles();
                         if (result == QDialog::Accepted && files.size() == 1) {
                             chosen(PathBytes(files.front()));
                         }
                     });
    dialog->open();
    return dialog;
}

PathTable::PathTable(int rows, const QStringList& headers, QWidget* parent)
    : QTableWidget(rows, static_cast<int>(headers.size()), parent) {
    setHorizontalHeaderLabels(headers);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setItemDelegate(new MiddleTruncatingDelegate(this));
    setStyleSheet(QStringLiteral("QTableWidget { gridline-color: #f5f5f5; }"));
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columnCount(); ++c) {
            auto* cell = new QTableWidgetItem;
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsDropEnabled);
            if (c == 0) cell->setTextAlignment(Qt::AlignCenter);
            setItem(r, c, cell);
        }
    }
}

void PathTable::SetCell(int row, int column, const QString& text, bool dimmed,
                        const QString& toolTip) {
    QTableWidgetItem* cell = item(row, column);
    cell->setText(text);
    cell->setToolTip(toolTip);
    cell->setForeground(
        palette().brush(dimmed ? QPalette::Disabled : QPalette::Active, QPalette::Text));
}

void PathTable::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTableWidget::mousePressEvent(event);
        return;
    }
    const QModelIndex at = indexAt(event->position().toPoint());
    if (at.isValid()) emit cellClickedWith(at.row(), at.column(), event->modifiers());
    event->accept();
}

void PathTable::contextMenuEvent(QContextMenuEvent* event) {
    const QModelIndex at = indexAt(event->pos());
    if (!at.isValid()) return;
    const std::string path = pathOf ? pathOf(at.row(), at.column()) : "";
    if (pathMenu_) pathMenu_->close();
    // The cell's commands, then the item and its folders.
    QMenu* menu = CellMenu(this, at.row(), at.column());
    menu->setObjectName(QStringLiteral("ContextPath"));
    if (!path.empty() && !menu->isEmpty()) menu->addSeparator();
    QFileIconProvider icons;
    for (const std::string& entry : PathMenuEntries(path)) {
        const QString shown =
            entry == "/" ? QStringLiteral("/") : Path(platform::LastPathComponent(entry));
        const QFileInfo info(Path(entry));
        QIcon icon = info.exists() ? icons.icon(info) : icons.icon(QFileIconProvider::File);
        QAction* action = menu->addAction(icon, shown);
        connect(action, &QAction::triggered, this, [this, entry] { RevealItem(entry, this); });
    }
    pathMenu_ = menu;
    menu->popup(event->globalPos());
}

bool PathTable::DropTarget(const QPoint& viewportPos, const QMimeData* data, int* row,
                           int* column) const {
    if (data == nullptr || !data->hasUrls()) return false;
    bool anyFile = false;
    for (const QUrl& url : data->urls()) anyFile = anyFile || url.isLocalFile();
    const QModelIndex at = indexAt(viewportPos);
    if (!anyFile || !at.isValid() || !acceptsDrop || !acceptsDrop(at.row(), at.column())) {
        return false;
    }
    *row = at.row();
    *column = at.column();
    return true;
}

void PathTable::dragEnterEvent(QDragEnterEvent* event) {
    // Accepted over the whole table, so that moves reach the cells; each cell decides there.
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void PathTable::dragMoveEvent(QDragMoveEvent* event) {
    int row = 0;
    int column = 0;
    if (DropTarget(event->position().toPoint(), event->mimeData(), &row, &column)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void PathTable::dropEvent(QDropEvent* event) {
    int row = 0;
    int column = 0;
    if (!DropTarget(event->position().toPoint(), event->mimeData(), &row, &column)) {
        event->ignore();
        return;
    }
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        // Decoded from the URL's own percent-encoding, so that names that are not UTF-8 keep
        // their bytes.
        if (url.isLocalFile()) {
            paths.push_back(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())
                                .toStdString());
        }
    }
    event->acceptProposedAction();
    emit pathsDropped(row, column, paths);
}

}  // namespace qv::ui
