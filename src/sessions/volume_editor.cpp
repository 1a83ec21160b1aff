#include "sessions/volume_editor.h"

#include "platform/localization.h"
#include "sessions/automount_options.h"
#include "sessions/option_tables.h"
#include "sessions/well.h"

namespace qv::sessions {

using platform::GLS;

namespace {

bool HasControlCharacter(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') return true;
    }
    return false;
}

}  // namespace

std::string VolumeDisplayAddress(const plist::Value& row) {
    if (row.stringAt("host").empty()) return {};
    return row.stringAt("scheme") + "://" + row.stringAt("host") + row.stringAt("mountPoint");
}

std::string VolumeLogAddress(const plist::Value& row) {
    return row.stringAt("scheme") + "://" + row.stringAt("host") + row.stringAt("path");
}

std::string VolumeRowRefusal(const plist::Value& row) {
    for (const char* key : {"scheme", "user", "host", "path", "mountPoint", "diskID", "dmgPath"}) {
        const std::string& value = row.stringAt(key);
        if (!value.empty() && (value.front() == '-' || HasControlCharacter(value))) {
            return platform::FormatText(
                GLS("The volume's %@ can't be given to a mount tool: it begins with \"-\" or "
                    "holds a control character."),
                {key});
        }
    }
    for (const char* key : {"path", "mountPoint", "dmgPath"}) {
        const std::string& value = row.stringAt(key);
        if (value.empty()) continue;
        if (value.front() != '/' &&
            !(std::string_view(key) == "path" && row.stringAt("scheme") == "sftp")) {
            return platform::FormatText(GLS("The volume's %@ is not an absolute path."), {key});
        }
        // "/mnt/x/.." is "/mnt": a path is taken as it reads, or not at all.
        const std::string padded = value + "/";
        if (padded.find("/./") != std::string::npos || padded.find("/../") != std::string::npos ||
            value.find("//") != std::string::npos) {
            return platform::FormatText(GLS("The volume's %@ holds \".\", \"..\" or \"//\"."),
                                        {key});
        }
    }
    return {};
}

VolumeEditor::VolumeEditor(const plist::Value& autoMountDict)
    : dict_(autoMountDict.isDict() ? autoMountDict : DefaultAutoMountDict()) {
    plist::Value* rows = dict_.arrayAt("autoMountVolumeArray");
    if (rows == nullptr) {
        rows = &dict_.set("autoMountVolumeArray", plist::Array{});
    }
    while (rows->array().size() < kAutoMountRows) rows->array().push_back(DefaultAutoMountRow());
}

bool VolumeEditor::listOn() const { return dict_.intAt("autoMountVolumeOn", 0) == 1; }
void VolumeEditor::setListOn(bool on) { dict_.set("autoMountVolumeOn", on ? 1 : 0); }

std::size_t VolumeEditor::rowCount() const {
    return dict_.arrayAt("autoMountVolumeArray")->array().size();
}

const plist::Value& VolumeEditor::row(std::size_t index) const {
    return dict_.arrayAt("autoMountVolumeArray")->array().at(index);
}

plist::Value& VolumeEditor::mutableRow(std::size_t index) {
    return dict_.arrayAt("autoMountVolumeArray")->array().at(index);
}

bool VolumeEditor::rowEmpty(std::size_t index) const { return row(index).stringAt("host").empty(); }
bool VolumeEditor::rowOn(std::size_t index) const { return row(index).intAt("onOff", 0) == 1; }
bool VolumeEditor::hasPassword(std::size_t index) const {
    return !GetWellData(row(index).find("password")).empty();
}

std::string VolumeEditor::toggle(std::size_t index) {
    if (index >= rowCount()) return GLS("There is no such row.");
    mutableRow(index).set("onOff", rowOn(index) ? 0 : 1);
    return {};
}

std::string VolumeEditor::reset(std::size_t index) {
    if (index >= rowCount()) return GLS("There is no such row.");
    auto& rows = dict_.arrayAt("autoMountVolumeArray")->array();
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(index));
    rows.push_back(DefaultAutoMountRow());
    return {};
}

std::string VolumeEditor::edit(std::size_t index, const std::string& user,
                               const std::string& password, bool unmount) {
    if (index >= rowCount()) return GLS("There is no such row.");
    if (rowEmpty(index)) {
        return GLS(
            "Cannot edit an empty row. In order to define the volumes list, simply define a "
            "folder as source or destination folder either in the QV console or in the multiple "
            "folders list. QV will update the volumes list here automatically. Then clicking on "
            "the rows of this list you will be able to add a password to let QV mount the remote "
            "volume automatically without asking for the password later.");
    }
    if (!password.empty() && password.size() < kMinVolumePasswordLength) {
        return GLS("Can't set a password smaller than 3 characters.");
    }
    plist::Value changed = row(index);
    const std::int64_t type = changed.intAt("volumeType", 0);
    if (type == 1 && changed.stringAt("scheme") != "smb" && !user.empty())
        changed.set("user", user);
    if (type == 1 || type == 3) {
        const std::optional<plist::Data> encoded = SetWellData(password);
        if (!encoded) return GLS("The password is too long.");
        changed.set("password", *encoded);
    }
    changed.set("unmountVolume", unmount ? 1 : 0);
    if (const std::string why = VolumeRowRefusal(changed); !why.empty()) return why;
    mutableRow(index) = std::move(changed);
    setListOn(true);
    return {};
}

std::string VolumeEditor::add(const plist::Value& newRow, std::size_t* index) {
    if (const std::string why = VolumeRowRefusal(newRow); !why.empty()) return why;
    if (!AddVolumeRow(dict_, newRow)) return GLS("The volume list is full.");
    const std::string key = VolumeRowKey(newRow);
    for (std::size_t i = 0; i < rowCount(); ++i) {
        if (!rowEmpty(i) && VolumeRowKey(row(i)) == key && index != nullptr) *index = i;
    }
    return {};
}

bool VolumeEditor::GetPanels(plist::Value& session, std::string* message) {
    if (!session.isDict()) {
        if (message != nullptr) *message = "the session is not a dictionary";
        return false;
    }
    bool anyOn = false;
    for (std::size_t i = 0; i < rowCount(); ++i) anyOn = anyOn || (rowOn(i) && !rowEmpty(i));
    if (!anyOn) setListOn(false);
    session.set("autoMountDict", dict_);
    return true;
}

}  // namespace qv::sessions
