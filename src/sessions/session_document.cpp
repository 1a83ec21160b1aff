#include "sessions/session_document.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/localization.h"
#include "sessions/automount_options.h"
#include "sessions/conflict_options.h"
#include "sessions/exclude_options.h"
#include "sessions/filter_options.h"
#include "sessions/multi_options.h"
#include "sessions/plist_codec.h"
#include "sessions/script_options.h"
#include "sessions/settings_options.h"
#include "sessions/timer_options.h"

namespace qv::sessions {

using platform::GLS;

namespace {

constexpr const char* kPasswordsReason =
    "because it contains passwords to connect to remote volumes, and I cannot set the file "
    "permissions to rw-------";

std::string HigherVersionMessage(const std::string& path) {
    return GLS("Can't open the file") + "\r\"" + path + "\"\r" +
           GLS("because it has been created by a higher version.");
}

DocResult Failed(std::string reason, std::string alert = {}) {
    DocResult r;
    r.reason = std::move(reason);
    r.alert = std::move(alert);
    return r;
}

DocResult Succeeded() {
    DocResult r;
    r.ok = true;
    return r;
}

}  // namespace

std::string WriteFailureMessage(const std::string& path, const std::string& reason) {
    std::string text = GLS("Can't write the file") + " \"" + path + "\" " + GLS("to the disk");
    if (!reason.empty()) text += " " + GLS(reason);
    return text + ".";
}

SessionDocument::SessionDocument(std::string pathFileDocTemplate)
    : pathFileDocTemplate_(std::move(pathFileDocTemplate)) {}

plist::Value SessionDocument::NewTemplate() {
    plist::Value doc = plist::Dict{{"sessionsArray", plist::Array{}}};
    AddSession(kTaskSynchronize, GLS("Default Sync Session"), doc);
    AddSession(kTaskBackup, GLS("Default Backup Session"), doc);
    doc.set("fileVersion", kDocumentVersion);
    doc.set("sessionIndex", 0);
    return doc;
}

void SessionDocument::AddSession(std::int64_t task, const std::string& name, plist::Value& dict) {
    plist::Value session = plist::Dict{
        {"consoleDict",
         plist::Dict{{"sessionName", name}, {"topFolder", ""}, {"bottomFolder", ""}}},
        {"timerDict", DefaultTimerDict(DefaultTimerStartDate())},
        {"multiDict", DefaultMultiDict()},
        {"filterDict", DefaultFilterDict()},
        {"excludeDict", DefaultExcludeDict()},
        {"conflictsDict", DefaultConflictsDict()},
        {"autoMountDict", DefaultAutoMountDict()},
        {"appleScriptDict", DefaultAppleScriptDict()},
        {"settingsDict", DefaultSettingsDict(task)},
    };
    plist::Value* sessions = dict.arrayAt("sessionsArray");
    if (sessions == nullptr) sessions = &dict.set("sessionsArray", plist::Array{});
    sessions->array().push_back(std::move(session));
}

void SessionDocument::ReadFileTemplate() {
    if (!platform::ItemExists(pathFileDocTemplate_)) {
        // Carry over the template of the previous generation; a failed copy is of no account.
        const std::string old =
            platform::JoinPath(platform::ParentFolder(pathFileDocTemplate_), kOldTemplateName);
        platform::ReadFileResult bytes = platform::ReadWholeFile(old, plist::kMaxPlistFileBytes);
        if (bytes.status == platform::ReadStatus::Ok) {
            platform::WriteFileAtomically(pathFileDocTemplate_, bytes.bytes);
        }
    }
    DocResult read = ReadDocumentFile(pathFileDocTemplate_);
    if (!read) {
        if (platform::ItemExists(pathFileDocTemplate_)) {
            templateNotice_ = SetAsideUnreadableFile(pathFileDocTemplate_, read.reason);
        }
        mMainDict = NewTemplate();
        mSessionIndex = 0;
    }
    NoteTemplateOnDisk();
    isDocumentTemplate = true;
    isDocumentOpen = true;
}

void SessionDocument::NoteTemplateOnDisk() {
    platform::ReadFileResult file =
        platform::ReadWholeFile(pathFileDocTemplate_, plist::kMaxPlistFileBytes);
    templateOnDisk_ = file.status == platform::ReadStatus::Ok ? std::move(file.bytes) : "";
}

bool SessionDocument::TemplateChangedOnDisk() const {
    platform::ReadFileResult file =
        platform::ReadWholeFile(pathFileDocTemplate_, plist::kMaxPlistFileBytes);
    if (file.status == platform::ReadStatus::Missing) return false;
    return file.status != platform::ReadStatus::Ok || file.bytes != templateOnDisk_;
}

DocResult SessionDocument::ReloadTemplate() {
    SessionDocument fresh(pathFileDocTemplate_);
    DocResult read = fresh.ReadDocumentFile(pathFileDocTemplate_);
    if (!read && platform::ItemExists(pathFileDocTemplate_)) {
        // Kept aside, as at start-up: the sessions on screen are written in its place later,
        // and what stood there (a later version's template, say) must not be lost by that.
        templateNotice_ = SetAsideUnreadableFile(pathFileDocTemplate_, read.reason);
        if (!templateNotice_.empty()) read.alert = templateNotice_;
    }
    NoteTemplateOnDisk();
    if (!read) return read;
    mMainDict = std::move(fresh.mMainDict);
    mSessionIndex = fresh.mSessionIndex;
    return read;
}

bool SessionDocument::SaveTemplateIfChanged(std::string* reason) {
    if (!isDocumentTemplate || !isDocumentOpen) return true;
    std::string current;
    mMainDict.set("fileVersion", kDocumentVersion);
    if (plist::ToXml(mMainDict, &current, nullptr) && current == templateOnDisk_) return true;
    DocResult written = WriteFileSession(pathFileDocTemplate_);
    if (!written && reason != nullptr) *reason = written.reason;
    return written.ok;
}

std::string SetAsideUnreadableFile(const std::string& path, const std::string& why) {
    // Never over an earlier one: each may be the only copy of someone's sessions.
    constexpr int kMaxCopies = 1000;
    for (int n = 1; n <= kMaxCopies; ++n) {
        const std::string aside =
            path + kSetAsideSuffix + (n == 1 ? std::string() : "-" + std::to_string(n));
        if (platform::sys().renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(),
                                      RENAME_NOREPLACE) == 0) {
            return GLS("The file") + " \"" + path + "\" " + GLS("could not be read") + " (" + why +
                   "); " + GLS("it was kept as") + " \"" + aside + "\".";
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

DocResult SessionDocument::ReadDocumentFile(const std::string& path) {
    plist::ReadResult read = plist::ReadFile(path);
    switch (read.failure) {
        case plist::ReadFailure::None:
            break;
        case plist::ReadFailure::Missing:
            return Failed("the file does not exist");
        case plist::ReadFailure::NotAFile:
            return Failed("it is not a file");
        case plist::ReadFailure::Unreadable:
            return Failed(read.reason);
        case plist::ReadFailure::NotAPropertyList:
            return Failed("it is not a property list (" + read.reason + ")");
    }
    plist::Value& doc = *read.value;
    if (!doc.isDict()) return Failed("it is not a property-list dictionary");
    const plist::Value* version = doc.find("fileVersion");
    if (version == nullptr) return Failed("it has no fileVersion");
    const std::int64_t v = version->intValue();
    if (v >= 421) {
        if (path == pathFileDocTemplate_) return Failed("it was made by a higher version");
        return Failed("it was made by a higher version", HigherVersionMessage(path));
    }
    // The open document is replaced only by one that migrates; a refused file leaves it as it was.
    MigrationResult migrated = MigrateDocument(doc, v);
    if (!migrated.ok) return Failed(migrated.reason);
    mMainDict = std::move(doc);
    mSessionIndex = migrated.sessionIndex;
    readFrom = ReadFrom{read.owner, read.mode};
    // Reading left much of the heap free (the text, the parser's nodes, the sessions replaced):
    // its pages go back to the system rather than stay resident for the rest of the process.
    malloc_trim(0);
    return Succeeded();
}

bool SessionDocument::UpdateDocumentFile(std::int64_t version) {
    MigrationResult migrated = MigrateDocument(mMainDict, version);
    if (migrated.ok) mSessionIndex = migrated.sessionIndex;
    return migrated.ok;
}

DocResult SessionDocument::WriteFileSession(const std::string& path) {
    mMainDict.set("fileVersion", kDocumentVersion);
    const bool isTemplate = path == pathFileDocTemplate_;
    const bool holdsPasswords = VolumeListContainsPassword(mMainDict, false);

    // A document holding passwords gets its restricted mode before its content is written,
    // so that it is never readable by others and a refusal leaves the old file in place.
    platform::AtomicWriteOptions options;
    options.refuseReadOnly = true;
    if (holdsPasswords) options.mode = S_IRUSR | S_IWUSR;
    platform::WriteResult written = plist::WriteXmlFile(path, mMainDict, options);
    if (!written.ok) {
        if (holdsPasswords && written.failedAt == platform::WriteStep::Mode) {
            return Failed(written.reason, WriteFailureMessage(path, kPasswordsReason));
        }
        return Failed(written.reason, WriteFailureMessage(path));
    }
    if (isTemplate) {
        // What was written is what ToXml gives: no need to read the file back (another writer
        // may already have replaced it).
        plist::ToXml(mMainDict, &templateOnDisk_, nullptr);
    }
    return Succeeded();
}

bool SessionDocument::SetRWXNoAccessNoAccessToFile(const std::string& path) {
    return platform::sys().chmod(path.c_str(), S_IRWXU) == 0;
}

bool SessionDocument::isDocumentToBeSaved() const {
    if (!isDocumentOpen || isDocumentTemplate || !mMainDict.isDict()) return false;
    std::string current;
    if (!plist::ToXml(mMainDict, &current, nullptr)) return true;
    std::string reference;
    if (isDocumentSaved) {
        platform::ReadFileResult file =
            platform::ReadWholeFile(pathDocumentFile, plist::kMaxPlistFileBytes);
        if (file.status != platform::ReadStatus::Ok) return true;
        reference = std::move(file.bytes);
    } else if (!plist::ToXml(NewTemplate(), &reference, nullptr)) {
        return true;
    }
    return current != reference;
}

const plist::Value* SessionDocument::GetSessionDict(std::int64_t index) const {
    const plist::Value* sessions = mMainDict.arrayAt("sessionsArray");
    if (sessions == nullptr || index < 0 ||
        index >= static_cast<std::int64_t>(sessions->array().size())) {
        return nullptr;
    }
    return &sessions->array()[static_cast<std::size_t>(index)];
}

plist::Value* SessionDocument::GetSessionDict(std::int64_t index) {
    return const_cast<plist::Value*>(
        static_cast<const SessionDocument*>(this)->GetSessionDict(index));
}

std::string SessionDocument::GetSessionName(std::int64_t index) const {
    const plist::Value* session = GetSessionDict(index);
    const plist::Value* console = session ? session->dictAt("consoleDict") : nullptr;
    return console ? console->stringAt("sessionName") : std::string();
}

std::int64_t SessionDocument::FindSessionIndex(const std::string& name) const {
    for (std::int64_t i = 0; i < SessionCount(); ++i) {
        if (GetSessionName(i) == name) return i;
    }
    return -1;
}

std::int64_t SessionDocument::SessionCount() const {
    const plist::Value* sessions = mMainDict.arrayAt("sessionsArray");
    return sessions ? static_cast<std::int64_t>(sessions->array().size()) : 0;
}

}  // namespace qv::sessions
