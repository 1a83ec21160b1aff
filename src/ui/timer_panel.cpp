#include "ui/timer_panel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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
    outer->addWidget(NewTriggerSection());
}

QWidget* TimerPanel::NewTriggerSection() {
    auto* box = new QGroupBox(Str(GLS("Triggers")), this);
    // As tall as it needs, no more: the table above takes the rest.
    box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(8, 4, 8, 6);
    grid->setVerticalSpacing(4);
    const auto check = [&](const char* key, const char* title, int column) {
        auto* c = new QCheckBox(Str(GLS(title)), box);
        c->setObjectName(QLatin1String(key));
        grid->addWidget(c, 0, column, 1, 2);
        connect(c, &QCheckBox::toggled, this, [this](bool) {
            if (!triggers_ || filling_) return;
            triggers_->setOnMount(onMount_->isChecked());
            triggers_->setOnChange(onChange_->isChecked());
            ShowTriggers(false);
        });
        return c;
    };
    const auto field = [&](const char* key, const char* label, int column) {
        auto* f = new QLineEdit(box);
        f->setObjectName(QLatin1String(key));
        f->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 16);
        grid->addWidget(new QLabel(Str(GLS(label)), box), 1, column);
        grid->addWidget(f, 1, column + 1, Qt::AlignLeft);
        // A number taken shows in the description at once; a refused one waits for leaving
        // the panel, which tells why.
        connect(f, &QLineEdit::editingFinished, this, [this] {
            if (!triggers_ || filling_) return;
            TakeTriggerFields();
            ShowTriggers(false);
        });
        return f;
    };
    onMount_ = check(sessions::kTriggerOnMountKey, "Run when a volume of the session appears", 0);
    onChange_ = check(sessions::kTriggerOnChangeKey, "Run when the source has changed", 2);
    quiet_ = field(sessions::kTriggerQuietKey, "Quiet time (seconds):", 2);
    minMinutes_ = field(sessions::kTriggerMinMinutesKey, "At most one run every (minutes):", 0);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    description_ = new QLabel(box);
    description_->setObjectName(QStringLiteral("triggerDescription"));
    description_->setWordWrap(true);
    grid->addWidget(description_, 2, 0, 1, 4);
    return box;
}

void TimerPanel::SessionShown(const plist::Value& session) {
    const plist::Value* dict = session.dictAt(sessions::kTriggerDictKey);
    triggers_.emplace(dict != nullptr ? *dict : plist::Value());
    ShowTriggers(true);
}

void TimerPanel::ShowTriggers(bool fields) {
    if (!triggers_) return;
    const sessions::TriggerOptions options = triggers_->options();
    filling_ = true;
    onMount_->setChecked(options.onMount);
    onChange_->setChecked(options.onChange);
    if (fields) {
        quiet_->setText(QString::number(options.quietSeconds));
        minMinutes_->setText(QString::number(options.minMinutes));
    }
    filling_ = false;
    quiet_->setEnabled(triggers_->QuietFieldEnabled());
    minMinutes_->setEnabled(triggers_->MinMinutesFieldEnabled());
    description_->setText(Str(triggers_->Description()));
    BtnOnOff();
}

std::string TimerPanel::TakeTriggerFields() {
    std::string refusal = triggers_->SetQuietSeconds(quiet_->text().trimmed().toStdString());
    const std::string minutes =
        triggers_->SetMinMinutes(minMinutes_->text().trimmed().toStdString());
    return refusal.empty() ? minutes : refusal;
}

void TimerPanel::SetPanels(const plist::Value& timerDict) {
    // The row dialog works on the editor being replaced.
    if (dialog_) dialog_->reject();
    editor_.emplace(timerDict);
    ShowAll();
}

bool TimerPanel::GetPanels(plist::Value& session, std::string* message) {
    if (!editor_) return true;
    // A number the triggers cannot take keeps the panel on screen, the session untouched.
    if (triggers_) {
        if (std::string refusal = TakeTriggerFields(); !refusal.empty()) {
            if (message != nullptr) *message = std::move(refusal);
            return false;
        }
    }
    const bool ok = editor_->GetPanels(session, message) &&
                    (!triggers_ || triggers_->GetPanels(session, message));
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
    if (editor_ && !filling_) {
        emit iconOnChanged(editor_->IconOn() || (triggers_ && triggers_->IconOn()));
    }
}

}  // namespace qv::ui
