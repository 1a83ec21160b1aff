#pragma once
// Brings a session document read from an older version up to the current layout, rule by rule
// in the order the versions introduced them.

#include <cstdint>
#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

inline constexpr std::int64_t kDocumentVersion = 420;

struct MigrationResult {
    bool ok = false;
    std::int64_t sessionIndex = 0;  // the clamped current-session index
    std::string reason;             // why the document was refused
};

// Migrates `document` (a dictionary read from a file of the given version) in place.
// Refused when `sessionsArray` is missing or empty, or holds something that is not a session.
MigrationResult MigrateDocument(plist::Value& document, std::int64_t version);

}  // namespace qv::sessions
