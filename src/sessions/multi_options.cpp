#include "sessions/multi_options.h"

#include "sessions/option_tables.h"

namespace qv::sessions {

plist::Value DefaultMultiRow() {
    return plist::Dict{{"onOff", 1}, {"source", ""}, {"destination", ""}};
}

plist::Value DefaultMultiDict() {
    return plist::Dict{{"multiOn", 0}, {"multiArray", plist::Array(kTableRows, DefaultMultiRow())}};
}

}  // namespace qv::sessions
