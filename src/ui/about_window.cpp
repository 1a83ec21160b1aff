#include "ui/about_window.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "platform/version.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(Str(GLS("About Quorvel")));
    auto* layout = new QVBoxLayout(this);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/app.quorvel.Quorvel.svg")).pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    auto* name = new QLabel(QStringLiteral("Quorvel"), this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    version_ =
        new QLabel(Str(platform::FormatText(GLS("Version %@ (Build %@)"),
                                            {platform::kShortVersion, platform::kBuildVersion})),
                   this);
    version_->setObjectName(QStringLiteral("aboutVersion"));
    version_->setAlignment(Qt::AlignCenter);
    version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(version_);

    // The edition's letter in the window's title and the logs' header, told once.
    auto* edition = new QLabel(
        Str(GLS("The H. (Hidden) edition: sessions can run out of sight, from the timers or the "
                "system's scheduler with no window open; each log's header names the edition.")),
        this);
    edition->setObjectName(QStringLiteral("aboutEdition"));
    edition->setWordWrap(true);
    edition->setAlignment(Qt::AlignCenter);
    layout->addWidget(edition);

    auto* licence = new QLabel(Str(GLS("GNU General Public License, version 3 or later")), this);
    licence->setAlignment(Qt::AlignCenter);
    layout->addWidget(licence);

    const QString site = QLatin1String(platform::kWebSite);
    webSite_ = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(site), this);
    webSite_->setObjectName(QStringLiteral("aboutWebSite"));
    webSite_->setTextFormat(Qt::RichText);
    webSite_->setOpenExternalLinks(true);
    webSite_->setAlignment(Qt::AlignCenter);
    layout->addWidget(webSite_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    close_ = new QPushButton(Str(GLS("Close")), this);
    close_->setDefault(true);
    buttons->addWidget(close_);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace qv::ui
