#include "ui/settings_panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <ctime>

#include "platform/localization.h"
#include "sessions/session_document.h"
#include "sessions/settings_options.h"
#include "ui/custom_name_sheet.h"
#include "ui/qt_text.h"

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
    taskRow->addWidget(new QLabel(Str(GLS("Task")) + QLatin1Char(':'), this));
    task_ = new QButtonGroup(this);
    for (const sessions::SettingsTaskCell& cell : sessions::SettingsTaskCells()) {
        auto* radio = new QRadioButton(Str(GLS(cell.title)), this);
        radio->setObjectName(QStringLiteral("settTask_%1").arg(cell.tag));
        task_->addButton(radio, static_cast<int>(cell.tag));
        taskRow->addWidget(radio);
    }
    taskRow->addStretch(1);
    outer->addLayout(taskRow);
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
    outer->addWidget(addBox("settExact", QString()));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(4);
    int n = 0;
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
    outer->addStretch(1);
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
    filling_ = false;
    SettingsSetTask(editor_->task());
    SettingsSetDestFolderOn();
}

bool SettingsPanel::GetPanels(plist::Value& session, std::string* message) {
    return editor_ ? editor_->GetPanels(session, message) : true;
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
