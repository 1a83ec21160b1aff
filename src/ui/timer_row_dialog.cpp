#include "ui/timer_row_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/civil_day.h"
#include "platform/localization.h"
#include "ui/qt_text.h"
#include "ui/session_name_sheet.h"
#include "ui/stepper_field.h"

namespace qv::ui {

using platform::GLS;
using sessions::TimerFields;

namespace {

// A field's text: the minutes of a clock time with two digits ("18:04", never "18:4").
QString FieldText(const std::string& name, std::int64_t value) {
    const bool clockMinutes = name == "startMinute" || name == "endMinute";
    return clockMinutes ? QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'))
                        : QString::number(value);
}

// The number fields: where each lives in TimerFields and the range its stepper keeps to (the
// days follow their month and year).
struct FieldDef {
    const char* name;
    std::int64_t TimerFields::*value;
    std::int64_t low, high;
};
constexpr std::int64_t kInterval = sessions::kMaxTimerInterval;
constexpr FieldDef kFields[] = {
    {"startHour", &TimerFields::startHour, 0, 23},
    {"startMinute", &TimerFields::startMinute, 0, 59},
    {"startDay", &TimerFields::startDay, 1, 31},
    {"startMonth", &TimerFields::startMonth, 1, 12},
    {"startYear", &TimerFields::startYear, sessions::kFirstTimerYear, sessions::kLastTimerYear},
    {"intervalHours", &TimerFields::intervalHours, 0, kInterval},
    {"intervalMinutes", &TimerFields::intervalMinutes, 0, kInterval},
    {"intervalDays", &TimerFields::intervalDays, 0, kInterval},
    {"intervalMonths", &TimerFields::intervalMonths, 0, kInterval},
    {"intervalYears", &TimerFields::intervalYears, 0, kInterval},
    {"endHour", &TimerFields::endHour, 0, 23},
    {"endMinute", &TimerFields::endMinute, 0, 59},
    {"endDay", &TimerFields::endDay, 1, 31},
    {"endMonth", &TimerFields::endMonth, 1, 12},
    {"endYear", &TimerFields::endYear, sessions::kFirstTimerYear, sessions::kLastTimerYear},
};

const FieldDef* FindField(const std::string& name) {
    for (const FieldDef& def : kFields) {
        if (name == def.name) return &def;
    }
    return nullptr;
}

bool EndsWith(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// The weekday boxes from Monday, each named by the day's name (2 January 2006 was a Monday).
constexpr std::size_t kWeekdayOrder[] = {1, 2, 3, 4, 5, 6, 0};

}  // namespace

TimerRowDialog::TimerRowDialog(sessions::TimerEditor& editor, std::size_t index, QWidget* parent)
    : QDialog(parent), editor_(editor), index_(index) {
    setObjectName(QStringLiteral("setTimerWindow"));
    setWindowTitle(Str(GLS("Timer")));
    setWindowModality(Qt::WindowModal);
    auto* outer = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    outer->addLayout(grid);

    const auto separator = [this](const char* text) { return new QLabel(Str(text), this); };
    const auto row = [grid](int line) {
        auto* values = new QHBoxLayout;
        values->setSpacing(4);
        grid->addLayout(values, line, 1);
        return values;
    };

    grid->addWidget(new QLabel(Str(GLS("Start:")), this), 0, 0);
    QHBoxLayout* start = row(0);
    start->addWidget(AddField("startHour", kStepperWidth));
    start->addWidget(separator(":"));
    start->addWidget(AddField("startMinute", kStepperWidth));
    start->addSpacing(12);
    start->addWidget(AddField("startDay", kStepperWidth));
    start->addWidget(separator("/"));
    start->addWidget(AddField("startMonth", kStepperWidth));
    start->addWidget(separator("/"));
    start->addWidget(AddField("startYear", kYearStepperWidth));
    startWeekday_ = new QLabel(this);
    startWeekday_->setObjectName(QStringLiteral("startWeekday"));
    startWeekday_->setMinimumWidth(90);
    start->addWidget(startWeekday_);
    start->addStretch(1);

    grid->addWidget(AddBox("intervalOn", Str(GLS("Repeat every"))), 1, 0);
    QHBoxLayout* interval = row(1);
    const std::pair<const char*, const char*> steps[] = {{"intervalHours", "hours"},
                                                         {"intervalMinutes", "minutes"},
                                                         {"intervalDays", "days"},
                                                         {"intervalMonths", "months"},
                                                         {"intervalYears", "years"}};
    for (const auto& [name, unit] : steps) {
        interval->addWidget(AddField(name, 64));
        interval->addWidget(new QLabel(Str(GLS(unit)), this));
        interval->addSpacing(6);
    }
    interval->addStretch(1);

    grid->addWidget(AddBox("endOn", Str(GLS("Daily end time"))), 2, 0);
    QHBoxLayout* endTime = row(2);
    endTime->addWidget(AddField("endHour", kStepperWidth));
    endTime->addWidget(separator(":"));
    endTime->addWidget(AddField("endMinute", kStepperWidth));
    endTime->addStretch(1);

    grid->addWidget(AddBox("endDateOn", Str(GLS("Last day"))), 3, 0);
    QHBoxLayout* endDate = row(3);
    endDate->addWidget(AddField("endDay", kStepperWidth));
    endDate->addWidget(separator("/"));
    endDate->addWidget(AddField("endMonth", kStepperWidth));
    endDate->addWidget(separator("/"));
    endDate->addWidget(AddField("endYear", kYearStepperWidth));
    endWeekday_ = new QLabel(this);
    endWeekday_->setObjectName(QStringLiteral("endWeekday"));
    endDate->addWidget(endWeekday_);
    endDate->addStretch(1);

    grid->addWidget(new QLabel(Str(GLS("Execute on")), this), 4, 0);
    QHBoxLayout* days = row(4);
    for (std::size_t weekday : kWeekdayOrder) {
        const std::int64_t monday2006 = 2 + static_cast<std::int64_t>((weekday + 6) % 7);
        days->addWidget(AddBox(sessions::kTimerWeekdayKeys[weekday],
                               Str(sessions::WeekdayLabel(monday2006, 1, 2006))));
    }
    days->addStretch(1);

    outer->addSpacing(8);
    AddOkCancel(this, outer, &ok_, &cancel_);
    connect(ok_, &QPushButton::clicked, this, &TimerRowDialog::SetTimerRow);

    Fill(editor_.FieldsForRow(index_));
}

StepperField* TimerRowDialog::AddField(const std::string& name, int width) {
    auto* stepper = new StepperField([this, name](int n) { Step(name, n); }, this);
    stepper->setObjectName(Str(name));
    stepper->setFixedWidth(width);
    if (EndsWith(name, "Day") || EndsWith(name, "Month") || EndsWith(name, "Year")) {
        connect(stepper->edit(), &QLineEdit::textEdited, this, &TimerRowDialog::ShowWeekdays);
    }
    fields_.emplace(name, stepper);
    return stepper;
}

QCheckBox* TimerRowDialog::AddBox(const std::string& key, const QString& title) {
    auto* box = new QCheckBox(title, this);
    box->setObjectName(Str(key));
    connect(box, &QCheckBox::toggled, this, &TimerRowDialog::ClickCheckBox);
    boxes_.emplace(key, box);
    return box;
}

QLineEdit* TimerRowDialog::field(const std::string& name) const {
    const auto it = fields_.find(name);
    return it == fields_.end() ? nullptr : it->second->edit();
}

StepperField* TimerRowDialog::stepper(const std::string& name) const {
    const auto it = fields_.find(name);
    return it == fields_.end() ? nullptr : it->second;
}

QCheckBox* TimerRowDialog::checkBox(const std::string& key) const {
    const auto it = boxes_.find(key);
    return it == boxes_.end() ? nullptr : it->second;
}

void TimerRowDialog::Fill(const TimerFields& f) {
    for (const FieldDef& def : kFields) field(def.name)->setText(FieldText(def.name, f.*def.value));
    const QSignalBlocker a(checkBox("intervalOn")), b(checkBox("endOn")), c(checkBox("endDateOn"));
    checkBox("intervalOn")->setChecked(f.intervalOn);
    checkBox("endOn")->setChecked(f.endOn);
    checkBox("endDateOn")->setChecked(f.endDateOn);
    for (std::size_t i = 0; i < f.weekdays.size(); ++i) {
        checkBox(sessions::kTimerWeekdayKeys[i])->setChecked(f.weekdays[i]);
    }
    ShowWeekdays();
    ClickCheckBox();
}

std::int64_t TimerRowDialog::Number(const std::string& name) const {
    // What is no number is out of every range: the checks refuse it and correct it.
    return FieldNumber(field(name), -1);
}

TimerFields TimerRowDialog::Fields() const {
    TimerFields f;
    for (const FieldDef& def : kFields) f.*def.value = Number(def.name);
    f.intervalOn = checkBox("intervalOn")->isChecked();
    f.endOn = checkBox("endOn")->isChecked();
    f.endDateOn = checkBox("endDateOn")->isChecked();
    for (std::size_t i = 0; i < f.weekdays.size(); ++i) {
        f.weekdays[i] = checkBox(sessions::kTimerWeekdayKeys[i])->isChecked();
    }
    return f;
}

void TimerRowDialog::Step(const std::string& name, int steps) {
    const FieldDef* def = FindField(name);
    const std::string stem = name.substr(0, name.find_first_of("HMDY"));
    std::int64_t high = def->high;
    if (EndsWith(name, "Day")) {
        const std::int64_t days =
            platform::DaysInMonth(Number(stem + "Month"), Number(stem + "Year"));
        if (days > 0) high = days;
    }
    std::int64_t value = Number(name);
    value = value < def->low ? def->low : std::clamp<std::int64_t>(value + steps, def->low, high);
    field(name)->setText(FieldText(name, value));
    // A day beyond the end of the month it now falls in becomes the month's last day.
    if (EndsWith(name, "Month") || EndsWith(name, "Year")) {
        const std::int64_t day = Number(stem + "Day");
        const std::int64_t clamped =
            sessions::ClampDayToMonth(day, Number(stem + "Month"), Number(stem + "Year"));
        if (clamped != day) field(stem + "Day")->setText(QString::number(clamped));
    }
    ShowWeekdays();
}

void TimerRowDialog::ShowWeekdays() {
    startWeekday_->setText(
        Str(sessions::WeekdayLabel(Number("startDay"), Number("startMonth"), Number("startYear"))));
    endWeekday_->setText(
        Str(sessions::WeekdayLabel(Number("endDay"), Number("endMonth"), Number("endYear"))));
}

void TimerRowDialog::ClickCheckBox() {
    const sessions::TimerEnabling e = sessions::EnablingFor(Fields());
    for (const char* name :
         {"intervalHours", "intervalMinutes", "intervalDays", "intervalMonths", "intervalYears"}) {
        stepper(name)->setEnabled(e.intervalFields);
    }
    checkBox("endOn")->setEnabled(e.endTimeBox);
    for (const char* key : sessions::kTimerWeekdayKeys) checkBox(key)->setEnabled(e.weekdayBoxes);
    stepper("endHour")->setEnabled(e.endTimeFields);
    stepper("endMinute")->setEnabled(e.endTimeFields);
    checkBox("endDateOn")->setEnabled(e.endDateBox);
    for (const char* name : {"endDay", "endMonth", "endYear"}) {
        stepper(name)->setEnabled(e.endDateFields);
    }
}

void TimerRowDialog::SetTimerRow() {
    if (alert_) return;
    TimerFields fields = Fields();
    const sessions::TimerRowCheck check = editor_.SetTimerRow(index_, fields);
    if (check.ok()) {
        accept();
        return;
    }
    // Only the refused field takes the editor's correction: the others stay as typed.
    if (const FieldDef* def = FindField(check.field)) {
        field(def->name)->setText(FieldText(def->name, fields.*def->value));
        ShowWeekdays();
    }
    alert_ = OpenFieldWarning(
        check.message, "timerRowAlert", check.field,
        [this](const std::string& name) { SelectField(name); }, this);
}

void TimerRowDialog::SelectField(const std::string& name) {
    StepperField* s = stepper(name);
    if (s == nullptr) return;
    s->setFocus(Qt::OtherFocusReason);
    s->edit()->selectAll();
}

}  // namespace qv::ui
