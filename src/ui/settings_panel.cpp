#include "ui/settings_panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <ctime>

#include "platform/localization.h"
#include "sessions/session_document.h"
#include "sessions/settings_options.h"
#include "ui/custom_name_sheet.h"
#include "ui/qt_text.h"
#include "ui/session_name_sheet.h"

namespace qv::ui {

using platform::GLS;

namespace {

constexpr const char* kDestFolderKey = "settCreateDestFolder";

double Now() { return static_cast<double>(std::time(nullptr)); }

void UncheckAll(QButtonGroup* group) {
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
}

}  // namespace

void SubFolderNamePopUp::showPopup() {
    emit aboutToShow();
    QComboBox::showPopup();
}

SettingsPanel::SettingsPanel(const sessions::SessionDocument& document, QWidget* parent)
    : OptionPanel("settings", "settingsDict", parent), document_(document) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 0, 4, 0);
    outer->setSpacing(6);

    auto* taskRow = new QHBoxLayout;
    taskRow->setSpacing(6);
    taskRow->addWidget(new QLabel(Str(GLS("Task")) + QLatin1Char(':'), this));
    task_ = new QButtonGroup(this);
    for (const sessions::SettingsTaskCell& cell : sessions::SettingsTaskCells()) {
        auto* radio = new QRadioButton(Str(GLS(cell.title)), this);
        radio->setObjectName(QStringLiteral("settTask_%1").arg(cell.tag));
        task_->addButton(radio, static_cast<int>(cell.tag));
        taskRow->addWidget(radio);
    }
    taskRow->addStretch(1);
    connect(task_, &QButtonGroup::idClicked, this, [this](int tag) {
        if (editor_ && !filling_) editor_->setTask(tag);
        SettingsSetTask(tag);
        emit taskChosen(tag);
    });

    const auto addBox = [this](const char* key, const QString& title) {
        auto* box = new QCheckBox(title, this);
        box->setObjectName(QLatin1String(key));
        boxes_.emplace(key, box);
        connect(box, &QCheckBox::toggled, this, [this, key](bool on) {
            if (editor_ && !filling_) editor_->setCheckbox(key, on);
            if (std::string_view(key) == kDestFolderKey) {
                SettingsSetDestFolderOn();
            } else {
                BtnOnOff();
            }
        });
        return box;
    };
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(4);
    // The exact mode beside the task it qualifies, then the other boxes in two columns.
    grid->addLayout(taskRow, 0, 0);
    grid->addWidget(addBox("settExact", QString()), 0, 1);
    int n = 2;
    for (const sessions::SettingsCheckbox& def : sessions::SettingsCheckboxes()) {
        QWidget* box = addBox(def.key, Str(GLS(def.label)));
        box->setToolTip(Str(GLS(def.tip)));
        grid->addWidget(box, n / 2, n % 2);
        ++n;
    }
    grid->addWidget(addBox("settCheckAttrChanged",
                           Str(GLS("Copy only the attributes of items whose attributes changed"))),
                    n / 2, n % 2);
    outer->addLayout(grid);

    auto* subFolder = new QHBoxLayout;
    subFolder->addWidget(
        addBox(kDestFolderKey, Str(GLS("Write each run into a sub-folder of the destination:"))));
    kindPop_ = new SubFolderNamePopUp(this);
    kindPop_->setObjectName(QStringLiteral("settCreateDestFolderPop"));
    kindPop_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    subFolder->addWidget(kindPop_);
    subFolder->addStretch(1);
    outer->addLayout(subFolder);
    connect(kindPop_, &SubFolderNamePopUp::aboutToShow, this, [this] {
        RetitleKindPopUp();
        RememberKind();
    });
    connect(kindPop_, &QComboBox::activated, this,
            &SettingsPanel::SettingsSetDestFolderNameKindPop);

    sampleLabel_ = new QLabel(this);
    sampleLabel_->setObjectName(QStringLiteral("settCreateDestFolderLabel"));
    sampleLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    sampleLabel_->setIndent(24);
    QFont italic = sampleLabel_->font();
    italic.setItalic(true);
    sampleLabel_->setFont(italic);
    outer->addWidget(sampleLabel_);
    outer->addLayout(BuildVersionsSection());
    outer->addStretch(1);
}

