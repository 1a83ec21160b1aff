#include "app/main_app.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "fileops/tw_utilities.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "platform/privileges.h"

namespace qv::app {

namespace {
constexpr const char* kOldExactSyncFolder = "Quorvel 3.0 ExactSync Indexes";
}

MainApp::MainApp(std::string resourcesFolder) : resourcesFolder_(std::move(resourcesFolder)) {}

StartupResult MainApp::Start() {
    StartupResult result = InitVariables();
    if (!result.ok) return result;
    preferences_->ReadFilePreferences();
    document_->ReadFileTemplate();
    return result;
}

StartupResult MainApp::InitVariables() {
    StartupResult result;
    // The string table comes first: every later message and folder name is localised.
    platform::Localizer localizer;
    std::string why;
    if (!localizer.Load(resourcesFolder_, platform::PreferredLanguages(), &why)) {
        result.alert = std::string(platform::kMissingStringsMessage);
        return result;
    }
    platform::InstallLocalizer(std::move(localizer));

    // Started as root for a user: what it makes in that user's folders stays theirs.
    if (const auto user = platform::InvokingUser()) {
        platform::SetOwnerOfCreatedFiles(user->uid, user->gid);
    }
    paths_ = platform::SupportPaths::FromEnvironment();
    if (!platform::CreateFolderWithFoldersInBetween(paths_.pathQV4AppSupp)) {
        result.alert = platform::GLS("Cannot create the folder") + "\r\"" + paths_.pathQV4AppSupp +
                       "\"." + "\r" + platform::GLS("Cannot run.") + "\r" +
                       platform::GLS(
                           "Please be sure that each folder (if existing) on the "
                           "pathname above has got Read&Write privileges for the "
                           "current user.");
        return result;
    }
    PrepareExactSyncIndexFolder();

    document_ = std::make_unique<sessions::SessionDocument>(paths_.pathFileDocTemplate);
    preferences_ = std::make_unique<sessions::Preferences>(paths_);
    runService_ = std::make_unique<RunService>(*document_, *preferences_, paths_);
    result.ok = true;
    return result;
}

void MainApp::PrepareExactSyncIndexFolder() {
    const std::string& folder = paths_.pathExactSyncIndexFolder;
    if (platform::IsExistingFolder(folder)) return;
    // Something that is not a folder stands in the way of the indexes: it goes.
    platform::sys().unlink(folder.c_str());
    const std::string old = platform::JoinPath(paths_.pathFolderPref, kOldExactSyncFolder);
    if (platform::IsExistingFolder(old)) platform::sys().rename(old.c_str(), folder.c_str());
}

bool MainApp::IsFilePackage(const std::string& path, const platform::ItemAttributes& attributes) {
    return fileops::TWUtilities().IsFilePackage(path, attributes);
}

std::string DefaultResourcesFolder() {
    std::vector<char> exe(4096);
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    if (n <= 0) return "share/quorvel";
    const std::string bin = platform::ParentFolder(std::string(exe.data(), static_cast<size_t>(n)));
    return platform::JoinPath(platform::ParentFolder(bin), "share/quorvel");
}

}  // namespace qv::app
