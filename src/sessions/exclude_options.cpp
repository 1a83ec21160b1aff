#include "sessions/exclude_options.h"

#include "sessions/option_tables.h"

namespace qv::sessions {

plist::Value DefaultExcludeRow() { return plist::Dict{{"onOff", 1}, {"itemToExclude", ""}}; }

plist::Value DefaultExcludeDict() {
    return plist::Dict{{"excludeOn", 0},
                       {"excludeArray", plist::Array(kTableRows, DefaultExcludeRow())}};
}

std::vector<std::string> CountExcludeValid(const plist::Value& session) {
    std::vector<std::string> valid;
    const plist::Value* exclude = session.dictAt("excludeDict");
    const plist::Value* rows = exclude ? exclude->arrayAt("excludeArray") : nullptr;
    if (rows == nullptr) return valid;
    for (const auto& row : rows->array()) {
        if (row.intAt("onOff") != 0 && !row.stringAt("itemToExclude").empty()) {
            valid.push_back(row.stringAt("itemToExclude"));
        }
    }
    return valid;
}

}  // namespace qv::sessions