QLayout* SettingsPanel::BuildVersionsSection() {
    // Two rows: the switch and the folder, then the limits under the switch's title.
    auto* section = new QGridLayout;
    section->setHorizontalSpacing(8);
    section->setVerticalSpacing(4);
    versions_.on = new QCheckBox(Str(GLS("Keep versions of replaced and deleted items")), this);
    versions_.on->setObjectName(QLatin1String(sessions::kVersionsOnKey));
    versions_.on->setToolTip(
        Str(GLS("What a run replaces or deletes is moved into the versions folder of its side, "
                "under its path and with the run's start in its name, rather than removed.")));
    section->addWidget(versions_.on, 0, 0);
    auto* limits = new QHBoxLayout;
    limits->setContentsMargins(24, 0, 0, 0);
    const auto addField = [this](QBoxLayout* row, const std::string& title, QWidget* field) {
        auto* label = new QLabel(Str(title), this);
        label->setBuddy(field);
        row->setSpacing(6);
        row->addWidget(label);
        row->addWidget(field);
        versions_.fields << label << field;
    };
    auto* folderRow = new QHBoxLayout;
    versions_.folder = new QLineEdit(this);
    versions_.folder->setObjectName(QLatin1String(sessions::kVersionsFolderKey));
    versions_.folder->setPlaceholderText(
        Str(platform::FormatText(GLS("%@ at the top of each side"), {run::kVersionsFolderName})));
    versions_.folder->setToolTip(
        Str(GLS("A folder below the top of each side, or an absolute folder that holds the "
                "versions of every side.")));
    addField(folderRow, GLS("Versions folder:"), versions_.folder);
    folderRow->setStretch(1, 1);
    section->addLayout(folderRow, 0, 1);
    const auto number = [this](const char* key, std::int64_t max) {
        auto* field = new QSpinBox(this);
        field->setObjectName(QLatin1String(key));
        field->setRange(0, static_cast<int>(max));
        field->setSpecialValueText(Str(GLS("no limit")));
        return field;
    };
    versions_.keep = number(sessions::kVersionsKeepKey, sessions::kMaxVersionsKeep);
    versions_.days = number(sessions::kVersionsDaysKey, sessions::kMaxVersionsDays);
    addField(limits, GLS("Versions kept per item:"), versions_.keep);
    limits->addSpacing(10);
    addField(limits, GLS("Days versions are kept:"), versions_.days);
    limits->addStretch(1);
    section->addLayout(limits, 1, 0, 1, 2);
    section->setColumnStretch(1, 1);

    connect(versions_.on, &QCheckBox::toggled, this, [this] { SetVersionsFrom(versions_.on); });
    for (QSpinBox* field : {versions_.keep, versions_.days}) {
        connect(field, &QSpinBox::valueChanged, this, [this, field] { SetVersionsFrom(field); });
    }
    connect(versions_.folder, &QLineEdit::editingFinished, this,
            [this] { SetVersionsFrom(versions_.folder); });
    return section;
}

void SettingsPanel::ShowVersions() {
    const run::VersionsSettings v = editor_->versions();
    versions_.on->setChecked(v.on);
    versions_.folder->setText(Path(v.folder));
    versions_.keep->setValue(static_cast<int>(v.keep));
    versions_.days->setValue(static_cast<int>(v.days));
    versions_.refused.clear();
    for (QWidget* field : versions_.fields) field->setEnabled(v.on);
}

void SettingsPanel::SetVersionsFrom(QObject* control) {
    if (!editor_ || filling_) return;
    if (control == versions_.folder) {
        TakeVersionsFolder(false);
        return;
    }
    // The others take any value their control offers.
    run::VersionsSettings v = editor_->versions();
    v.on = versions_.on->isChecked();
    v.keep = versions_.keep->value();
    v.days = versions_.days->value();
    editor_->SetVersions(v);
    for (QWidget* field : versions_.fields) field->setEnabled(v.on);
    BtnOnOff();
}

std::string SettingsPanel::TakeVersionsFolder(bool quiet) {
    run::VersionsSettings v = editor_->versions();
    const QString typed = versions_.folder->text();
    if (PathBytes(typed) == v.folder) return {};
    v.folder = PathBytes(typed);
    const std::string why = editor_->SetVersions(v);
    if (why.empty()) {
        versions_.refused.clear();
        BtnOnOff();
        return {};
    }
    if (!quiet && typed != versions_.refused && !versions_.alert) {
        versions_.alert = OpenFieldWarning(
            why, "versionsAlert", "folder",
            [this](const std::string&) {
                versions_.folder->setFocus();
                versions_.folder->selectAll();
            },
            this);
    }
    versions_.refused = typed;
    return why;
}

QCheckBox* SettingsPanel::checkbox(const std::string& key) const {
    const auto it = boxes_.find(key);
    return it == boxes_.end() ? nullptr : it->second;
}

