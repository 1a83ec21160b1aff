#include "sessions/multi_options.h"

#include "sessions/option_tables.h"

namespace qv::sessions {

plist::Value DefaultMultiRow() {
    return plist::Dict{{"onOff", 1}, {"source", ""}, {"destination", ""}};
}

plist::Value DefaultMultiDict() {
    return plist::Dict{{"multiOn", 0}, {"multiArray", plist::Array(kTableRows, DefaultMultiRow())}};
}

std::vector<MultiPair> CountMultiValid(const plist::Value& session) {
    std::vector<MultiPair> valid;
    const plist::Value* multi = session.dictAt("multiDict");
    const plist::Value* rows = multi ? multi->arrayAt("multiArray") : nullptr;
    if (rows == nullptr) return valid;
    for (const auto& row : rows->array()) {
        if (row.intAt("onOff") == 0) continue;
        const std::string& source = row.stringAt("source");
        const std::string& destination = row.stringAt("destination");
        if (!source.empty() && !destination.empty()) valid.push_back({source, destination});
    }
    return valid;
}

}  // namespace qv::sessions
