#pragma once
// The volumes panel: the volumes a session mounts before it runs, one per row (filled as
// folders are picked), the switch of the whole list, a dialog per row for the user, the
// password and whether the run unmounts it, and buttons that mount or unmount them now. The
// controls edit a VolumeEditor.

#include <QCheckBox>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "engine/volume_mount.h"
#include "sessions/volume_editor.h"
#include "ui/option_panel.h"
#include "ui/path_table.h"

class QLineEdit;

namespace qv::ui {

class VolumesPanel : public OptionPanel {
    Q_OBJECT
  public:
    explicit VolumesPanel(QWidget* parent,
                          platform::ChildRunner& runner = platform::SystemChildRunner());
    ~VolumesPanel() override;

    void SetPanels(const plist::Value& autoMountDict) override;
    bool GetPanels(plist::Value& session, std::string* message) override;
    bool SetIconOn(const plist::Value& session) const override;

    // How volumes are mounted from here (the run's rules: root or not, the time limit).
    std::function<engine::MountSetting()> mountSetting = [] { return engine::MountSetting{}; };

    // For tests.
    QCheckBox* listCheckbox() const { return listOn_; }
    PathTable* table() const { return table_; }
    QPushButton* mountAllButton() const { return mountAll_; }
    QPushButton* unmountAllButton() const { return unmountAll_; }
    QDialog* rowDialog() const { return dialog_; }
    QMessageBox* alert() const { return alert_; }
    const sessions::VolumeEditor* editor() const { return editor_ ? &*editor_ : nullptr; }

  signals:
    void tryEnded();

  private:
    void RowClicked(int row, int column, Qt::KeyboardModifiers modifiers);
    void EditRow(std::size_t row);
    // Mounts (or unmounts) the rows on a worker; the alert says what failed.
    void TryRows(std::vector<plist::Value> rows, bool mount, bool single);
    void Warn(const std::string& message, const std::string& title = {});
    void Refresh();

    QCheckBox* listOn_ = nullptr;
    PathTable* table_ = nullptr;
    QPushButton* mountAll_ = nullptr;
    QPushButton* unmountAll_ = nullptr;
    QPointer<QDialog> dialog_;
    QPointer<QMessageBox> alert_;
    std::optional<sessions::VolumeEditor> editor_;
    platform::ChildRunner& runner_;
    std::thread tryThread_;
    bool filling_ = false;
};

}  // namespace qv::ui
