#include "app/main_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "engine/exact_sync_index_store.h"
#include "engine/item_filter.h"
#include "engine/preview_model.h"
#include "fileops/volume_rows.h"
#include "items/tw_utilities.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "platform/privileges.h"
#include "platform/system_log.h"
#include "platform/tree_copy.h"
#include "platform/version.h"
#include "sessions/automount_options.h"
#include "sessions/plist_codec.h"
#include "sessions/settings_options.h"

namespace qv::app {

namespace {
constexpr const char* kOldExactSyncFolder = "Quorvel 3.0 ExactSync Indexes";
constexpr const char* kOldSupportFolder = "Quorvel 3";
constexpr const char* kRecentDocumentsFile = "recent-documents";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}
}  // namespace

MainApp::MainApp(std::string resourcesFolder)
    : resourcesFolder_(std::move(resourcesFolder)),
      utilities_(std::make_unique<items::TWUtilities>()) {}

MainApp::~MainApp() = default;

StartupResult MainApp::Start() {
    StartupResult result = InitVariables();
    if (!result.ok) return result;
    preferences_->ReadFilePreferences();
    document_->ReadFileTemplate();
    for (const std::string* notice : {&preferences_->notice(), &document_->templateNotice()}) {
        if (!notice->empty()) {
            result.notices.push_back(*notice);
            platform::SystemLog(*notice);
        }
    }
    return result;
}

