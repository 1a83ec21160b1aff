#include "ui/info_drawer.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>

#include "platform/file_io.h"
#include "platform/item_attributes.h"
#include "platform/localization.h"
#include "run/plan_item.h"
#include "ui/middle_truncation.h"
#include "ui/qt_text.h"
#include "ui/size_display.h"

namespace qv::ui {

using platform::GLS;

namespace {

std::uint64_t FileSize(const std::string& path) {
    const platform::ItemAttributes a = platform::ReadItemAttributes(path.c_str());
    return a.exists() && a.type == platform::ItemType::RegularFile ? a.size : 0;
}

}  // namespace

InfoDrawer::InfoDrawer(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("infoDrawer"));
    setFrameShape(QFrame::StyledPanel);
    setFixedSize(300, 210);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 10, 12, 10);
    icon_ = new QLabel(this);
    action_ = new QLabel(this);
    QFont bold = action_->font();
    bold.setBold(true);
    action_->setFont(bold);
    source_ = new QLabel(this);
    dest_ = new QLabel(this);
    size_ = new QLabel(this);
    copied_ = new QLabel(this);
    rate_ = new QLabel(this);
    left_ = new QLabel(this);
    for (QLabel* l : {source_, dest_}) {
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    grid->addWidget(icon_, 0, 0);
    grid->addWidget(action_, 0, 1);
    grid->addWidget(source_, 1, 0, 1, 2);
    grid->addWidget(dest_, 2, 0, 1, 2);
    grid->addWidget(size_, 3, 0, 1, 2);
    grid->addWidget(copied_, 4, 0, 1, 2);
    auto* pace = new QHBoxLayout;
    pace->addWidget(rate_);
    pace->addWidget(left_);
    grid->addLayout(pace, 5, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
}

QString InfoDrawer::text() const {
    return QStringList{action_->text(), source_->text(), dest_->text(), size_->text(),
                       copied_->text(), rate_->text(),   left_->text()}
        .join(QLatin1Char('\n'));
}

void InfoDrawer::Show(const app::ProgressFigures* figures) {
    const app::ProgressFigures f = figures != nullptr ? *figures : app::ProgressFigures{};
    const int m = f.item.copyMode;
    const bool copies = m == run::kModeCopyAtoB || m == run::kModeCopyBtoA;
    const bool replaces = m == run::kModeReplaceBwithA || m == run::kModeReplaceAwithB;
    const bool deletes = m == run::kModeDeleteInA || m == run::kModeDeleteInB;
    const bool aToB = m == run::kModeCopyAtoB || m == run::kModeReplaceBwithA;
    const std::string& from = f.readPath();
    const std::string& to = aToB ? f.item.dest : f.item.source;
    const char* icon = copies     ? (aToB ? "icnCopyAtoB" : "icnCopyBtoA")
                       : replaces ? (aToB ? "icnPreviewViolet" : "icnPreviewOrange")
                       : deletes  ? "icnPreviewDelete"
                                  : "icnProcessing";
    icon_->setPixmap(NamedIcon(icon).pixmap(22, 22));
    action_->setText(Str(copies     ? GLS("Copying:")
                         : replaces ? GLS("Replacing:")
                         : deletes  ? GLS("Deleting:")
                                    : GLS("Processing item:")));
    const bool shown = copies || replaces || deletes;
    source_->setText(shown ? TruncatedString(Path(from), *source_) : QString());
    dest_->setText(copies || replaces ? TruncatedString(Path(to), *dest_) : QString());
    if (shown) {
        // The content being copied is the item's size; a deletion's is read from the disk.
        const std::uint64_t size = f.itemBytes > 0 ? f.itemBytes : FileSize(from);
        size_->setText(size > 0 || !platform::IsExistingFolder(from) ? Str(SizeText(size))
                                                                     : QStringLiteral("--"));
    } else {
        size_->clear();
    }
    if ((copies || replaces) && f.itemBytes > 0) {
        copied_->setText(Str(BytesCopiedText(f.itemBytesDone, f.itemBytes)));
    } else {
        copied_->clear();
    }
    if (figures != nullptr) {
        rate_->setText(Str(GLS("Rate:")) + QLatin1Char(' ') +
                       Str(f.bytesPerSecond ? app::RateText(*f.bytesPerSecond) : "--"));
        left_->setText(Str(GLS("Time left:")) + QLatin1Char(' ') +
                       Str(app::TimeLeftText(f.secondsLeft)));
    } else {
        rate_->clear();
        left_->clear();
    }
}

}  // namespace qv::ui
