#include "ui/filter_row_dialog.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <ctime>
#include <functional>

#include "app/main_app.h"
#include "platform/localization.h"
#include "ui/qt_text.h"
#include "ui/session_name_sheet.h"
#include "ui/stepper_field.h"

namespace qv::ui {

using platform::GLS;
using sessions::FilterDateField;
using sessions::FilterKeyKind;

namespace {

// The criteria's titles, by switch.
QString CriterionTitle(const std::string& switchKey) {
    static const std::map<std::string, const char*, std::less<>> titles = {
        {"filterFileNameOn", "File name"},
        {"filterCreationDateOn", "Creation date"},
        {"filterModificationDateOn", "Modification date"},
        {"filterFileSizeOn", "File size"},
        {"filterTypeOn", "Type"},
        {"filterCreatorOn", "Creator"},
        {"filterKindOn", "Kind"},
        {"filterOwnerOn", "Owner"},
        {"filterGroupOn", "Group"},
    };
    const auto it = titles.find(switchKey);
    return it == titles.end() ? QString() : Str(GLS(it->second));
}

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsDateKey(const std::string& key) { return key.find("Date") != std::string::npos; }

// A date criterion's keys begin with their stem: filterCreationDate, filterModificationDate.
std::string DateStem(const std::string& key) { return key.substr(0, key.find("Date") + 4); }

std::string ValueText(const plist::Value* value) {
    if (value == nullptr) return {};
    if (value->isString()) return value->str();
    if (value->isNumber() || value->isBoolean()) return std::to_string(value->intValue());
    return {};
}

}  // namespace

FilterRowDialog::FilterRowDialog(sessions::FilterEditor& editor, std::size_t index, QWidget* parent)
    : QDialog(parent), editor_(editor), index_(index) {
    setObjectName(QStringLiteral("setFilterWindow"));
    setWindowTitle(Str(GLS("Filters")));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    name_ = new QLabel(Str(editor_.EditorTitle(index_)), this);
    name_->setObjectName(QStringLiteral("filterNameField"));
    name_->setTextFormat(Qt::PlainText);
    name_->setWordWrap(true);
    QFont bold = name_->font();
    bold.setBold(true);
    name_->setFont(bold);
    layout->addWidget(name_);

    for (const sessions::FilterRowKey& key : sessions::FilterRowKeys()) {
        if (key.kind == FilterKeyKind::kSwitch) {
            criteria_.push_back({key.key, {}, nullptr});
        } else if (!criteria_.empty()) {
            criteria_.back().keys.emplace_back(key.key);
        }
    }
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    for (std::size_t c = 0; c < criteria_.size(); ++c) {
        BuildCriterion(criteria_[c], static_cast<int>(c), grid);
    }
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);

    AddOkCancel(this, layout, &ok_, &cancel_);
    connect(ok_, &QPushButton::clicked, this, &FilterRowDialog::SetFilterRow);

    FillFromRow(editor_.row(index_));
}