std::string MainApp::LaunchLine(const std::string& executableName) {
    return executableName + " " + platform::kShortVersion + " (Build " + platform::kBuildVersion +
           ") (" + std::to_string(sizeof(void*) * 8) + "bit) launched by uid " +
           std::to_string(::getuid()) + ", gid " + std::to_string(::getgid()) + " - euid " +
           std::to_string(::geteuid()) + ", egid " + std::to_string(::getegid());
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
    CopyOldSupportFolder();
    const bool folder4Exists = platform::IsExistingFolder(paths_.pathQV4AppSupp);
    if (!platform::CreateFolderWithFoldersInBetween(paths_.pathQV4AppSupp)) {
        platform::SystemLog("QV cannot create the folder " + paths_.pathQV4AppSupp +
                            " - folder4Exists " + std::to_string(folder4Exists ? 1 : 0));
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
    recent_ = std::make_unique<RecentDocuments>(
        platform::JoinPath(paths_.pathFolderPref, kRecentDocumentsFile));
    recent_->Read();
    result.ok = true;
    return result;
}

void MainApp::CopyOldSupportFolder() {
    if (platform::ItemExists(paths_.pathQV4AppSupp)) return;
    const std::string old = platform::JoinPath(paths_.pathNimbrelAppSupp, kOldSupportFolder);
    if (!platform::IsExistingFolder(old)) return;
    std::string why;
    if (!platform::CopyFolderTree(old, paths_.pathQV4AppSupp, &why)) {
        platform::SystemLog("QV cannot copy the old support folder\r" + old + "\rto the folder " +
                            paths_.pathQV4AppSupp + " (" + why + ")");
    }
}

// ---- Documents ----

bool MainApp::NewAsksTemplateQuestion() const {
    if (!document_->isDocumentTemplate) return false;
    std::string current;
    std::string fresh;
    if (!plist::ToXml(document_->mMainDict, &current, nullptr)) return true;
    plist::Value blank = sessions::SessionDocument::NewTemplate();
    // Which session is on screen is no setting worth a question.
    blank.set("sessionIndex", document_->mMainDict.intAt("sessionIndex"));
    return !plist::ToXml(blank, &fresh, nullptr) || current != fresh;
}

void MainApp::NewDocument() {
    sessions::SessionDocument& doc = *document_;
    doc.pathDocumentFile.clear();
    doc.mMainDict = sessions::SessionDocument::NewTemplate();
    doc.mSessionIndex = 0;
    doc.isDocumentOpen = true;
    doc.isDocumentSaved = false;
    doc.isDocumentTemplate = false;
    documentTrusted_ = true;
    exactRunConfirmed_ = false;
}

sessions::DocResult MainApp::OpenDocument(const std::string& path) {
    sessions::SessionDocument& doc = *document_;
    // Kept aside: a document that cannot be read leaves the open one as it was.
    plist::Value kept = std::move(doc.mMainDict);
    const std::int64_t keptIndex = doc.mSessionIndex;
    sessions::DocResult read = doc.ReadDocumentFile(path);
    if (!read) {
        doc.mMainDict = std::move(kept);
        doc.mSessionIndex = keptIndex;
        recent_->Remove(path);
        return read;
    }
    doc.pathDocumentFile = path;
    doc.isDocumentOpen = true;
    doc.isDocumentSaved = true;
    doc.isDocumentTemplate = false;
    documentTrusted_ = Trust().IsTrusted(path, doc.mMainDict);
    exactRunConfirmed_ = false;
    recent_->Add(path);
    return read;
}

DocumentTrust MainApp::Trust() const {
    return DocumentTrust(platform::JoinPath(paths_.pathQV4AppSupp, kTrustedDocumentsFileName));
}

bool MainApp::TrustOpenDocument(std::string* reason) {
    documentTrusted_ = true;
    const sessions::SessionDocument& doc = *document_;
    if (doc.isDocumentTemplate || doc.pathDocumentFile.empty()) return true;
    // What is on disk, read back: what a later Open will compare with.
    const plist::ReadResult onDisk = plist::ReadFile(doc.pathDocumentFile);
    if (!onDisk.value) {
        if (reason != nullptr) *reason = onDisk.reason;
        return false;
    }
    std::string why;
    if (!paths_.EnsureSupportFolder(&why)) {
        if (reason != nullptr) *reason = why;
        return false;
    }
    return Trust().Trust(doc.pathDocumentFile, *onDisk.value, reason);
}

bool MainApp::SaveNeedsPath() const {
    return !document_->isDocumentSaved || document_->isDocumentTemplate ||
           document_->pathDocumentFile.empty();
}

sessions::DocResult MainApp::SaveDocument() {
    if (SaveNeedsPath()) {
        sessions::DocResult r;
        r.reason = "the document has no file yet";
        return r;
    }
    return document_->WriteFileSession(document_->pathDocumentFile);
}

sessions::DocResult MainApp::SaveDocumentAs(const std::string& path, std::string* written) {
    std::string target = path;
    const std::string ext = std::string(".") + sessions::kDocumentExtension;
    if (!EndsWith(target, ext)) target += ext;
    sessions::SessionDocument& doc = *document_;
    sessions::DocResult r = doc.WriteFileSession(target);
    if (!r) return r;
    doc.pathDocumentFile = target;
    doc.isDocumentOpen = true;
    doc.isDocumentSaved = true;
    doc.isDocumentTemplate = false;
    recent_->Add(target);
    if (written != nullptr) *written = target;
    return r;
}

void MainApp::CloseDocument() {
    document_->isDocumentOpen = false;
    document_->isDocumentSaved = false;
}

std::string MainApp::DocumentTitle() const {
    const sessions::SessionDocument& doc = *document_;
    if (doc.isDocumentTemplate) return {};
    if (doc.pathDocumentFile.empty()) return platform::GLS("Untitled");
    std::string name = doc.pathDocumentFile.substr(doc.pathDocumentFile.find_last_of('/') + 1);
    const std::string ext = std::string(".") + sessions::kDocumentExtension;
    if (EndsWith(name, ext) && name.size() > ext.size()) name.resize(name.size() - ext.size());
    return name;
}

// ---- Termination and changes made by others ----

std::vector<std::string> MainApp::WriteTemplateAndPreferences() {
    std::vector<std::string> problems;
    // Only the template's own sessions go to the template: a named document on screen has a
    // file of its own, and writing it over the template would lose the template's sessions.
    // Sessions unchanged since the last read or write are not written again either: another
    // program may just have changed the file.
    std::string reason;
    if (!document_->SaveTemplateIfChanged(&reason)) {
        problems.push_back("Can't write the template document: " + reason);
    }
    if (!preferences_->WriteFilePreferences(true, &reason)) {
        problems.push_back("Can't write the preferences: " + reason);
    }
    return problems;
}

SettingsFilesReload MainApp::ReloadChangedSettingsFiles() {
    SettingsFilesReload r;
    if (preferences_->FileChangedOnDisk()) {
        r.preferencesReloaded = preferences_->ReloadPreferences();
        if (!r.preferencesReloaded) {
            r.problems.push_back(!preferences_->notice().empty()
                                     ? preferences_->notice()
                                     : "The preferences file changed but cannot be read: " +
                                           paths_.pathFilePref);
        }
    }
    // Never over a named document: the template is not what the window shows.
    if (document_->isDocumentTemplate && document_->TemplateChangedOnDisk()) {
        sessions::DocResult read = document_->ReloadTemplate();
        r.templateReloaded = read.ok;
        if (!read) {
            r.problems.push_back(!read.alert.empty()
                                     ? read.alert
                                     : "The template document changed but cannot be read (" +
                                           read.reason + "): " + paths_.pathFileDocTemplate);
        }
    }
    for (const std::string& p : r.problems) platform::SystemLog(p);
    return r;
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
    return items::TWUtilities().IsFilePackage(path, attributes);
}

std::string MainApp::LastExactSyncLine(std::int64_t sessionIndex) const {
    const plist::Value* session = document_->GetSessionDict(sessionIndex);
    const plist::Value* settings = session ? session->dictAt("settingsDict") : nullptr;
    const plist::Value* console = session ? session->dictAt("consoleDict") : nullptr;
    if (settings == nullptr || console == nullptr ||
        settings->intAt("settTask") != sessions::kTaskSynchronize ||
        settings->intAt("settExact") == 0) {
        return {};
    }
    engine::ExactSyncIndexStore index(paths_.pathExactSyncIndexFolder);
    // Only found and dated: nothing is loaded, checked or changed.
    if (!index.ExactSyncFileExists(
            {console->stringAt("topFolder"), console->stringAt("bottomFolder"), true, false},
            false)) {
        return {};
    }
    const std::optional<double> date = index.LastExactSyncDate();
    if (!date) return {};
    const std::time_t t = static_cast<std::time_t>(*date);
    std::tm local{};
    char text[64];
    if (::localtime_r(&t, &local) == nullptr ||
        std::strftime(text, sizeof text, "%b %d %Y, %H:%M:%S", &local) == 0) {
        return {};
    }
    return platform::GLS("• Last Exact Sync: ") + text;
}

FilterTest MainApp::TestFilter(std::int64_t sessionIndex, const std::string& path) const {
    FilterTest test;
    const plist::Value* session = document_->GetSessionDict(sessionIndex);
    const plist::Value* filters = session ? session->dictAt("filterDict") : nullptr;
    const items::TWUtilities tw;
    const engine::ItemFilter filter(filters ? *filters : plist::Value(), tw);
    test.filtersOn = filters != nullptr && filters->intAt("filterOn") == 1 && !filter.empty();
    const platform::ItemAttributes attrs = platform::ReadItemAttributes(path.c_str());
    test.exists = attrs.exists();
    const std::string name = platform::LastPathComponent(path);
    const engine::ItemFilter::Verdict verdict = filter.Match({name, path, -1, attrs});
    test.leftOut = verdict.leftOut;
    test.row = verdict.tableRow ? *verdict.tableRow + 1 : 0;
    return test;
}

engine::PreviewSideInfo MainApp::DescribePreviewSide(const std::string& path) {
    return engine::DescribeSide(items::TWUtilities(), path);
}

TypeAndCreator MainApp::GetTypeAndCreator(const std::string& path) {
    const items::FinderCodes codes = items::TWUtilities().GetTypeAndCreator(AT_FDCWD, path);
    return {codes.type, codes.creator};
}

std::string DefaultResourcesFolder() {
    std::vector<char> exe(4096);
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    if (n <= 0) return "share/quorvel";
    const std::string bin = platform::ParentFolder(std::string(exe.data(), static_cast<size_t>(n)));
    return platform::JoinPath(platform::ParentFolder(bin), "share/quorvel");
}

bool MainApp::AddToAutoMountVolumeArray(std::int64_t sessionIndex, const std::string& path) {
    plist::Value* session = document_->GetSessionDict(sessionIndex);
    if (session == nullptr) return false;
    const std::optional<plist::Value> row = fileops::GetVolumeMountInfoDictionary(path);
    if (!row) return false;
    plist::Value* autoMount = session->dictAt("autoMountDict");
    if (autoMount == nullptr) {
        autoMount = &session->set("autoMountDict", sessions::DefaultAutoMountDict());
    }
    return sessions::AddVolumeRow(*autoMount, *row);
}

}  // namespace qv::app
