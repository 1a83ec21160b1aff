#include "ui/filter_panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "sessions/filter_options.h"
#include "ui/option_markers.h"
#include "ui/qt_text.h"
#include "ui/rows_table.h"

namespace qv::ui {

using platform::GLS;

namespace {

constexpr int kColumns = 2;

void UncheckAll(QButtonGroup* group) {
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
}

}  // namespace

FilterPanel::FilterPanel(QWidget* parent) : OptionPanel("filter", "filterDict", parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 0, 4, 0);
    outer->setSpacing(6);

    auto* top = new QHBoxLayout;
    onOff_ = new QCheckBox(Str(GLS("Use the filters")), this);
    onOff_->setObjectName(QStringLiteral("filterOn"));
    top->addWidget(onOff_);
    top->addSpacing(12);
    copySkip_ = new QButtonGroup(this);
    const std::pair<std::int64_t, const char*> cells[] = {
        {sessions::kFilterCopyMode, "Copy only the items that match a filter"},
        {sessions::kFilterSkipMode, "Skip the items that match a filter"},
    };
    for (const auto& [tag, title] : cells) {
        auto* radio = new QRadioButton(Str(GLS(title)), this);
        radio->setObjectName(QStringLiteral("filterCopySkip_%1").arg(tag));
        copySkip_->addButton(radio, static_cast<int>(tag));
        top->addWidget(radio);
    }
    top->addStretch(1);
    outer->addLayout(top);
    connect(onOff_, &QCheckBox::toggled, this, &FilterPanel::ChooseOnOff);
    connect(copySkip_, &QButtonGroup::idClicked, this, [this](int tag) {
        if (editor_ && !filling_) editor_->setCopySkip(tag);
    });

    table_ = NewRowsTable(
        {Str(GLS("On")), Str(GLS("Filter"))},
        [this](int row, int column, Qt::KeyboardModifiers modifiers) {
            EditFilterRow(row, column, modifiers);
        },
        this);
    table_->verticalHeader()->setVisible(true);
    table_->setTextElideMode(Qt::ElideRight);
    outer->addWidget(table_, 1);
}

void FilterPanel::SetPanels(const plist::Value& filterDict) {
    // The row editor works on the editor being replaced.
    if (dialog_) dialog_->reject();
    editor_.emplace(filterDict);
    filling_ = true;
    onOff_->setChecked(editor_->filterOn());
    UncheckAll(copySkip_);
    copySkip_->button(static_cast<int>(editor_->copySkip()))->setChecked(true);
    filling_ = false;
    ReloadTable();
    BtnOnOff();
}

bool FilterPanel::GetPanels(plist::Value& session, std::string* message) {
    if (!editor_) return true;
    const bool ok = editor_->GetPanels(session, message);
    // Filters without a valid row were switched off: the checkbox and the marker follow.
    if (onOff_->isChecked() != editor_->filterOn()) ShowAll();
    return ok;
}

bool FilterPanel::SetIconOn(const plist::Value& session) const {
    return OptionMarkers(session)[kFilterOption];
}

void FilterPanel::ChooseOnOff(bool on) {
    if (!editor_ || filling_) return;
    editor_->setFilterOn(on);
    ReloadTable();
    BtnOnOff();
}

void FilterPanel::ShowOnOff() {
    filling_ = true;
    onOff_->setChecked(editor_->filterOn());
    filling_ = false;
}

void FilterPanel::ReloadTable() {
    if (!editor_) return;
    const bool filtersOn = editor_->filterOn();
    FillRowsTable(
        table_, static_cast<int>(editor_->rowCount()),
        [this, filtersOn](int r) {
            const plist::Value& row = editor_->row(static_cast<std::size_t>(r));
            const bool rowOn = row.intAt("onOff") != 0;
            return RowCells{
                {Str(sessions::FilterOnOffCell(row)), Str(row.stringAt("filterNameField"))},
                {filtersOn, filtersOn && rowOn}};
        },
        true);
}

void FilterPanel::EditFilterRow(int row, int column, Qt::KeyboardModifiers modifiers) {
    if (!editor_ || dialog_) return;
    // The editor switches the filters on with a row the dialog takes.
    ClickEditorRow(
        *editor_, dialog_, this, row, column, modifiers, kColumns, [this] { ReloadTable(); },
        [this] { ShowAll(); });
}

void FilterPanel::ShowAll() {
    ShowOnOff();
    ReloadTable();
    BtnOnOff();
}

void FilterPanel::BtnOnOff() {
    if (editor_ && !filling_) emit iconOnChanged(editor_->IconOn());
}

}  // namespace qv::ui