void FilterRowDialog::BuildCriterion(Criterion& criterion, int line, QGridLayout* grid) {
    auto* box = new QCheckBox(CriterionTitle(criterion.switchKey), this);
    box->setObjectName(Str(criterion.switchKey));
    controls_.emplace(criterion.switchKey, box);
    grid->addWidget(box, line, 0);
    auto* values = new QHBoxLayout;
    values->setSpacing(4);
    for (const std::string& key : criterion.keys) {
        const sessions::FilterRowKey* def = sessions::FindFilterRowKey(key);
        QWidget* control = nullptr;
        if (def->kind == FilterKeyKind::kPopUp) {
            auto* pop = new QComboBox(this);
            const std::vector<std::string> titles = sessions::FilterPopTitles(key);
            for (std::size_t i = 0; i < titles.size(); ++i) {
                // The date pop-ups keep a separator at its own position.
                if (IsDateKey(key) && static_cast<std::int64_t>(i) == sessions::kDatePopSeparator) {
                    pop->insertSeparator(static_cast<int>(i));
                } else {
                    pop->addItem(Str(titles[i]),
                                 QVariant::fromValue<qlonglong>(static_cast<qlonglong>(i)));
                }
            }
            if (IsDateKey(key)) {
                const std::string stem = DateStem(key);
                connect(pop, &QComboBox::activated, this,
                        [this, stem] { ChooseDatePop(stem, true); });
            }
            control = pop;
        } else if (def->kind == FilterKeyKind::kNumber && IsDateKey(key)) {
            const std::string stem = DateStem(key);
            const FilterDateField which = EndsWith(key, "Month") ? FilterDateField::kMonth
                                          : EndsWith(key, "Day") ? FilterDateField::kDay
                                                                 : FilterDateField::kYear;
            auto* stepper =
                new StepperField([this, stem, which](int n) { StepDate(stem, which, n); }, this);
            stepper->setFixedWidth(which == FilterDateField::kYear ? kYearStepperWidth
                                                                   : kStepperWidth);
            if (which != FilterDateField::kMonth) values->addWidget(new QLabel("/", this));
            control = stepper;
        } else {
            auto* text = new QLineEdit(this);
            if (def->kind == FilterKeyKind::kNumber) {
                text->setAlignment(Qt::AlignRight);
                text->setFixedWidth(90);
            } else {
                text->setMinimumWidth(160);
            }
            control = text;
        }
        control->setObjectName(Str(key));
        controls_.emplace(key, control);
        values->addWidget(control);
        if (key == "filterTypeField" || key == "filterCreatorField") {
            const bool creator = key == "filterCreatorField";
            criterion.pick = new QPushButton(Str(GLS("Pick from file…")), this);
            criterion.pick->setObjectName(creator ? QStringLiteral("filterPickCreator")
                                                  : QStringLiteral("filterPickType"));
            connect(criterion.pick, &QPushButton::clicked, this,
                    [this, key, creator] { PickTypeAndCreator(key, creator); });
            values->addWidget(criterion.pick);
        }
    }
    values->addStretch(1);
    grid->addLayout(values, line, 1, 1, 2);
    const std::size_t c = static_cast<std::size_t>(line);
    connect(box, &QCheckBox::clicked, this, [this, c] { OnOffCheckBox(criteria_[c], true); });
}

QCheckBox* FilterRowDialog::criterionSwitch(const std::string& key) const {
    const auto it = controls_.find(key);
    return it == controls_.end() ? nullptr : qobject_cast<QCheckBox*>(it->second);
}

QComboBox* FilterRowDialog::popUp(const std::string& key) const {
    const auto it = controls_.find(key);
    return it == controls_.end() ? nullptr : qobject_cast<QComboBox*>(it->second);
}

QLineEdit* FilterRowDialog::field(const std::string& key) const {
    const auto it = controls_.find(key);
    if (it == controls_.end()) return nullptr;
    if (auto* stepper = dynamic_cast<StepperField*>(it->second)) return stepper->edit();
    return qobject_cast<QLineEdit*>(it->second);
}

void FilterRowDialog::FillFromRow(const plist::Value& row) {
    for (const sessions::FilterRowKey& key : sessions::FilterRowKeys()) {
        switch (key.kind) {
            case FilterKeyKind::kSwitch:
                criterionSwitch(key.key)->setChecked(row.intAt(key.key) != 0);
                break;
            case FilterKeyKind::kPopUp: {
                // Positions, except the size unit, which is chosen by its tag.
                QComboBox* pop = popUp(key.key);
                const std::int64_t value = row.intAt(key.key);
                pop->setCurrentIndex(std::string_view(key.key) == "filterFileSizeBytesPop"
                                         ? pop->findData(QVariant::fromValue<qlonglong>(value))
                                         : static_cast<int>(value));
                break;
            }
            case FilterKeyKind::kNumber:
            case FilterKeyKind::kText:
                field(key.key)->setText(Str(ValueText(row.find(key.key))));
                break;
        }
    }
    for (const Criterion& criterion : criteria_) OnOffCheckBox(criterion, false);
}

void FilterRowDialog::OnOffCheckBox(const Criterion& criterion, bool selectField) {
    const bool on = criterionSwitch(criterion.switchKey)->isChecked();
    if (IsDateKey(criterion.switchKey)) {
        const std::string stem = DateStem(criterion.switchKey);
        popUp(stem + "Pop")->setEnabled(on);
        ChooseDatePop(stem, selectField);
        return;
    }
    for (const std::string& key : criterion.keys) controls_.at(key)->setEnabled(on);
    if (criterion.pick != nullptr) criterion.pick->setEnabled(on);
    if (!on || !selectField) return;
    for (const std::string& key : criterion.keys) {
        if (field(key) != nullptr) {
            SelectField(key);
            return;
        }
    }
}

