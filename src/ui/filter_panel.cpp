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
#include "ui/row_clicks.h"

namespace qv::ui {

using platform::GLS;

namespace {

constexpr int kOnOffColumn = 0;
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

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("theList"));
    table_->setHorizontalHeaderLabels({Str(GLS("On")), Str(GLS("Filter"))});
    table_->horizontalHeader()->setSectionResizeMode(kOnOffColumn, QHeaderView::Fixed);
    table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    table_->setColumnWidth(kOnOffColumn, 36);
    table_->verticalHeader()->setVisible(true);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setFocusPolicy(Qt::NoFocus);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->setToolTip(
        Str(GLS("Click a row to edit it; click its first column to switch it on "
                "or off; Alt-click to clear it.")));
    new RowClicks(table_, [this](int row, int column, Qt::KeyboardModifiers modifiers) {
        EditFilterRow(row, column, modifiers);
    });
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
    if (onOff_->isChecked() != editor_->filterOn()) {
        filling_ = true;
        onOff_->setChecked(editor_->filterOn());
        filling_ = false;
        ReloadTable();
        BtnOnOff();
    }
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

void FilterPanel::ReloadTable() {
    if (!editor_) return;
    const bool filtersOn = editor_->filterOn();
    const int rows = static_cast<int>(editor_->rowCount());
    table_->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const plist::Value& row = editor_->row(static_cast<std::size_t>(r));
        const bool rowOn = row.intAt("onOff") != 0;
        const QString texts[kColumns] = {Str(GLS(rowOn ? "•" : "-")),
                                         Str(row.stringAt("filterNameField"))};
        for (int c = 0; c < kColumns; ++c) {
            QTableWidgetItem* item = table_->item(r, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                table_->setItem(r, c, item);
            }
            item->setText(texts[c]);
            item->setToolTip(c == kOnOffColumn ? QString() : texts[c]);
            if (c == kOnOffColumn) item->setTextAlignment(Qt::AlignCenter);
            // Disabled cells only look so: a click still edits the row.
            const bool enabled = filtersOn && (c == kOnOffColumn || rowOn);
            item->setFlags(enabled ? Qt::ItemIsEnabled : Qt::NoItemFlags);
        }
    }
}

void FilterPanel::EditFilterRow(int row, int column, Qt::KeyboardModifiers modifiers) {
    if (!editor_ || dialog_ || row < 0 || row >= static_cast<int>(editor_->rowCount()) ||
        column < 0 || column >= kColumns) {
        return;
    }
    const auto index = static_cast<std::size_t>(row);
    if (column == kOnOffColumn) {
        editor_->ToggleRow(index);
        ReloadTable();
        return;
    }
    if (modifiers & Qt::AltModifier) {
        editor_->ResetRow(index);
        ReloadTable();
        return;
    }
    auto* dialog = new FilterRowDialog(*editor_, index, window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this] {
        // The editor switched the filters on with the row.
        filling_ = true;
        onOff_->setChecked(editor_->filterOn());
        filling_ = false;
        ReloadTable();
        BtnOnOff();
    });
    dialog_ = dialog;
    dialog->open();
}

void FilterPanel::BtnOnOff() {
    if (editor_ && !filling_) emit iconOnChanged(editor_->IconOn());
}

}  // namespace qv::ui