void SettingsPanel::SetPanels(const plist::Value& settingsDict) {
    editor_.emplace(settingsDict);
    filling_ = true;
    FillKindPopUp();
    UncheckAll(task_);
    if (QAbstractButton* cell = task_->button(static_cast<int>(editor_->task()))) {
        cell->setChecked(true);
    }
    for (const auto& [key, box] : boxes_) box->setChecked(editor_->checkbox(key));
    SelectKind(editor_->nameKind());
    RememberKind();
    ShowVersions();
    filling_ = false;
    SettingsSetTask(editor_->task());
    SettingsSetDestFolderOn();
}

bool SettingsPanel::GetPanels(plist::Value& session, std::string* message) {
    if (!editor_) return true;
    // A folder still being typed is taken now; refused, the panel stays with the reason.
    if (std::string why = TakeVersionsFolder(true); !why.empty()) {
        *message = why;
        return false;
    }
    return editor_->GetPanels(session, message);
}

bool SettingsPanel::SetIconOn(const plist::Value& session) const {
    return sessions::SettingsDictIsCustomised(session);
}

void SettingsPanel::SettingsSetTask(std::int64_t) {
    if (!editor_) return;
    QCheckBox* exact = exactCheckbox();
    exact->setText(Str(editor_->ExactTitle()));
    exact->setToolTip(Str(editor_->ExactToolTip()));
    BtnOnOff();
}

void SettingsPanel::SettingsSetDestFolderOn() {
    if (!editor_) return;
    kindPop_->setEnabled(editor_->checkbox(kDestFolderKey));
    sampleLabel_->setText(Str(SampleName(editor_->nameKind(), editor_->pattern())));
    BtnOnOff();
}

void SettingsPanel::SettingsSetDestFolderNameKindPop(int entry) {
    if (!editor_) return;
    const std::int64_t tag = kindPop_->itemData(entry).toLongLong();
    if (tag != sessions::kNameKindCustom) {
        editor_->setNameKind(tag);
        RememberKind();
        SettingsSetDestFolderOn();
        return;
    }
    AskForDestFolderCustomName();
}

void SettingsPanel::AskForDestFolderCustomName() {
    if (sheet_) return;
    const std::int64_t index = document_.mSessionIndex;
    auto* sheet = new CustomNameSheet(
        [this, index](const std::string& pattern) {
            return sessions::GetDestSubFolderName(document_, index, true, std::nullopt,
                                                  sessions::kNameKindCustom, pattern, Now());
        },
        [this](const std::string& pattern) {
            return editor_ ? editor_->CheckCustomPattern(pattern, Now()) : std::string();
        },
        window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setPattern(editor_->pattern());
    connect(sheet, &QDialog::accepted, this, [this, sheet] {
        if (!editor_) return;
        editor_->setNameKind(sessions::kNameKindCustom);
        editor_->setPattern(sheet->pattern());
        RememberKind();
        SettingsSetDestFolderOn();
    });
    connect(sheet, &QDialog::rejected, this, [this] {
        SelectKind(previousTag_);
        SettingsSetDestFolderOn();
    });
    sheet_ = sheet;
    sheet->open();
}

void SettingsPanel::FillKindPopUp() {
    kindPop_->clear();
    for (const sessions::SubFolderKind& kind : sessions::SubFolderKinds(Now())) {
        kindPop_->addItem(Str(kind.title), QVariant::fromValue<qlonglong>(kind.tag));
    }
}

void SettingsPanel::RetitleKindPopUp() {
    // Only the titles change: the entries and the selection stay as they are.
    for (const sessions::SubFolderKind& kind : sessions::SubFolderKinds(Now())) {
        const int entry = kindPop_->findData(QVariant::fromValue<qlonglong>(kind.tag));
        if (entry >= 0) kindPop_->setItemText(entry, Str(kind.title));
    }
}

void SettingsPanel::SelectKind(std::int64_t tag) {
    kindPop_->setCurrentIndex(kindPop_->findData(QVariant::fromValue<qlonglong>(tag)));
}

void SettingsPanel::RememberKind() {
    const QVariant tag = kindPop_->currentData();
    if (tag.isValid()) previousTag_ = tag.toLongLong();
}

std::string SettingsPanel::SampleName(std::int64_t kind, const std::string& pattern) const {
    return sessions::GetDestSubFolderName(document_, document_.mSessionIndex,
                                          editor_->checkbox(kDestFolderKey), std::nullopt, kind,
                                          pattern, Now());
}

void SettingsPanel::BtnOnOff() {
    if (editor_ && !filling_) emit iconOnChanged(editor_->IconOn());
}

}  // namespace qv::ui
