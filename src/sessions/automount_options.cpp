#include "sessions/automount_options.h"

#include "sessions/option_tables.h"
#include "sessions/well.h"

namespace qv::sessions {

plist::Value DefaultAutoMountRow() {
    return plist::Dict{
        {"onOff", 1},
        {"scheme", ""},
        {"user", ""},
        {"host", ""},
        {"path", ""},
        {"mountPoint", ""},
        {"password", plist::Data{}},
        {"unmountVolume", 1},
        {"volumeType", 0},
    };
}

plist::Value DefaultAutoMountDict() {
    return plist::Dict{
        {"autoMountVolumeOn", 0},
        {"autoMountVolumeArray", plist::Array(kAutoMountRows, DefaultAutoMountRow())}};
}

std::string VolumeRowKey(const plist::Value& row) {
    return row.stringAt("scheme") + "://" + row.stringAt("user") + "@" + row.stringAt("host") +
           row.stringAt("mountPoint");
}

bool AddVolumeRow(plist::Value& autoMountDict, const plist::Value& row) {
    for (const char* key : {"scheme", "user", "host", "mountPoint"}) {
        if (row.stringAt(key).empty()) return false;
    }
    plist::Value* rows = autoMountDict.arrayAt("autoMountVolumeArray");
    if (rows == nullptr) {
        rows = &autoMountDict.set("autoMountVolumeArray",
                                  plist::Array(kAutoMountRows, DefaultAutoMountRow()));
    }
    const std::string key = VolumeRowKey(row);
    for (const plist::Value& listed : rows->array()) {
        if (!listed.stringAt("host").empty() && VolumeRowKey(listed) == key) return true;
    }
    for (plist::Value& listed : rows->array()) {
        if (listed.stringAt("host").empty()) {
            listed = row;
            return true;
        }
    }
    return false;
}

bool VolumeListContainsPassword(plist::Value& document, bool removePasswords) {
    plist::Value* sessions = document.arrayAt("sessionsArray");
    if (sessions == nullptr) return false;
    bool found = false;
    for (auto& session : sessions->array()) {
        plist::Value* autoMount = session.dictAt("autoMountDict");
        plist::Value* rows = autoMount ? autoMount->arrayAt("autoMountVolumeArray") : nullptr;
        if (rows == nullptr) continue;
        for (auto& row : rows->array()) {
            if (GetWellData(row.find("password")).empty()) continue;
            found = true;
            if (!removePasswords) return true;
            row.set("password", plist::Data{});
        }
    }
    return found;
}

}  // namespace qv::sessions
