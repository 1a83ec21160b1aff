#include "sessions/preferences.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "platform/file_io.h"
#include "platform/file_system.h"
#include "sessions/email_settings.h"
#include "sessions/plist_codec.h"
#include "sessions/script_options.h"
#include "sessions/volume_editor.h"
#include "sessions/session_document.h"

namespace qv::sessions {

namespace {

constexpr double kDefaultDrawerWidth = 200.0;

std::int64_t RootFlag() { return ::geteuid() == 0 ? 1 : 0; }

}  // namespace

Preferences::Preferences(platform::SupportPaths paths) : paths_(std::move(paths)) {}

plist::Value Preferences::GetDefaultPreferencesDict() const {
    return plist::Dict{
        {"versionPref", kPreferencesVersion},
        {"versionApp", kApplicationVersion},
        {"prefSyncAndQuit", 0},
        {"prefAskConfirmation", 1},
        {"prefConfirmEmptySideDeletion", 1},
        {"prefPreview", 0},
        {"prefPreviewExpanded", 0},
        {"prefBeepWhenDone", 0},
        {"prefShutDown", 0},
        {"prefOnError", 3},
        {"prefSaveLogFile", 0},
        {"prefSaveLogFileWhen", 2},
        {"prefLogFileFormat", 1},
        {"prefLogKind", 2},
        {"prefPathLogFolder", paths_.pathLogFolder},
        {"prefDeleteLogsOn", false},
        {"prefDeleteLogsPop", 0},
        {"prefDeleteLogsField", 7},
        {"prefSendEmail", 0},
        {"prefSendEmailWhen", 2},
        {"prefSendEmailDict", GetSendEmailDefaultDict()},
        {"prefRoot", RootFlag()},
        {"prefModificationDelta", 0},
        {"prefModificationDeltaField", 10},
        {"prefScriptTimeout", kDefaultScriptTimeout},
        {"prefMountTimeout", kDefaultMountTimeout},
        {"prefUpdateFrequency", 0},
        {"prefUpdateLastCheckDate", plist::Date{static_cast<double>(std::time(nullptr))}},
        {"prefTabViewIdentifier", "General"},
        {"prefSettTabViewIdentifier", "General"},
        {"prefSchedulingWindowIsOpen", false},
        {"consInfoDrawerIsOpen", false},
        {"consOptionsDrawerIsOpen", false},
        {"consOptionsDrawerWidth", kDefaultDrawerWidth},
    };
}

void Preferences::ReadFilePreferences() {
    mPrefDict = plist::Value();
    bool found = false;
    plist::ReadResult file = plist::ReadFile(paths_.pathFilePref);
    if (file.value) {
        if (const plist::Value* prefs = file.value->dictAt(kPreferencesKey)) {
            mPrefDict = *prefs;
            found = true;
            // A later version's preferences give way to the defaults here; they are kept for
            // that version rather than overwritten.
            const plist::Value* version = mPrefDict.find("versionPref");
            if (version != nullptr && version->intValue() >= 412) {
                notice_ = SetAsideUnreadableFile(paths_.pathFilePref,
                                                 "it was made by a higher version");
            }
        }
    } else if (file.failure != plist::ReadFailure::Missing) {
        notice_ = SetAsideUnreadableFile(paths_.pathFilePref, file.reason);
    }
    if (!found) {
        // There are no user defaults on this platform: the older storage is the file of the
        // previous generation, read once and removed with the one before it.
        const std::string old = platform::JoinPath(paths_.pathFolderPref, kOldPreferencesFile);
        plist::ReadResult oldFile = plist::ReadFile(old);
        if (oldFile.value && oldFile.value->isDict()) {
            if (const plist::Value* prefs = oldFile.value->dictAt(kOldPreferencesKey)) {
                mPrefDict = *prefs;
            } else {
                mPrefDict = std::move(*oldFile.value);
            }
            found = true;
        }
        platform::sys().unlink(old.c_str());
        platform::sys().unlink(
            platform::JoinPath(paths_.pathFolderPref, kOlderPreferencesFile).c_str());
    }
    if (found) {
        UpdatePreferences();
    } else {
        InitPreferences();
    }
    WriteFilePreferences(false);
}

bool Preferences::FileChangedOnDisk() const {
    plist::ReadResult file = plist::ReadFile(paths_.pathFilePref);
    if (!file.value) return file.failure != plist::ReadFailure::Missing;
    const plist::Value* stored = file.value->dictAt(kPreferencesKey);
    return stored == nullptr || *stored != mPrefDict;
}

bool Preferences::ReloadPreferences() {
    plist::ReadResult file = plist::ReadFile(paths_.pathFilePref);
    if (!file.value || file.value->dictAt(kPreferencesKey) == nullptr) {
        // Kept aside, so that the preferences written later in its place do not destroy it.
        if (file.failure != plist::ReadFailure::Missing) {
            notice_ = SetAsideUnreadableFile(paths_.pathFilePref,
                                             file.value ? "it holds no preferences" : file.reason);
        }
        return false;
    }
    ReadFilePreferences();
    return true;
}

void Preferences::UpdatePreferences() {
    const plist::Value* version = mPrefDict.find("versionPref");
    if (version == nullptr) version = mPrefDict.find("fileVersion");
    if (version == nullptr || version->intValue() >= 412) {
        InitPreferences();
        return;
    }
    const plist::Value defaults = GetDefaultPreferencesDict();
    for (auto it = mPrefDict.dict().begin(); it != mPrefDict.dict().end();) {
        it = defaults.contains(it->first) ? std::next(it) : mPrefDict.dict().erase(it);
    }
    mPrefDict.set("prefRoot", RootFlag());
    mPrefDict.setIfAbsent("prefSyncAndQuit", 0);
    mPrefDict.setIfAbsent("prefTabViewIdentifier", "General");
    mPrefDict.setIfAbsent("prefModificationDelta", 0);
    mPrefDict.setIfAbsent("prefModificationDeltaField", 10);
    mPrefDict.setIfAbsent("prefSchedulingWindowIsOpen", false);
    mPrefDict.setIfAbsent("prefSettTabViewIdentifier", "General");
    mPrefDict.setIfAbsent("prefShutDown", 0);
    mPrefDict.setIfAbsent("prefScriptTimeout", kDefaultScriptTimeout);
    mPrefDict.setIfAbsent("prefMountTimeout", kDefaultMountTimeout);
    if (!mPrefDict.contains("prefDeleteLogsOn")) {
        mPrefDict.set("prefDeleteLogsOn", false);
        mPrefDict.set("prefDeleteLogsPop", 0);
        mPrefDict.set("prefDeleteLogsField", 7);
    }
    mPrefDict.setIfAbsent("prefPreviewExpanded", 0);
    mPrefDict.setIfAbsent("prefSendEmailDict", GetSendEmailDefaultDict());
}

void Preferences::InitPreferences() { mPrefDict = GetDefaultPreferencesDict(); }

bool Preferences::WriteFilePreferences(bool atTermination, std::string* reason) {
    std::string ignored;
    if (reason == nullptr) reason = &ignored;
    // At quit, preferences this process has not changed since it last read or wrote them are
    // not written: another program may have changed the file a moment ago, and writing what
    // this process holds would undo that.
    if (atTermination && mPrefDict == lastSynced_) return true;
    if (!paths_.EnsurePreferencesFolder(reason)) return false;
    plist::Value file = plist::Dict{};
    plist::ReadResult existing = plist::ReadFile(paths_.pathFilePref);
    if (existing.value && existing.value->isDict()) {
        // Already what would be written: every start reads and writes the preferences, and a
        // rewrite (with its flushes to disk) would change nothing.
        const plist::Value* stored = existing.value->find(kPreferencesKey);
        if (stored != nullptr && *stored == mPrefDict) {
            lastSynced_ = mPrefDict;
            return true;
        }
        file = std::move(*existing.value);
    }
    file.set(kPreferencesKey, mPrefDict);
    // It holds the e-mail account, scrambled but not encrypted: for its owner's eyes only.
    platform::AtomicWriteOptions options;
    options.mode = S_IRUSR | S_IWUSR;
    platform::WriteResult written = plist::WriteXmlFile(paths_.pathFilePref, file, options);
    *reason = written.reason;
    if (written.ok) lastSynced_ = mPrefDict;
    return written.ok;
}

}  // namespace qv::sessions
