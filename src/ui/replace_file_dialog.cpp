#include "ui/replace_file_dialog.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "run/plan_item.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

namespace {

QString DateText(const QDateTime& date) {
    return date.isValid()
               ? QLocale().toString(date, QStringLiteral("dddd, MMM dd, yyyy - HH:mm:ss"))
               : QStringLiteral("--");
}

QLabel* PathLabel(const std::string& path, QWidget* parent) {
    auto* label = new QLabel(Path(path), parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    label->setMinimumWidth(360);
    return label;
}

}  // namespace

ReplaceFileDialog::ReplaceFileDialog(const run::ConflictQuestion& q, Reply reply, QWidget* parent)
    : QDialog(parent), reply_(std::move(reply)) {
    setObjectName(QStringLiteral("replaceFileDialog"));
    setWindowTitle(Str(GLS("Replace File")));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(12);

    auto* heading = new QLabel(Str(GLS("Conflict") + " " + std::to_string(q.conflict) + ": " +
                                   run::CopyModeName(q.copyMode)),
                               this);
    heading->setObjectName(QStringLiteral("heading"));
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    heading->setFont(bold);
    layout->addWidget(heading);

    if (q.date) {
        const QDateTime since = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(*q.date * 1000));
        auto* sinceLabel = new QLabel(
            Str(GLS("Since the last Sync/Backup (")) + DateText(since) + QLatin1Char(')'), this);
        sinceLabel->setObjectName(QStringLiteral("since"));
        layout->addWidget(sinceLabel);
    }

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    const struct {
        const std::string& path;
        std::string role;
        const char* name;
    } sides[] = {{q.source, GLS("Source"), "sourcePath"}, {q.dest, GLS("Destination"), "destPath"}};
    int row = 0;
    for (const auto& side : sides) {
        const QFileInfo info(Path(side.path));
        auto* icon = new QLabel(this);
        icon->setPixmap(QIcon(info.isDir() ? QStringLiteral(":/icons/icn_folder.svg")
                                           : QStringLiteral(":/icons/icn_file.svg"))
                            .pixmap(40, 40));
        grid->addWidget(icon, row, 0, 3, 1, Qt::AlignTop);
        auto* role = new QLabel(Str(side.role), this);
        role->setStyleSheet(QStringLiteral("font-weight: 600;"));
        grid->addWidget(role, row, 1);
        QLabel* path = PathLabel(side.path, this);
        path->setObjectName(QLatin1String(side.name));
        grid->addWidget(path, row + 1, 1);
        auto* date = new QLabel(Str(GLS("Modification Date: ")) +
                                    DateText(info.exists() ? info.lastModified() : QDateTime()),
                                this);
        date->setEnabled(false);
        grid->addWidget(date, row + 2, 1);
        row += 3;
    }
    layout->addLayout(grid);

    if (q.canChangeDirection) {
        changeDirection_ = new QCheckBox(Str(GLS("Change direction")), this);
        layout->addWidget(changeDirection_);
    }

    const bool deletes = q.copyMode == run::kModeDeleteInA || q.copyMode == run::kModeDeleteInB;
    auto* buttons = new QHBoxLayout;
    stop_ = new QPushButton(Str(GLS("Stop")), this);
    skip_ = new QPushButton(Str(GLS("Skip")), this);
    replace_ = new QPushButton(Str(GLS(deletes ? "Delete" : "Replace")), this);
    replace_->setDefault(true);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    buttons->addWidget(skip_);
    buttons->addWidget(replace_);
    layout->addLayout(buttons);

    const auto finish = [this](run::ConflictAnswer answer) {
        Answer(answer);
        accept();
    };
    connect(replace_, &QPushButton::clicked, this,
            [finish] { finish(run::ConflictAnswer::Proceed); });
    connect(skip_, &QPushButton::clicked, this, [finish] { finish(run::ConflictAnswer::Skip); });
    connect(stop_, &QPushButton::clicked, this, [finish] { finish(run::ConflictAnswer::Stop); });
    // Escape and the close box skip this item, as the safest answer that keeps the run going.
    connect(this, &QDialog::rejected, this, [this] { Answer(run::ConflictAnswer::Skip); });
}

ReplaceFileDialog::~ReplaceFileDialog() {
    if (reply_) reply_({run::ConflictAnswer::Stop, false});
}

void ReplaceFileDialog::Answer(run::ConflictAnswer answer) {
    if (!reply_) return;
    const bool swapped = changeDirection_ != nullptr && changeDirection_->isChecked();
    Reply reply = std::move(reply_);
    reply_ = nullptr;
    reply({answer, answer == run::ConflictAnswer::Proceed && swapped});
}

}  // namespace qv::ui
