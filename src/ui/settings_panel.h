#pragma once
// The settings panel: the task, the exact mode, how invisible, locked and linked items,
// packages and empty folders are treated, the trash, the destination sub-folder and the
// versions of a session. The controls edit a SettingsEditor, which knows the inverted checkboxes,
// the texts that follow the task and the marker.

#include <QComboBox>
#include <QPointer>
#include <map>
#include <optional>
#include <string>

#include "sessions/dest_subfolder.h"
#include "sessions/settings_editor.h"
#include "ui/custom_name_sheet.h"
#include "ui/option_panel.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QSpinBox;

namespace qv::sessions {
class SessionDocument;
}

namespace qv::ui {

// The kind pop-up of the sub-folder. It tells before it opens, so that its date entries are
// retitled with today's date and the kind shown then can be restored.
class SubFolderNamePopUp : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
    void showPopup() override;
  signals:
    void aboutToShow();
};

class SettingsPanel : public OptionPanel {
    Q_OBJECT
  public:
    SettingsPanel(const sessions::SessionDocument& document, QWidget* parent);

    void SetPanels(const plist::Value& settingsDict) override;
    bool GetPanels(plist::Value& session, std::string* message) override;
    bool SetIconOn(const plist::Value& session) const override;

    // For tests and the screenshot.
    QButtonGroup* taskRadio() const { return task_; }
    QCheckBox* checkbox(const std::string& key) const;
    QCheckBox* exactCheckbox() const { return checkbox("settExact"); }
    SubFolderNamePopUp* kindPopUp() const { return kindPop_; }
    QLabel* sampleLabel() const { return sampleLabel_; }
    // The custom-name sheet while it is open.
    CustomNameSheet* customNameSheet() const { return sheet_; }
    std::int64_t previousKind() const { return previousTag_; }
    // The versions section: the switch, the folder, the count and the days kept.
    QCheckBox* versionsCheckbox() const { return versions_.on; }
    QLineEdit* versionsFolderField() const { return versions_.folder; }
    QSpinBox* versionsKeepField() const { return versions_.keep; }
    QSpinBox* versionsDaysField() const { return versions_.days; }
    // The alert of a versions folder refused, while shown.
    QMessageBox* versionsAlert() const { return versions_.alert; }

  signals:
    // A task radio was clicked: what a run would do once the panel is left.
    void taskChosen(int task);

  private:
    void SettingsSetTask(std::int64_t task);
    void SettingsSetDestFolderOn();
    void SettingsSetDestFolderNameKindPop(int entry);
    void AskForDestFolderCustomName();
    void FillKindPopUp();
    void RetitleKindPopUp();
    void SelectKind(std::int64_t tag);
    void RememberKind();
    std::string SampleName(std::int64_t kind, const std::string& pattern) const;
    void BtnOnOff();
    QLayout* BuildVersionsSection();
    void ShowVersions();
    // One value of the versions section changed: written into the editor.
    void SetVersionsFrom(QObject* control);
    // The folder as typed, when it differs from the editor's: "" when taken, else why not (an
    // alert says so unless `quiet`).
    std::string TakeVersionsFolder(bool quiet);

    const sessions::SessionDocument& document_;
    QButtonGroup* task_ = nullptr;
    std::map<std::string, QCheckBox*, std::less<>> boxes_;
    SubFolderNamePopUp* kindPop_ = nullptr;
    QLabel* sampleLabel_ = nullptr;
    QPointer<CustomNameSheet> sheet_;
    std::optional<sessions::SettingsEditor> editor_;
    std::int64_t previousTag_ = sessions::kNameKindSourceName;
    bool filling_ = false;
    struct VersionsControls {
        QCheckBox* on = nullptr;
        QLineEdit* folder = nullptr;
        QSpinBox* keep = nullptr;
        QSpinBox* days = nullptr;
        QList<QWidget*> fields;  // enabled while the switch is on
        QPointer<QMessageBox> alert;
        QString refused;  // the folder last refused: it is not refused twice in a row
    } versions_;
};

}  // namespace qv::ui
