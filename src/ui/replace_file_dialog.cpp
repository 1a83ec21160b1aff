#include "ui/replace_file_dialog.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/file_io.h"
#include "platform/localization.h"
#include "ui/path_table.h"
#include "ui/qt_text.h"
#include "ui/size_display.h"

namespace qv::ui {

using platform::GLS;

namespace {

QString Text(const std::string& crJoined) {
    QString text = Str(crJoined);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text.trimmed();
}

}  // namespace

ReplaceFileDialog::ReplaceFileDialog(const run::ConflictQuestion& q, Reply reply, QWidget* parent)
    : QDialog(parent), model_(fileops::BuildReplaceDialog(q)), reply_(std::move(reply)) {
    setObjectName(QStringLiteral("replaceFileDialog"));
    setWindowTitle(Str(model_.windowTitle));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(12);

    auto* heading = new QLabel(Str(model_.windowTitle), this);
    heading->setObjectName(QStringLiteral("heading"));
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    heading->setFont(bold);
    layout->addWidget(heading);

    explanation_ = new QLabel(this);
    explanation_->setObjectName(QStringLiteral("explanation"));
    explanation_->setWordWrap(true);
    explanation_->setMinimumWidth(420);
    layout->addWidget(explanation_);

    layout->addLayout(BuildItems());
    BuildAnswerRows(layout);
    ShowDirection();

    connect(swap_, &QPushButton::clicked, this, [this] {
        fileops::ChangeDirection(model_);
        ShowDirection();
    });
    connect(replace_, &QPushButton::clicked, this, [this] { Finish(fileops::kReplaceButtonTag); });
    connect(skip_, &QPushButton::clicked, this, [this] { Finish(fileops::kSkipButtonTag); });
    connect(stop_, &QPushButton::clicked, this, [this] { Finish(fileops::kStopButtonTag); });
    // Escape and the close box skip this item, as the safest answer that keeps the run going.
    connect(this, &QDialog::rejected, this, [this] {
        if (reply_) Finish(fileops::kSkipButtonTag);
    });
}

QLayout* ReplaceFileDialog::BuildItems() {
    // Both items; the one the question is not about (a deletion's other side) is dimmed.
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    const bool aOn = model_.items != fileops::ReplaceItems::DestOnly;
    const bool bOn = model_.items != fileops::ReplaceItems::SourceOnly;
    const struct {
        const std::string& path;
        const std::string& date;
        const std::optional<std::uint64_t>& size;
        std::string role;
        const char* name;
        bool on;
    } sides[] = {{model_.sourcePath, model_.sourceModifDate, model_.sourceSize, GLS("Source"),
                  "sourcePath", aOn},
                 {model_.destPath, model_.destModifDate, model_.destSize, GLS("Destination"),
                  "destPath", bOn}};
    int row = 0;
    for (const auto& side : sides) {
        const QFileInfo info(Path(side.path));
        auto* icon = new QLabel(this);
        icon->setPixmap(QIcon(info.isDir() ? QStringLiteral(":/icons/icn_folder.svg")
                                           : QStringLiteral(":/icons/icn_file.svg"))
                            .pixmap(QSize(40, 40), side.on ? QIcon::Normal : QIcon::Disabled));
        grid->addWidget(icon, row, 0, 3, 1, Qt::AlignTop);
        auto* role = new QLabel(Str(side.role), this);
        role->setStyleSheet(QStringLiteral("font-weight: 600;"));
        role->setEnabled(side.on);
        grid->addWidget(role, row, 1);
        auto* path = new QLabel(Path(side.path), this);
        path->setObjectName(QLatin1String(side.name));
        path->setTextInteractionFlags(Qt::TextSelectableByMouse);
        path->setWordWrap(true);
        path->setEnabled(side.on);
        grid->addWidget(path, row + 1, 1);
        // The date, then the size of a file: which one holds more shows at a glance.
        auto* date = new QLabel(
            Str(side.date) + (side.size ? QStringLiteral("  \u2022  ") + Str(GLS("Size:")) +
                                              QLatin1Char(' ') + Str(SizeText(*side.size))
                                        : QString()),
            this);
        date->setObjectName(QLatin1String(side.name) + QStringLiteral("Facts"));
        date->setEnabled(false);
        grid->addWidget(date, row + 2, 1);
        // Shows the item in its folder.
        auto* reveal = new QToolButton(this);
        reveal->setIcon(QIcon(QStringLiteral(":/icons/icn_reveal.svg")));
        reveal->setToolTip(Str(GLS("Show in its folder")));
        reveal->setEnabled(side.on && info.exists());
        connect(reveal, &QToolButton::clicked, this,
                [this, path = side.path] { RevealItem(path, this); });
        grid->addWidget(reveal, row, 2, 3, 1, Qt::AlignTop);
        row += 3;
    }
    grid->setColumnStretch(1, 1);
    return grid;
}

void ReplaceFileDialog::BuildAnswerRows(QVBoxLayout* layout) {
    auto* directionRow = new QHBoxLayout;
    direction_ = new QLabel(this);
    direction_->setObjectName(QStringLiteral("direction"));
    direction_->setEnabled(model_.directionEnabled);
    directionRow->addWidget(direction_);
    swap_ = new QPushButton(Str(GLS("Swap the direction")), this);
    swap_->setObjectName(QStringLiteral("swapButton"));
    swap_->setVisible(model_.swapVisible);
    directionRow->addWidget(swap_);
    directionRow->addStretch(1);
    layout->addLayout(directionRow);

    auto* buttons = new QHBoxLayout;
    stop_ = new QPushButton(Str(GLS("Stop")), this);
    skip_ = new QPushButton(Str(model_.skipTitle), this);
    skip_->setToolTip(Str(model_.skipTooltip));
    replace_ = new QPushButton(Str(model_.okTitle), this);
    // A stray Enter must not delete: a deletion question defaults to keeping the file.
    const bool deletes = model_.conflict == 21 || model_.conflict == 22 || model_.conflict == 41 ||
                         model_.conflict == 42;
    (deletes ? skip_ : replace_)->setDefault(true);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    buttons->addWidget(skip_);
    buttons->addWidget(replace_);
    layout->addLayout(buttons);
}

ReplaceFileDialog::~ReplaceFileDialog() {
    if (reply_) reply_({run::ConflictAnswer::Stop, false});
}

void ReplaceFileDialog::ShowDirection() {
    if (!model_.directionIcon.empty()) {
        direction_->setPixmap(
            QIcon(QStringLiteral(":/icons/%1.svg").arg(Str(model_.directionIcon))).pixmap(28, 28));
    }
    direction_->setToolTip(Str(model_.directionTooltip));
    explanation_->setText(Text(model_.explanation));
    replace_->setToolTip(Str(model_.okTooltip));
}

void ReplaceFileDialog::Finish(int tag) {
    if (!reply_) return;
    Reply reply = std::move(reply_);
    reply_ = nullptr;
    reply(fileops::ReplyForButtonCode(fileops::ButtonCode(model_, tag)));
    if (isVisible()) accept();
}

}  // namespace qv::ui
