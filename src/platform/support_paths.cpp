#include "platform/support_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "platform/privileges.h"

namespace qv::platform {

namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/";
}

// An empty variable name stands for "not set".
std::string XdgFolder(const char* variable, const std::string& home, const char* fallback) {
    const char* value = *variable != '\0' ? std::getenv(variable) : nullptr;
    if (value != nullptr && *value == '/') return value;
    return JoinPath(home, fallback);
}

}  // namespace

SupportPaths SupportPaths::FromEnvironment() {
    SupportPaths p;
    // A root instance started for a user works on that user's files. pkexec clears the
    // environment and sudo may keep root's: the user's home with the usual folders it is.
    const std::optional<InvokingUserInfo> user = InvokingUser();
    p.home = user ? user->home : HomeFolder();
    const char* configVariable = user ? "" : "XDG_CONFIG_HOME";
    const char* dataVariable = user ? "" : "XDG_DATA_HOME";
    p.pathFolderPref = JoinPath(XdgFolder(configVariable, p.home, ".config"), "quorvel");
    p.pathFilePref = JoinPath(p.pathFolderPref, std::string(kAppIdentifier) + ".plist");
    p.pathFileDocTemplate =
        JoinPath(p.pathFolderPref, std::string(kAppIdentifier) + ".template.plist");
    p.pathNimbrelAppSupp = JoinPath(XdgFolder(dataVariable, p.home, ".local/share"), "Nimbrel");
    p.pathQV4AppSupp = JoinPath(p.pathNimbrelAppSupp, "Quorvel 4");
    p.pathExactSyncIndexFolder = JoinPath(p.pathQV4AppSupp, "ExactSync Indexes");
    p.pathAppFolder = p.pathQV4AppSupp;
    p.pathLogFolder = JoinPath(p.pathAppFolder, GLS("Log Files"));
    return p;
}

bool SupportPaths::EnsurePreferencesFolder(std::string* reason) const {
    if (IsExistingFolder(pathFolderPref)) return true;
    if (!CreateFolderWithFoldersInBetween(ParentFolder(pathFolderPref), reason)) return false;
    // Documents kept here may hold (scrambled) volume and mail passwords: only the owner may
    // look inside.
    if (sys().mkdir(pathFolderPref.c_str(), 0700) != 0 && !IsExistingFolder(pathFolderPref)) {
        if (reason != nullptr) *reason = std::strerror(errno);
        return false;
    }
    GiveCreatedItem(pathFolderPref);
    return true;
}

bool SupportPaths::EnsureSupportFolder(std::string* reason) const {
    return CreateFolderWithFoldersInBetween(pathQV4AppSupp, reason);
}

}  // namespace qv::platform
