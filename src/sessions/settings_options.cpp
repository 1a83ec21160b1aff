#include "sessions/settings_options.h"

#include <algorithm>
#include <string_view>

#include "platform/localization.h"

namespace qv::sessions {

using platform::GLS;

namespace {

constexpr SettingsTaskCell kTaskCells[] = {
    {kTaskSynchronize, "Synchronize"},
    {kTaskBackup, "Backup"},
};

constexpr SettingsCheckbox kCheckboxes[] = {
    {"settInvisibleItems", "Skip invisible items", true,
     "Hidden items are those listed in the .hidden file of their folder and those flagged "
     "hidden; names that begin with a dot are copied all the same."},
    {"settLockedItems", "Don't unlock locked items", true,
     "An immutable item (chattr +i) keeps its flag: nothing is written into it or over it. "
     "Otherwise the flag is cleared for the copy and set again, which needs root."},
    {"settResolveAlias", "Resolve aliases", false,
     "A link file (a desktop file that points to another item) is followed: the item it points "
     "to is copied in its place."},
    {"settResolveSymLink", "Resolve symbolic links", false,
     "A symbolic link is followed: the item it points to is copied in its place."},
    {"settSkipEmptyFolders", "Skip empty folders", false,
     "Folders that hold nothing are not copied."},
    {"settNewItemsOnly", "Copy new items only", false,
     "Only items missing on the other side are copied; existing ones are left as they are."},
    {"settPackagesFolders", "Treat packages as folders", false,
     "A folder that stands for one document is walked into like any folder rather than copied "
     "whole."},
    {"settMoveToTrash", "Move deleted items to the trash", false,
     "Deleted and replaced items go to the desktop's trash of their volume rather than being "
     "removed."},
    {"settSkipCheckPermissions", "Skip the permission check", false,
     "The check that every item can be read and written is left out before the copy."},
};

}  // namespace

std::span<const SettingsTaskCell> SettingsTaskCells() { return kTaskCells; }

std::span<const SettingsCheckbox> SettingsCheckboxes() { return kCheckboxes; }

run::VersionsSettings VersionsSettingsOf(const plist::Value* settingsDict) {
    run::VersionsSettings v;
    if (settingsDict == nullptr) return v;
    v.on = settingsDict->intAt(kVersionsOnKey, 0) != 0;
    const std::string folder = settingsDict->stringAt(kVersionsFolderKey);
    if (CheckVersionsFolder(folder).empty()) v.folder = folder;
    const std::int64_t keep = settingsDict->intAt(kVersionsKeepKey, v.keep);
    if (keep >= 0 && keep <= kMaxVersionsKeep) v.keep = keep;
    const std::int64_t days = settingsDict->intAt(kVersionsDaysKey, v.days);
    if (days >= 0 && days <= kMaxVersionsDays) v.days = days;
    return v;
}

std::string CheckVersionsFolder(const std::string& folder) {
    if (folder.empty()) return {};
    if (folder.front() != '/') {
        return GLS(
            "The versions folder must be an absolute path, or empty for a folder "
            "\".quorvel-versions\" at the top of each side.");
    }
    if (folder.size() > 1024) return GLS("The versions folder's path is too long.");
    for (const unsigned char c : folder) {
        if (c < 0x20 || c == 0x7F) {
            return GLS("The versions folder's path holds a control character.");
        }
    }
    // Each name of the path: never "..", which could lead anywhere, nor ".".
    std::size_t start = 1;
    while (start <= folder.size()) {
        const std::size_t slash = std::min(folder.find('/', start), folder.size());
        const std::string_view name(folder.data() + start, slash - start);
        if (name == ".." || name == "." || (name.empty() && slash < folder.size())) {
            return GLS("The versions folder's path may not hold \"..\", \".\" or \"//\".");
        }
        start = slash + 1;
    }
    if (folder == "/") return GLS("The versions folder can't be the root folder.");
    return {};
}

std::string GetSettingsLog(const plist::Value& settingsDict) {
    const std::int64_t task = settingsDict.intAt("settTask", 0);
    std::string taskTitle;
    for (const SettingsTaskCell& cell : kTaskCells) {
        if (cell.tag == task) taskTitle = GLS(cell.title);
    }
    std::string log = "\r" + GLS("• Settings: ") + "\r";
    log += "\t" + GLS("Task") + ": " + taskTitle + "\r";
    log += "\t" + GLS(task == kTaskSynchronize ? "Exact Sync" : "Exact Backup") + ": " +
           platform::YesNo(settingsDict.intAt("settExact", 0)) + "\r";
    for (const SettingsCheckbox& box : kCheckboxes) {
        // A missing key reads as a new session's value (1 for the two inverted ones).
        const std::int64_t stored = settingsDict.intAt(box.key, box.inverted ? 1 : 0);
        const bool on = box.inverted ? stored == 0 : stored != 0;
        log += "\t" + GLS(box.label) + ": " + platform::YesNo(on) + "\r";
    }
    const run::VersionsSettings versions = VersionsSettingsOf(&settingsDict);
    if (versions.on) {
        log += "\t" + GLS("Keep versions of replaced and deleted items") + ": " +
               platform::YesNo(true) + "\r\t\t" + GLS("Versions folder:") + " " +
               (versions.folder.empty() ? std::string(run::kVersionsFolderName) : versions.folder) +
               "\r\t\t" + GLS("Versions kept per item:") + " " +
               (versions.keep == 0 ? GLS("no limit") : std::to_string(versions.keep)) + "\r\t\t" +
               GLS("Versions kept for (days):") + " " +
               (versions.days == 0 ? GLS("no limit") : std::to_string(versions.days)) + "\r";
    }
    return log;
}

plist::Value DefaultSettingsDict(std::int64_t task) {
    return plist::Dict{
        {"settTask", task},
        {"settExact", 0},
        {"settInvisibleItems", 1},
        {"settLockedItems", 1},
        {"settResolveAlias", 0},
        {"settResolveSymLink", 0},
        {"settSkipEmptyFolders", 0},
        {"settNewItemsOnly", 0},
        {"settPackagesFolders", 0},
        {"settMoveToTrash", 0},
        {"settCheckAttrChanged", 0},
        {"settCreateDestFolder", 0},
        {"settCreateDestFolderNameKind", 1},
        {"settCreateDestFolderCustomNameFormat", kDefaultCustomNameFormat},
        {"settSkipCheckPermissions", 0},
    };
}

}  // namespace qv::sessions
