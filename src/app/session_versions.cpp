#include "app/session_versions.h"

#include <climits>
#include <cstdlib>
#include <ctime>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "platform/run_lock.h"
#include "sessions/multi_options.h"
#include "sessions/settings_options.h"

namespace qv::app {

using platform::GLS;

namespace {

std::string Resolved(const std::string& path) {
    char real[PATH_MAX];
    if (!path.empty() && platform::sys().realpath(path.c_str(), real) != nullptr) return real;
    return path;
}

}  // namespace

std::vector<fileops::VersionPair> VersionPairsOf(const plist::Value& session) {
    std::vector<fileops::VersionPair> pairs;
    const plist::Value* multi = session.dictAt("multiDict");
    if (multi != nullptr && multi->intAt("multiOn", 0) == 1) {
        for (const sessions::MultiPair& row : sessions::CountMultiValid(session)) {
            pairs.push_back({Resolved(row.source), Resolved(row.destination)});
        }
        return pairs;
    }
    const plist::Value* console = session.dictAt("consoleDict");
    if (console == nullptr) return pairs;
    pairs.push_back(
        {Resolved(console->stringAt("topFolder")), Resolved(console->stringAt("bottomFolder"))});
    return pairs;
}

run::VersionsSettings VersionsSettingsOfSession(const plist::Value& session) {
    return sessions::VersionsSettingsOf(session.dictAt("settingsDict"));
}

std::string RelativeVersionPath(const std::vector<fileops::VersionPair>& pairs,
                                const std::string& path) {
    std::string given = path;
    if (!given.empty() && given.front() == '/') {
        // The item itself may be gone: its folder is resolved, its name kept.
        const std::size_t slash = given.rfind('/');
        const std::string folder = slash == 0 ? "/" : given.substr(0, slash);
        given = platform::JoinPath(Resolved(folder), given.substr(slash + 1));
        for (const fileops::VersionPair& pair : pairs) {
            for (const std::string* top : {&pair.a, &pair.b}) {
                if (given == *top) return {};
                const std::string prefix = *top == "/" ? *top : *top + "/";
                if (given.compare(0, prefix.size(), prefix) == 0) {
                    return given.substr(prefix.size());
                }
            }
        }
    }
    while (!given.empty() && given.back() == '/') given.pop_back();
    while (!given.empty() && given.front() == '/') given.erase(0, 1);
    return given;
}

std::optional<fileops::VersionInfo> ChooseVersion(const std::vector<fileops::VersionInfo>& all,
                                                  const std::string& relative,
                                                  const std::optional<std::string>& at,
                                                  std::string* why) {
    std::optional<fileops::VersionInfo> chosen;
    bool any = false;
    for (const fileops::VersionInfo& v : all) {
        if (v.relativePath != relative) continue;
        any = true;
        if (at && v.stamp != *at) continue;
        // The list is newest first within an item.
        if (!chosen) chosen = v;
    }
    if (!chosen) {
        *why = !any ? platform::FormatText(GLS("No version of %@ was kept."), {relative})
                    : platform::FormatText(GLS("No version of %@ was kept at %@."),
                                           {relative, at.value_or("")});
    }
    return chosen;
}

bool RestoreSessionVersion(MainApp& app, const plist::Value& session,
                           const fileops::VersionInfo& version,
                           const std::optional<std::string>& toFolder,
                           std::vector<std::string>* done, std::string* why) {
    std::string heldBy, error;
    const std::optional<platform::RunLock> lock = platform::RunLock::TryAcquire(
        platform::RunLockFolder(app.paths()), "quorvel versions restore", &heldBy, &error);
    if (!lock) {
        *why = !error.empty() ? error
                              : GLS("A run is under way; restore once it has ended.") +
                                    (heldBy.empty() ? "" : " (" + heldBy + ")");
        return false;
    }
    const fileops::Metadata metadata(app.utilities());
    return fileops::RestoreVersion(VersionPairsOf(session), VersionsSettingsOfSession(session),
                                   version, toFolder, std::time(nullptr), metadata, done, why);
}

}  // namespace qv::app