void FilterRowDialog::ChooseDatePop(const std::string& stem, bool selectField) {
    const bool on = criterionSwitch(stem + "On")->isChecked();
    const std::int64_t pop = popUp(stem + "Pop")->currentIndex();
    const std::optional<sessions::FilterDate> moving =
        sessions::FilterPopDate(pop, std::time(nullptr));
    if (moving) ShowDate(stem, *moving);
    for (const char* part : {"Month", "Day", "Year"}) {
        controls_.at(stem + part)->setEnabled(on && !moving);
    }
    if (on && !moving && selectField) SelectField(stem + "Month");
}

void FilterRowDialog::StepDate(const std::string& stem, FilterDateField which, int delta) {
    // A field that holds no number steps from a new row's date.
    const auto number = [this, &stem](const char* part, std::int64_t fallback) {
        return FieldNumber(field(stem + part), fallback);
    };
    const sessions::FilterDate fresh;
    const sessions::FilterDate date = sessions::StepFilterDate(
        {number("Month", fresh.month), number("Day", fresh.day), number("Year", fresh.year)}, which,
        delta);
    ShowDate(stem, date);
}

void FilterRowDialog::ShowDate(const std::string& stem, const sessions::FilterDate& date) {
    field(stem + "Month")->setText(QString::number(date.month));
    field(stem + "Day")->setText(QString::number(date.day));
    field(stem + "Year")->setText(QString::number(date.year));
}

void FilterRowDialog::PickTypeAndCreator(const std::string& fieldKey, bool creator) {
    auto* panel = new QFileDialog(
        this, Str(GLS(creator ? "Pick the Creator from file" : "Pick the Type from file")));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setOption(QFileDialog::DontResolveSymlinks);
    connect(panel, &QFileDialog::fileSelected, this, [this, fieldKey, creator](const QString& f) {
        const app::TypeAndCreator codes = app::MainApp::GetTypeAndCreator(PathBytes(f));
        const std::string& code = creator ? codes.creator : codes.type;
        field(fieldKey)->setText(Str(code));
        if (code.empty()) {
            OpenWarning(GLS(creator ? "This file has not a Creator." : "This file has not a Type."),
                        "filterPickAlert", this);
        }
    });
    panel->open();
}

plist::Value FilterRowDialog::EditedRow() const {
    plist::Value row(plist::Dict{});
    for (const sessions::FilterRowKey& key : sessions::FilterRowKeys()) {
        switch (key.kind) {
            case FilterKeyKind::kSwitch:
                row.set(key.key, criterionSwitch(key.key)->isChecked() ? 1 : 0);
                break;
            case FilterKeyKind::kPopUp: {
                QComboBox* pop = popUp(key.key);
                row.set(key.key, std::string_view(key.key) == "filterFileSizeBytesPop"
                                     ? static_cast<std::int64_t>(pop->currentData().toLongLong())
                                     : static_cast<std::int64_t>(pop->currentIndex()));
                break;
            }
            case FilterKeyKind::kNumber:
                // As typed: the editor decides what is a number.
                row.set(key.key, field(key.key)->text().trimmed().toStdString());
                break;
            case FilterKeyKind::kText:
                row.set(key.key, field(key.key)->text().toStdString());
                break;
        }
    }
    return row;
}

void FilterRowDialog::SetFilterRow() {
    if (alert_) return;
    const sessions::FilterRowCheck check = editor_.SetFilterRow(index_, EditedRow());
    if (check.ok()) {
        accept();
        return;
    }
    alert_ = OpenFieldWarning(
        check.message, "filterRowAlert", check.field,
        [this](const std::string& key) { SelectField(key); }, this);
}

void FilterRowDialog::SelectField(const std::string& key) {
    QLineEdit* edit = field(key);
    if (edit == nullptr) return;
    QWidget* control = controls_.at(key);
    control->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

}  // namespace qv::ui
