#include "sessions/script_options.h"

namespace qv::sessions {

plist::Value DefaultAppleScriptDict() {
    return plist::Dict{{"asStartOn", 0},
                       {"asStartText", kDefaultScriptText},
                       {"asEndOn", 0},
                       {"asEndText", kDefaultScriptText}};
}

}  // namespace qv::sessions
