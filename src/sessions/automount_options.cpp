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
