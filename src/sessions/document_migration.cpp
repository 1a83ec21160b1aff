#include "sessions/document_migration.h"

#include <cmath>
#include <ctime>
#include <set>
#include <utility>
#include <vector>

#include "sessions/automount_options.h"
#include "sessions/option_tables.h"
#include "sessions/script_options.h"
#include "sessions/settings_options.h"
#include "sessions/timer_options.h"

namespace qv::sessions {

namespace {

using plist::Value;

// Runs fn on every dictionary row of the array under key, if there is one.
template <typename Fn>
void ForEachRow(Value& dict, std::string_view key, Fn fn) {
    Value* rows = dict.arrayAt(key);
    if (rows == nullptr) return;
    for (auto& row : rows->array()) {
        if (row.isDict()) fn(row);
    }
}

plist::Date NowToTheMinute() {
    const double now = static_cast<double>(std::time(nullptr));
    return plist::Date{now - std::fmod(now, 60.0)};
}

// ---- Rules for documents whose sessions were still flat (below 403) ----

void RuleA(Value& s) {
    s.setIfAbsent("settSkipEmptyFolders", 0);
    ForEachRow(s, "filterArray", [](Value& row) {
        if (!(row.contains("filterKindOn") && row.contains("filterKindPop"))) {
            row.set("filterKindOn", 0);
            row.set("filterKindPop", 0);
        }
    });
    s.setIfAbsent("settPackagesFolders", 0);
}

void RuleB(Value& s) {
    s.set("timerArray", plist::Array(kTableRows, DefaultTimerRow(NowToTheMinute())));
    s.set("timerOn", 0);
    for (const char* table : {"multiArray", "filterArray", "excludeArray"}) {
        Value* rows = s.arrayAt(table);
        if (rows == nullptr) continue;
        for (std::size_t i = 0; i < kTableRows && i < rows->array().size(); ++i) {
            Value& row = rows->array()[i];
            if (row.isDict() && row.intAt("onOff") != 1) row.set("onOff", 0);
        }
    }
    s.set("conflictBackupRadio", 2);
    s.set("conflictBackupAsk", 0);
    s.set("conflictExactBackupRadio", 2);
    s.set("conflictExactBackupAsk", 0);
    s.set("conflictSyncRadio", 2);
    s.set("conflictSyncAsk", 0);
    if (const Value* check = s.find("settCheckBackupDate")) {
        if (check->intValue() == 0) s.set("conflictSyncRadio", 1);
        s.remove("settCheckBackupDate");
    }
    s.set("conflictExactSyncRadio", 2);
    s.set("conflictExactSyncAsk", 0);
    s.set("settMoveToTrash", 0);
}

void RuleC(Value& s) {
    s.setIfAbsent("autoMountVolumeOn", 0);
    const Value* rows = s.arrayAt("autoMountVolumeArray");
    const bool firstRowHasHost =
        rows != nullptr && !rows->array().empty() && rows->array().front().contains("host");
    if (!firstRowHasHost) {
        s.set("autoMountVolumeOn", 0);
        Value row = DefaultAutoMountRow();
        row.set("volumeIcon", plist::Data{});
        s.set("autoMountVolumeArray", plist::Array(kAutoMountRows, row));
    }
}

void RuleD(Value& s) {
    if (s.contains("asStartOn")) return;
    s.set("asStartOn", 0);
    s.set("asStartText", kDefaultScriptText);
    s.set("asEndText", kDefaultScriptText);
    s.set("asEndOn", 0);
}

void RuleE(Value& s) {
    if (s.contains("conflictBackupRadio2")) return;
    s.set("conflictBackupRadio2", 1);
    s.set("conflictBackupAsk2", 0);
    if (const Value* override = s.find("settOverride")) {
        if (override->intValue() == 1) s.set("conflictBackupRadio2", 2);
        s.remove("settOverride");
    }
}

void RuleF(Value& s) {
    ForEachRow(s, "filterArray", [](Value& row) {
        if (!row.contains("filterOwnerOn")) {
            row.set("filterOwnerOn", 0);
            row.set("filterOwnerPop", 0);
            row.set("filterOwnerField", "");
        }
        if (!row.contains("filterGroupOn")) {
            row.set("filterGroupOn", 0);
            row.set("filterGroupPop", 0);
            row.set("filterGroupField", "");
        }
        if (!row.contains("filterFileSizeOn")) {
            row.set("filterFileSizeOn", 0);
            row.set("filterFileSizePop", 0);
            row.set("filterFileSizeField", 0);
            row.set("filterFileSizeBytesPop", 0);
        }
    });
}

// Which flat keys move into which sub-dictionary, in order.
const std::vector<std::pair<const char*, std::vector<const char*>>>& Regrouping() {
    static const std::vector<std::pair<const char*, std::vector<const char*>>> groups = {
        {"consoleDict", {"sessionName", "topFolder", "bottomFolder"}},
        {"timerDict", {"timerOn", "timerArray"}},
        {"multiDict", {"multiOn", "multiArray"}},
        {"filterDict", {"filterOn", "filterCopySkip", "filterArray"}},
        {"excludeDict", {"excludeOn", "excludeArray"}},
        {"conflictsDict",
         {"conflictBackupRadio", "conflictBackupAsk", "conflictBackupRadio2", "conflictBackupAsk2",
          "conflictExactBackupRadio", "conflictExactBackupAsk", "conflictSyncRadio",
          "conflictSyncAsk", "conflictExactSyncRadio", "conflictExactSyncAsk"}},
        {"autoMountDict", {"autoMountVolumeOn", "autoMountVolumeArray"}},
        {"appleScriptDict", {"asStartOn", "asStartText", "asEndOn", "asEndText"}},
        {"settingsDict",
         {"settTask", "settExact", "settInvisibleItems", "settLockedItems", "settResolveAlias",
          "settResolveSymLink", "settSkipEmptyFolders", "settNewItemsOnly", "settPackagesFolders",
          "settMoveToTrash", "settCheckAttrChanged"}},
    };
    return groups;
}

void RuleG(Value& s) {
    for (const auto& [group, keys] : Regrouping()) {
        if (s.dictAt(group) == nullptr) s.set(group, plist::Dict{});
        for (const char* key : keys) {
            Value* v = s.find(key);
            if (v == nullptr) continue;
            Value moved = std::move(*v);
            s.remove(key);
            s.dictAt(group)->set(key, std::move(moved));
        }
    }
    Value& settings = *s.dictAt("settingsDict");
    settings.setIfAbsent("settMoveToTrash", 0);
    settings.setIfAbsent("settCheckAttrChanged", 0);
    for (const char* obsolete :
         {"settCPOn", "settCPPopGroup", "settCPPopOthers", "settCPPopOwner"}) {
        s.remove(obsolete);
    }
}

// ---- Rules on the regrouped layout ----

void Rule404(Value& s) {
    if (Value* settings = s.dictAt("settingsDict")) {
        settings->setIfAbsent("settCreateDestFolder", 0);
        settings->setIfAbsent("settCreateDestFolderNameKind", 1);
        settings->setIfAbsent("settCreateDestFolderCustomNameFormat", kMigratedCustomNameFormat);
    }
}

void Rule410(Value& s) {
    if (Value* settings = s.dictAt("settingsDict")) {
        settings->setIfAbsent("settSkipCheckPermissions", 0);
    }
}

void Rule411(Value& s) {
    Value* autoMount = s.dictAt("autoMountDict");
    Value* rows = autoMount ? autoMount->arrayAt("autoMountVolumeArray") : nullptr;
    if (rows == nullptr) return;
    // Of rows naming the same volume (scheme, host and mount point), only the last one stays.
    auto& list = rows->array();
    std::set<std::string> seen;
    for (std::size_t i = list.size(); i-- > 0;) {
        const Value& row = list[i];
        const std::string& scheme = row.stringAt("scheme");
        const std::string& host = row.stringAt("host");
        if (scheme.empty() || host.empty() || !row.contains("mountPoint")) continue;
        const std::string address = scheme + "://" + host + row.stringAt("mountPoint");
        if (!seen.insert(address).second) list.erase(list.begin() + static_cast<long>(i));
    }
    // Volume icons larger than 64 x 64 were to be shrunk here; the core cannot decode images,
    // so icons are kept as they are.
}

void Rule420(Value& s) {
    if (Value* conflicts = s.dictAt("conflictsDict")) {
        conflicts->set("conflictFileFolderRadio", 2);
        conflicts->set("conflictFileFolderAsk", false);
    }
}

}  // namespace

MigrationResult MigrateDocument(plist::Value& document, std::int64_t version) {
    MigrationResult result;
    Value* sessions = document.arrayAt("sessionsArray");
    if (sessions == nullptr || sessions->array().empty()) {
        result.reason = "it holds no sessions";
        return result;
    }
    for (const auto& session : sessions->array()) {
        if (!session.isDict()) {
            result.reason = "a session in it is not a dictionary";
            return result;
        }
    }

    const auto count = static_cast<std::int64_t>(sessions->array().size());
    std::int64_t index = document.intAt("sessionIndex");
    if (index < 0) {
        index = 0;  // a negative index names no session at all
        document.set("sessionIndex", index);
    } else if (index >= count && index != count + 1) {
        index = count - 1;
        document.set("sessionIndex", index);
    }
    result.sessionIndex = index;

    for (auto& s : sessions->array()) {
        if (version < 403) {
            RuleA(s);
            if (version < 320) RuleB(s);
            RuleC(s);
            RuleD(s);
            RuleE(s);
            RuleF(s);
            RuleG(s);
        }
        if (version < 404) Rule404(s);
        if (version < 410) Rule410(s);
        if (version < 411) Rule411(s);
        if (version < 420) Rule420(s);
    }
    result.ok = true;
    return result;
}

}  // namespace qv::sessions
