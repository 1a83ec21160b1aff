#include "ui/volumes_panel.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "run/log_name.h"
#include "sessions/option_tables.h"
#include "sessions/well.h"
#include "ui/error_alert.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;

namespace {

constexpr int kOnColumn = 0;
constexpr int kAddressColumn = 1;

QIcon VolumeIcon(std::int64_t type) {
    const char* name = type == 1   ? "network-server"
                       : type == 3 ? "media-optical"
                                   : "drive-harddisk";
    return QIcon::fromTheme(QLatin1String(name));
}

}  // namespace

VolumesPanel::VolumesPanel(QWidget* parent, platform::ChildRunner& runner)
    : OptionPanel("autoMountVolumes", "autoMountDict", parent), runner_(runner) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    auto* head = new QHBoxLayout;
    listOn_ = new QCheckBox(Str(GLS("Mount these volumes before the session runs")), this);
    listOn_->setObjectName(QStringLiteral("autoMountVolumeOn"));
    mountAll_ = new QPushButton(Str(GLS("Mount All")), this);
    mountAll_->setObjectName(QStringLiteral("mountAll"));
    unmountAll_ = new QPushButton(Str(GLS("Unmount All")), this);
    unmountAll_->setObjectName(QStringLiteral("unmountAll"));
    head->addWidget(listOn_);
    head->addStretch(1);
    head->addWidget(mountAll_);
    head->addWidget(unmountAll_);
    layout->addLayout(head);
    table_ = new PathTable(static_cast<int>(sessions::kAutoMountRows),
                           {QString(), Str(GLS("Volume"))}, this);
    table_->setObjectName(QStringLiteral("theList"));
    table_->setToolTip(
        Str(GLS("The list fills itself as folders are picked. Click a volume to "
                "give its password or say whether the run unmounts it; "
                "Alt-click empties the row.")));
    table_->horizontalHeader()->setSectionResizeMode(kOnColumn, QHeaderView::Fixed);
    table_->setColumnWidth(kOnColumn, 28);
    table_->horizontalHeader()->setSectionResizeMode(kAddressColumn, QHeaderView::Stretch);
    layout->addWidget(table_, 1);
    connect(table_, &PathTable::cellClickedWith, this, &VolumesPanel::RowClicked);
    connect(listOn_, &QCheckBox::toggled, this, [this](bool on) {
        if (!editor_ || filling_) return;
        editor_->setListOn(on);
        Refresh();
    });
    const auto all = [this](bool mount) {
        if (!editor_) return;
        std::vector<plist::Value> rows;
        for (std::size_t i = 0; i < editor_->rowCount(); ++i) {
            if (!editor_->rowEmpty(i) && editor_->rowOn(i)) rows.push_back(editor_->row(i));
        }
        TryRows(std::move(rows), mount, false);
    };
    connect(mountAll_, &QPushButton::clicked, this, [all] { all(true); });
    connect(unmountAll_, &QPushButton::clicked, this, [all] { all(false); });
}

VolumesPanel::~VolumesPanel() {
    if (tryThread_.joinable()) tryThread_.join();
}

void VolumesPanel::SetPanels(const plist::Value& dict) {
    editor_.emplace(dict);
    Refresh();
}

bool VolumesPanel::GetPanels(plist::Value& session, std::string* message) {
    if (!editor_) return true;
    const bool stored = editor_->GetPanels(session, message);
    Refresh();
    return stored;
}

bool VolumesPanel::SetIconOn(const plist::Value& session) const {
    const plist::Value* dict = session.dictAt("autoMountDict");
    return dict != nullptr && dict->intAt("autoMountVolumeOn", 0) == 1;
}

void VolumesPanel::Refresh() {
    if (!editor_) return;
    filling_ = true;
    listOn_->setChecked(editor_->listOn());
    filling_ = false;
    const bool on = editor_->listOn();
    mountAll_->setEnabled(on);
    unmountAll_->setEnabled(on);
    for (int r = 0; r < table_->rowCount(); ++r) {
        const std::size_t i = static_cast<std::size_t>(r);
        const bool empty = i >= editor_->rowCount() || editor_->rowEmpty(i);
        const bool rowOn = !empty && editor_->rowOn(i);
        table_->SetCell(r, kOnColumn, empty ? QString() : Str(rowOn ? "\xE2\x80\xA2" : "-"), !on);
        const QString address =
            empty ? QString() : Str(sessions::VolumeDisplayAddress(editor_->row(i)));
        table_->SetCell(r, kAddressColumn, address, !on || !rowOn);
        // A remote volume without a password may need one to be mounted unattended.
        if (on && rowOn && editor_->row(i).intAt("volumeType", 0) == 1 &&
            !editor_->hasPassword(i)) {
            table_->item(r, kAddressColumn)->setForeground(QColor(0xd2, 0x69, 0x1e));
        }
    }
    emit iconOnChanged(editor_->IconOn());
}

void VolumesPanel::RowClicked(int row, int column, Qt::KeyboardModifiers modifiers) {
    if (!editor_ || row < 0) return;
    const std::size_t i = static_cast<std::size_t>(row);
    if (i >= editor_->rowCount() || editor_->rowEmpty(i)) {
        Warn(
            GLS("Cannot edit an empty row. In order to define the volumes list, simply define a "
                "folder as source or destination folder either in the QV console or in the "
                "multiple folders list. QV will update the volumes list here automatically. Then "
                "clicking on the rows of this list you will be able to add a password to let QV "
                "mount the remote volume automatically without asking for the password later."));
        return;
    }
    if (column == kOnColumn) {
        editor_->toggle(i);
    } else if (modifiers & Qt::AltModifier) {
        editor_->reset(i);
    } else {
        EditRow(i);
        return;
    }
    Refresh();
}

