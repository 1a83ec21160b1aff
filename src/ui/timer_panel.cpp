#include "ui/timer_panel.h"

#include <QCheckBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "ui/option_markers.h"
#include "ui/qt_text.h"
#include "ui/rows_table.h"

namespace qv::ui {

using platform::GLS;

namespace {

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

    table_ = NewRowsTable(
        {Str(GLS("On")), Str(GLS("Start")), Str(GLS("Repeat"))},
        [this](int row, int column, Qt::KeyboardModifiers modifiers) {
            EditTimerRow(row, column, modifiers);
        },
        this);
    outer->addWidget(table_, 1);
}

void TimerPanel::SetPanels(const plist::Value& timerDict) {
    // The row dialog works on the editor being replaced.
    if (dialog_) dialog_->reject();
    editor_.emplace(timerDict);
    ShowAll();
}

bool TimerPanel::GetPanels(plist::Value& session, std::string* message) {
    if (!editor_) return true;
    const bool ok = editor_->GetPanels(session, message);
    // Timers without a row both on and valid were switched off: the box and the marker follow.
    if (onOff_->isChecked() != editor_->timerOn()) ShowAll();
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
    ShowTable();
}

void TimerPanel::ReloadTable() {
    if (!editor_) return;
    FillRowsTable(
        table_, static_cast<int>(editor_->rowCount()),
        [this](int r) {
            const auto index = static_cast<std::size_t>(r);
            const plist::Value& row = editor_->row(index);
            const bool rowCells = editor_->IsCellEnabled(index, false);
            return RowCells{{Str(sessions::TimerOnOffCell(row)), Str(sessions::TimerStartCell(row)),
                             Str(sessions::TimerIntervalCell(row))},
                            {editor_->IsCellEnabled(index, true), rowCells, rowCells}};
        },
        false);
}

void TimerPanel::EditTimerRow(int row, int column, Qt::KeyboardModifiers modifiers) {
    if (!editor_ || dialog_) return;
    // The editor switches the timers on with a row the dialog takes.
    ClickEditorRow(
        *editor_, dialog_, this, row, column, modifiers, kColumns, [this] { ShowTable(); },
        [this] { ShowAll(); });
}

void TimerPanel::ShowTable() {
    ReloadTable();
    BtnOnOff();
}

void TimerPanel::ShowAll() {
    ShowOnOff();
    ShowTable();
}

void TimerPanel::BtnOnOff() {
    if (editor_ && !filling_) emit iconOnChanged(editor_->IconOn());
}

}  // namespace qv::ui
