#include "sessions/exclude_options.h"

#include "sessions/option_tables.h"

namespace qv::sessions {

plist::Value DefaultExcludeRow() { return plist::Dict{{"onOff", 1}, {"itemToExclude", ""}}; }

plist::Value DefaultExcludeDict() {
    return plist::Dict{{"excludeOn", 0},
                       {"excludeArray", plist::Array(kTableRows, DefaultExcludeRow())}};
}

}  // namespace qv::sessions
