#pragma once
// The multiple list of a session (`multiDict`): further source and destination pairs, each run
// as a task of its own.

#include <string>
#include <vector>

#include "sessions/plist_value.h"

namespace qv::sessions {

plist::Value DefaultMultiRow();
plist::Value DefaultMultiDict();

struct MultiPair {
    std::string source;
    std::string destination;
};

// The valid rows of a session's multiple list, in table order: switched on, with both paths.
std::vector<MultiPair> CountMultiValid(const plist::Value& session);

}  // namespace qv::sessions
