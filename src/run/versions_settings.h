#pragma once
// Whether a session keeps versions of what its runs replace and delete, where, and how many.

#include <cstdint>
#include <string>

namespace qv::run {

// The folder a side's versions go to when the session names none: at the top of the side.
inline constexpr const char* kVersionsFolderName = ".quorvel-versions";
// In a side's versions folder: the record of the versions it holds.
inline constexpr const char* kVersionsListName = ".quorvel-versions.list";

struct VersionsSettings {
    bool on = false;
    // "" for kVersionsFolderName at the top of each side; otherwise an absolute path: one
    // folder for every side, each side's versions under the side's own path inside it.
    std::string folder;
    std::int64_t keep = 10;  // versions kept per item; 0: no limit by count
    std::int64_t days = 0;   // versions older than that many days go; 0: no limit by age
};

}  // namespace qv::run
