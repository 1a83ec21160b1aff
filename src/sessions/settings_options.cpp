#include "sessions/settings_options.h"

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
