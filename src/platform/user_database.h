#pragma once
// Account names of owners and groups as the user database knows them (getpwnam and friends,
// which may ask a directory service: callers ask once and keep the answer).

#include <sys/types.h>

#include <optional>
#include <string>

namespace qv::platform {

// The id of the user whose account name is exactly name; nothing when no account has that
// name, or when the name is only an alias of an account known under another name (an item's
// owner is shown under the account's own name, never the alias).
std::optional<uid_t> UserIdOfName(const std::string& name);
// The same for groups.
std::optional<gid_t> GroupIdOfName(const std::string& name);

// The account name of the process's real user, empty when the database does not know it.
std::string LoginName();

}  // namespace qv::platform