void VolumesPanel::EditRow(std::size_t index) {
    const plist::Value& row = editor_->row(index);
    const std::int64_t type = row.intAt("volumeType", 0);
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("volumeRow"));
    dialog->setWindowTitle(Str(sessions::VolumeDisplayAddress(row)));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* form = new QFormLayout(dialog);
    auto* icon = new QLabel(dialog);
    icon->setPixmap(VolumeIcon(type).pixmap(48, 48));
    form->addRow(icon, new QLabel(Str(sessions::VolumeDisplayAddress(row)), dialog));
    auto* user = new QLineEdit(Str(row.stringAt("user")), dialog);
    user->setObjectName(QStringLiteral("user"));
    user->setEnabled(type == 1 && row.stringAt("scheme") != "smb");
    auto* password = new QLineEdit(Str(sessions::GetWellData(row.find("password"))), dialog);
    password->setObjectName(QStringLiteral("password"));
    password->setEchoMode(QLineEdit::Password);
    password->setEnabled(type == 1 || type == 3);
    auto* unmount = new QCheckBox(Str(GLS("Unmount the volume after the run")), dialog);
    unmount->setObjectName(QStringLiteral("unmountVolume"));
    unmount->setChecked(row.intAt("unmountVolume", 0) == 1);
    form->addRow(Str(GLS("User:")), user);
    form->addRow(Str(GLS("Password:")), password);
    form->addRow(QString(), unmount);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QPushButton* mount = buttons->addButton(Str(GLS("Mount")), QDialogButtonBox::ActionRole);
    mount->setObjectName(QStringLiteral("mount"));
    QPushButton* unmountNow = buttons->addButton(Str(GLS("Unmount")), QDialogButtonBox::ActionRole);
    unmountNow->setObjectName(QStringLiteral("unmount"));
    form->addRow(buttons);
    // The row as the dialog says, for its try buttons: the password typed, not yet stored.
    const auto typed = [row, user, password] {
        plist::Value copy = row;
        if (user->isEnabled()) copy.set("user", user->text().toStdString());
        copy.set("password",
                 sessions::SetWellData(password->text().toStdString()).value_or(plist::Data{}));
        return copy;
    };
    connect(mount, &QPushButton::clicked, this, [this, typed] { TryRows({typed()}, true, true); });
    connect(unmountNow, &QPushButton::clicked, this,
            [this, typed] { TryRows({typed()}, false, true); });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this,
            [this, dialog, index, user, password, unmount] {
                const std::string why =
                    editor_->edit(index, user->text().toStdString(), password->text().toStdString(),
                                  unmount->isChecked());
                if (!why.empty()) {
                    Warn(why);
                    return;
                }
                dialog->accept();
                Refresh();
            });
    dialog_ = dialog;
    dialog->open();
}

void VolumesPanel::TryRows(std::vector<plist::Value> rows, bool mount, bool single) {
    if (tryThread_.joinable()) return;  // one try at a time
    mountAll_->setEnabled(false);
    unmountAll_->setEnabled(false);
    const engine::MountSetting setting = mountSetting();
    tryThread_ = std::thread([this, rows = std::move(rows), mount, single, setting] {
        std::string failures;
        std::string said;  // a single row's answer
        for (const plist::Value& row : rows) {
            const std::string address = sessions::VolumeDisplayAddress(row);
            if (mount) {
                const engine::MountResult r = engine::MountVolume(
                    row, sessions::GetWellData(row.find("password")), runner_, setting);
                if (r.status == engine::MountStatus::kAlreadyMounted) {
                    if (single) said = GLS("The volume is already mounted.");
                } else if (r.status == engine::MountStatus::kFailed) {
                    failures += "\r" + run::Quoted(address);
                    if (single) said = r.message + (r.detail.empty() ? "" : "\r" + r.detail);
                }
            } else if (!engine::IsMountPoint(row.stringAt("mountPoint"))) {
                if (single) {
                    said =
                        platform::FormatText(GLS("The volume %@ is already unmounted."), {address});
                }
            } else if (!engine::UnmountVolume({address,
                                               row.stringAt("scheme"),
                                               row.intAt("volumeType", 0),
                                               row.stringAt("mountPoint"),
                                               {}},
                                              runner_, setting)
                            .empty()) {
                failures += "\r" + run::Quoted(address);
                if (single) said = GLS("Cannot unmount the volume:") + "\r" + address;
            }
        }
        if (!single && !failures.empty()) {
            said =
                (mount ? GLS("Can't mount the volumes:") : GLS("Can't unmount the volumes") + ":") +
                failures;
        }
        QMetaObject::invokeMethod(
            this,
            [this, said] {
                if (tryThread_.joinable()) tryThread_.join();
                Refresh();
                if (!said.empty()) Warn(said);
                emit tryEnded();
            },
            Qt::QueuedConnection);
    });
}

void VolumesPanel::Warn(const std::string& message, const std::string& title) {
    if (alert_) alert_->close();
    alert_ =
        OpenAlert(dialog_ ? static_cast<QWidget*>(dialog_) : this, QMessageBox::Warning,
                  title.empty() ? GLS("Warning:") : title, message, QStringLiteral("volumeAlert"));
}

}  // namespace qv::ui
