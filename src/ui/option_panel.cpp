#include "ui/option_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "ui/option_markers.h"
#include "ui/qt_text.h"

namespace qv::ui {

OptionPanel::OptionPanel(std::string tab, std::string dictKey, QWidget* parent)
    : QWidget(parent), tab_(std::move(tab)), dictKey_(std::move(dictKey)) {
    setObjectName(QString::fromStdString(tab_) + QStringLiteral("Panel"));
}

void OptionPanel::ShowPanel(const plist::Value& session) {
    const plist::Value* dict = dictKey_.empty() ? nullptr : session.dictAt(dictKey_);
    SessionShown(session);
    SetPanels(dict != nullptr ? *dict : plist::Value(plist::Dict{}));
}

ConsolePanel::ConsolePanel(QWidget* parent) : OptionPanel("console", "", parent) {}

DocumentClosedPanel::DocumentClosedPanel(QWidget* parent)
    : OptionPanel("documentClosed", "", parent) {
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(Str(platform::GLS("No document is open.")), this);
    label->setAlignment(Qt::AlignCenter);
    auto* buttons = new QHBoxLayout;
    new_ = new QPushButton(Str(platform::GLS("New")), this);
    open_ = new QPushButton(Str(platform::GLS("Open…")), this);
    buttons->addStretch(1);
    buttons->addWidget(new_);
    buttons->addWidget(open_);
    buttons->addStretch(1);
    layout->addStretch(1);
    layout->addWidget(label);
    layout->addLayout(buttons);
    layout->addStretch(1);
}

}  // namespace qv::ui
