#pragma once
// The versions of a session's items as the command and the window find and restore them: the
// session's folder pairs and settings, and the run lock held while a version is put back.

#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "fileops/versions.h"
#include "sessions/plist_value.h"

namespace qv::app {

// The folder pairs of the session as its runs take them: the multiple list when it is on,
// otherwise its two folders; each folder's links resolved.
std::vector<fileops::VersionPair> VersionPairsOf(const plist::Value& session);
run::VersionsSettings VersionsSettingsOfSession(const plist::Value& session);

// PATH as the user gave it: below a top folder of the pairs when it lies there, else taken as a
// path below the tops already ("" for every item).
std::string RelativeVersionPath(const std::vector<fileops::VersionPair>& pairs,
                                const std::string& path);

// The version of `relative` to restore among those ListVersions gave: the one made at `at` (a
// stamp as listed, "YYYY-MM-DD HHMMSS" with its "-N" if any), or the newest. Nothing, with *why,
// when there is none.
std::optional<fileops::VersionInfo> ChooseVersion(const std::vector<fileops::VersionInfo>& all,
                                                  const std::string& relative,
                                                  const std::optional<std::string>& at,
                                                  std::string* why);

// Restores the version under the run lock: refused (and *why names the holder) while a run
// goes on.
bool RestoreSessionVersion(MainApp& app, const plist::Value& session,
                           const fileops::VersionInfo& version,
                           const std::optional<std::string>& toFolder,
                           std::vector<std::string>* done, std::string* why);

}  // namespace qv::app
