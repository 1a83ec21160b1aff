#include "engine/volume_passes.h"

#include "platform/localization.h"
#include "run/log_name.h"
#include "sessions/volume_editor.h"
#include "sessions/well.h"

namespace qv::engine {

using platform::GLS;

namespace {

// A row the pass takes: on, of a known type, with an address.
bool Listed(const plist::Value& row) {
    if (row.intAt("onOff", 0) != 1 || row.intAt("volumeType", 0) == 0) return false;
    for (const char* key : {"scheme", "user", "host", "mountPoint"}) {
        if (row.stringAt(key).empty()) return false;
    }
    return row.contains("path");
}

// What a tool said, on one line of the log, its blanks run together.
std::string OneLine(const std::string& said) {
    std::string line;
    for (const char c : said) {
        const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (blank) {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else if (static_cast<unsigned char>(c) >= 0x20) {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace

void VolumePasses::Prepare(const MountSetting& setting, bool planOnly) {
    setting_ = setting;
    planOnly_ = planOnly;
    mounted_.clear();
}

void VolumePasses::MountAllVolumesForSession(std::int64_t sessionIndex) {
    std::vector<std::string>& cannot = state_.session.executiveCannotAutomountArray;
    cannot.clear();
    const plist::Value* session = document_.GetSessionDict(sessionIndex);
    const plist::Value* dict = session ? session->dictAt("autoMountDict") : nullptr;
    const plist::Value* rows = dict ? dict->arrayAt("autoMountVolumeArray") : nullptr;
    if (rows == nullptr || dict->intAt("autoMountVolumeOn", 0) != 1) return;
    std::string failures = GLS("Can't mount the volumes:");
    std::int64_t failed = 0;
    for (const plist::Value& row : rows->array()) {
        if (!state_.IsRunning()) break;
        if (!Listed(row)) continue;
        const std::string& mountPoint = row.stringAt("mountPoint");
        const std::string address = run::Quoted(sessions::VolumeLogAddress(row));
        if (planOnly_) {
            // A plan mounts nothing: what is not mounted is reported so.
            if (!IsMountPoint(mountPoint)) cannot.push_back(mountPoint);
            continue;
        }
        const MountResult r =
            MountVolume(row, sessions::GetWellData(row.find("password")), runner_, setting_);
        if (r.status == MountStatus::kMounted) {
            errors_.Note(sessionIndex, GLS("Mounted the volume") + "\r" + address);
            if (row.intAt("unmountVolume", 0) == 1) {
                mounted_[sessionIndex].push_back({address, row.stringAt("scheme"),
                                                  row.intAt("volumeType", 0), r.mountPoint,
                                                  r.loopDevice});
            }
        } else if (r.status == MountStatus::kFailed) {
            failures += "\r" + address + ": " + r.message;
            if (!r.detail.empty()) failures += " (" + OneLine(r.detail) + ")";
            cannot.push_back(mountPoint);
            ++failed;
        }
    }
    if (failed > 0) errors_.Record(sessionIndex, failures, failed);
}

void VolumePasses::UnmountAllVolumesForSession(std::int64_t sessionIndex) {
    const auto found = mounted_.find(sessionIndex);
    if (found == mounted_.end()) return;
    std::string failures = GLS("Can't unmount the volumes") + ":";
    std::int64_t failed = 0;
    // Whatever became of the run: what it mounted is unmounted, the last mounted first.
    MountSetting setting = setting_;
    setting.stop = nullptr;
    for (auto volume = found->second.rbegin(); volume != found->second.rend(); ++volume) {
        const std::string why = UnmountVolume(*volume, runner_, setting);
        if (why.empty()) {
            errors_.Note(sessionIndex, GLS("Unmounted the volume") + "\r" + volume->address);
        } else {
            failures += "\r" + volume->address + ". " + GLS("Error:") + " " + run::LogName(why);
            ++failed;
        }
    }
    mounted_.erase(found);
    if (failed > 0) errors_.Record(sessionIndex, failures, failed);
}

}  // namespace qv::engine
