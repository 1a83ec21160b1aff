#include "sessions/settings_options.h"

namespace qv::sessions {

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
