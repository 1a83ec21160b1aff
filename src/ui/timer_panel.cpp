#include "ui/timer_panel.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "ui/option_markers.h"
#include "ui/qt_text.h"
#include "ui/row_clicks.h"

namespace qv::ui {

using platform::GLS;

namespace {

constexpr int kOnOffColumn = 0;
constexpr int kColumns = 3;  // onOff, start, interval

}  // namespace

TimerPanel::TimerPanel(QWidget* parent) : OptionPanel("timer", "timerDict", parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 0, 4, 0);
    outer->setSpacing(6);

    onOff_ = new QCheckBox(Str(GLS("Use the timers")), this);
    onOff_->setObjectName(QStringLiteral("timerOn"));
    outer->addWidget(onOff_);
    connect(onOff_, &QCheckBox::toggled, this, &TimerPanel::ChooseOnOff);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("theList"));
    table_->setHorizontalHeaderLabels({Str(GLS("On")), Str(GLS("Start")), Str(GLS("Repeat"))});
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(kOnOffColumn, QHeaderView::Fixed);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    table_->setColumnWidth(kOnOffColumn, 36);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setFocusPolicy(Qt::NoFocus);
    table_->setWordWrap(false);
    table_->setToolTip(
        Str(GLS("Click a row to edit it; click its first column to switch it on "
                "or off; Alt-click to clear it.")));
    new RowClicks(table_, [this](int row, int column, Qt::KeyboardModifiers modifiers) {
        EditTimerRow(row, column, modifiers);
    });
    outer->addWidget(table_, 1);
}

void TimerPanel::SetPanels(const plist::Value& timerDict) {
    // The row dialog works on the editor being replaced.
    if (dialog_) dialog_->reject();
    editor_.emplace(timerDict);
    ShowOnOff();
    ReloadTable();
    BtnOnOff();
}

bool TimerPanel::GetPanels(plist::Value& session, std::string* message) {
    if (!editor_) return true;
    const bool ok = editor_->GetPanels(session, message);
    // Timers without a row both on and valid were switched off: the box and the marker follow.
    if (onOff_->isChecked() != editor_->timerOn()) {
        ShowOnOff();
        ReloadTable();
        BtnOnOff();
    }
    return ok;
}

bool TimerPanel::SetIconOn(const plist::Value& session) const {
    return OptionMarkers(session)[kTimerOption];
}

void TimerPanel::ShowOnOff() {
    filling_ = true;
    onOff_->setChecked(editor_->timerOn());
    filling_ = false;
}

void TimerPanel::ChooseOnOff(bool on) {
    if (!editor_ || filling_) return;
    editor_->setTimerOn(on);
    ReloadTable();
    BtnOnOff();
}

void TimerPanel::ReloadTable() {
    if (!editor_) return;
    const int rows = static_cast<int>(editor_->rowCount());
    table_->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const auto index = static_cast<std::size_t>(r);
        const plist::Value& row = editor_->row(index);
        const QString texts[kColumns] = {Str(sessions::TimerOnOffCell(row)),
                                         Str(sessions::TimerStartCell(row)),
                                         Str(sessions::TimerIntervalCell(row))};
        for (int c = 0; c < kColumns; ++c) {
            QTableWidgetItem* item = table_->item(r, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                table_->setItem(r, c, item);
            }
            item->setText(texts[c]);
            if (c == kOnOffColumn) item->setTextAlignment(Qt::AlignCenter);
            // Disabled cells only look so: a click still edits the row.
            const bool enabled = editor_->IsCellEnabled(index, c == kOnOffColumn);
            item->setFlags(enabled ? Qt::ItemIsEnabled : Qt::NoItemFlags);
        }
    }
}

void TimerPanel::EditTimerRow(int row, int column, Qt::KeyboardModifiers modifiers) {
    if (!editor_ || dialog_ || row < 0 || row >= static_cast<int>(editor_->rowCount()) ||
        column < 0 || column >= kColumns) {
        return;
    }
    const auto index = static_cast<std::size_t>(row);
    if (column == kOnOffColumn) {
        editor_->ToggleRow(index);
        ReloadTable();
        BtnOnOff();
        return;
    }
    if (modifiers & Qt::AltModifier) {
        editor_->ResetRow(index);
        ReloadTable();
        BtnOnOff();
        return;
    }
    auto* dialog = new TimerRowDialog(*editor_, index, window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this] {
        // The editor switched the timers on with the row.
        ShowOnOff();
        ReloadTable();
        BtnOnOff();
    });
    dialog_ = dialog;
    dialog->open();
}

void TimerPanel::BtnOnOff() {
    if (editor_ && !filling_) emit iconOnChanged(editor_->IconOn());
}

}  // namespace qv::ui
