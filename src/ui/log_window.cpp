#include "ui/log_window.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include "platform/file_io.h"
#include "platform/localization.h"
#include "run/run_state.h"
#include "schedule/log_files.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

namespace {

// The log's carriage returns, as lines the view shows.
QString Displayed(const std::string& log) {
    QString text = QString::fromUtf8(log.data(), static_cast<qsizetype>(log.size()));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// The item a line of the log names: the first absolute path between double quotes, or the line
// itself when it is an absolute path; "" for none.
std::string PathNamedOnLine(const QString& line) {
    static const QRegularExpression quoted(QStringLiteral("\"(/[^\"]*)\""));
    const QRegularExpressionMatch match = quoted.match(line);
    if (match.hasMatch()) return PathBytes(match.captured(1));
    const QString bare = line.trimmed();
    return bare.startsWith(QLatin1Char('/')) ? PathBytes(bare) : std::string();
}

}  // namespace

LogWindow::LogWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("logWindow"));
    setWindowTitle(Str(GLS("Log Window")));
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    view_ = new QPlainTextEdit(central);
    view_->setReadOnly(true);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The selection of an error must show while the buttons have the focus.
    view_->setStyleSheet(QStringLiteral(
        "QPlainTextEdit { selection-background-color: #2563eb; selection-color: white; }"));
    column->addWidget(view_);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view_, &QPlainTextEdit::customContextMenuRequested, this,
            [this](const QPoint& at) { LineMenu(at)->popup(view_->viewport()->mapToGlobal(at)); });
    auto* row = new QHBoxLayout;
    auto* open = new QPushButton(Str(GLS("Open Log File...")), central);
    previous_ = new QPushButton(Str(GLS("Previous Error")), central);
    next_ = new QPushButton(Str(GLS("Next Error")), central);
    previous_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G));
    next_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    previous_->setToolTip(Str(GLS("The previous line that reports an error")) +
                          QStringLiteral(" (Ctrl+Shift+G)"));
    next_->setToolTip(Str(GLS("The next line that reports an error")) +
                      QStringLiteral(" (Ctrl+G)"));
    row->addWidget(open);
    found_ = new QLabel(central);
    found_->setObjectName(QStringLiteral("errorSearch"));
    row->addWidget(found_, 1);
    row->addWidget(previous_);
    row->addWidget(next_);
    column->addLayout(row);
    connect(open, &QPushButton::clicked, this, &LogWindow::OpenLogFile);
    connect(previous_, &QPushButton::clicked, this, [this] { LogFindError(true); });
    connect(next_, &QPushButton::clicked, this, [this] { LogFindError(false); });
    setCentralWidget(central);
    resize(760, 560);
}

bool LogWindow::FillLogWindow(const std::string& path, const std::string& currentLog) {
    if (path.empty() || !platform::ItemExists(path) || platform::IsExistingFolder(path)) {
        if (currentLog.empty()) return false;
        setWindowTitle(Str(GLS("Log Window")));
        setWindowFilePath(QString());
        ShowText(Displayed(currentLog));
        return true;
    }
    std::string text, error;
    if (!schedule::ReadLogFile(path, &text, &error)) {
        auto* box = new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")),
                                    Str(GLS("Can't open this Log file.")), QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("logUnreadable"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    setWindowTitle(Path(platform::LastPathComponent(path)));
    setWindowFilePath(Path(path));
    ShowText(Displayed(text));
    return true;
}

void LogWindow::ShowText(const QString& text) {
    view_->setPlainText(text);
    view_->moveCursor(QTextCursor::Start);
}

QString LogWindow::selectedText() const {
    // The view gives paragraph separators for line ends inside a selection.
    return view_->textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

QMenu* LogWindow::LineMenu(const QPoint& at) {
    QMenu* menu = view_->createStandardContextMenu(at);
    menu->setObjectName(QStringLiteral("logLineMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const std::string path = PathNamedOnLine(view_->cursorForPosition(at).block().text());
    if (onShowVersions && !path.empty()) {
        menu->addSeparator();
        QAction* versions = menu->addAction(Str(GLS("Versions of This Item…")));
        versions->setObjectName(QStringLiteral("versionsOfItem"));
        versions->setToolTip(Path(path));
        connect(versions, &QAction::triggered, this, [this, path] { onShowVersions(path); });
    }
    return menu;
}

bool LogWindow::LogFindError(bool previous) {
    const QString marker = Str(run::kErrorMarker);
    QTextDocument* document = view_->document();
    const QTextCursor selection = view_->textCursor();
    const int start = selection.hasSelection() ? selection.selectionStart() : 0;
    const int end = selection.hasSelection() ? selection.selectionEnd() : 0;
    const QString text = document->toPlainText();
    qsizetype found = -1;
    if (!previous) {
        found = text.indexOf(marker, end);
        if (found < 0) {
            found = text.left(start).indexOf(marker);
        }
    } else {
        // Backwards from the start of the selection, then from the end of the text down to
        // the end of the selection.
        if (start > 0) found = text.lastIndexOf(marker, start - 1);
        if (found >= 0 && found + marker.size() > start) found = -1;
        if (found < 0) {
            found = text.lastIndexOf(marker);
            if (found >= 0 && found < end) found = -1;
        }
    }
    if (found < 0) {
        QApplication::beep();
        found_->setText(Str(text.contains(marker) ? GLS("No other error in this log.")
                                                  : GLS("No error in this log.")));
        return false;
    }
    found_->clear();
    // The whole line, also the last one of a text without a final line end.
    qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), found);
    if (lineEnd < 0) lineEnd = text.size();
    QTextCursor cursor(document);
    cursor.setPosition(static_cast<int>(found));
    cursor.setPosition(static_cast<int>(lineEnd), QTextCursor::KeepAnchor);
    view_->setTextCursor(cursor);
    // The line shown a third of the way down, the item's path on the lines under it in view.
    QScrollBar* bar = view_->verticalScrollBar();
    const int lines = std::max(view_->viewport()->height() / view_->fontMetrics().lineSpacing(), 1);
    bar->setValue(std::max(view_->textCursor().blockNumber() - lines / 3, 0));
    view_->ensureCursorVisible();
    return true;
}

void LogWindow::OpenLogFile() {
    const QString start = Path(logFolder_);
    auto* dialog = new QFileDialog(this, Str(GLS("Open Log File...")), start,
                                   Str(GLS("Log files")) + QStringLiteral(" (QVLog_*)"));
    dialog->setObjectName(QStringLiteral("openLog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& file) { FillLogWindow(PathBytes(file), {}); });
    dialog->open();
}

}  // namespace qv::ui
