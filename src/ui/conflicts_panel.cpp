#include "ui/conflicts_panel.h"

#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <string_view>

#include "platform/localization.h"
#include "sessions/conflict_options.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

namespace {

// "Backup 1", "Backup 2", "Sync": the log's label with its number, without the colon.
QString RowTitle(const sessions::ConflictKind& kind) {
    QString separator = QString::fromLatin1(kind.logSeparator).trimmed();
    if (separator.endsWith(QLatin1Char(':'))) separator.chop(1);
    return separator.isEmpty() ? Str(GLS(kind.label))
                               : Str(GLS(kind.label)) + QLatin1Char(' ') + separator;
}

}  // namespace

ConflictsPanel::ConflictsPanel(QWidget* parent)
    : OptionPanel("conflicts", "conflictsDict", parent) {
    static_assert(std::tuple_size_v<std::remove_cvref_t<decltype(sessions::ConflictKinds())>> ==
                  std::tuple_size_v<decltype(rows_)>);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 0, 4, 0);
    auto* heading = new QLabel(Str(GLS("When a run meets a conflict:")), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    outer->addWidget(heading);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(2);
    outer->addLayout(grid);
    const auto& kinds = sessions::ConflictKinds();
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        const sessions::ConflictKind& kind = kinds[k];
        const int line = static_cast<int>(k);
        auto* label = new QLabel(RowTitle(kind), this);
        auto* group = new QButtonGroup(this);
        auto* first = new QRadioButton(Str(GLS(kind.tag1Title)), this);
        auto* second = new QRadioButton(Str(GLS(kind.tag2Title)), this);
        for (QRadioButton* cell : {first, second}) {
            cell->setObjectName(QLatin1String(kind.radioKey) + (cell == first ? "_1" : "_2"));
        }
        group->addButton(first, 1);
        group->addButton(second, 2);
        auto* ask = new QCheckBox(Str(GLS("Ask")), this);
        ask->setObjectName(QLatin1String(kind.askKey));
        ask->setToolTip(Str(GLS("Ask each time")));
        if (std::string_view(kind.radioKey) == "conflictExactSyncRadio") {
            label->setToolTip(
                Str(GLS("An item to delete because the other side deleted it, but that was "
                        "changed or created on its side since the last run. New sessions copy it "
                        "back: the item is kept, and the conflict counted and reported.")));
        }
        grid->addWidget(label, line, 0);
        grid->addWidget(first, line, 1);
        grid->addWidget(second, line, 2);
        grid->addWidget(ask, line, 3);
        rows_[k] = {group, ask};
        connect(group, &QButtonGroup::idClicked, this, [this, k](int id) {
            if (editor_ && !filling_) editor_->setRadio(k, id);
            BtnOnOff();
        });
        connect(ask, &QCheckBox::toggled, this, [this, k](bool on) {
            if (editor_ && !filling_) editor_->setAsk(k, on);
            BtnOnOff();
        });
    }
    grid->setColumnStretch(4, 1);
    outer->addStretch(1);
}

void ConflictsPanel::SetPanels(const plist::Value& conflictsDict) {
    editor_.emplace(conflictsDict);
    filling_ = true;
    for (std::size_t k = 0; k < rows_.size(); ++k) {
        // A stored value that is neither tag leaves both cells off, as it would be written.
        QButtonGroup* group = rows_[k].radio;
        group->setExclusive(false);
        for (QAbstractButton* cell : group->buttons()) cell->setChecked(false);
        group->setExclusive(true);
        if (QAbstractButton* cell = group->button(static_cast<int>(editor_->radio(k)))) {
            cell->setChecked(true);
        }
        rows_[k].ask->setChecked(editor_->ask(k));
    }
    filling_ = false;
    BtnOnOff();
}

bool ConflictsPanel::GetPanels(plist::Value& session, std::string* message) {
    return editor_ ? editor_->GetPanels(session, message) : true;
}

bool ConflictsPanel::SetIconOn(const plist::Value& session) const {
    return sessions::ConflictsDictIsCustomised(session);
}

void ConflictsPanel::BtnOnOff() {
    if (editor_ && !filling_) emit iconOnChanged(editor_->IconOn());
}

}  // namespace qv::ui
