// Migration of session documents written by older versions: the flat layout of the 3.x
// documents, the rules each later version added, refusals, and the clamping of the current
// session index.

#include "sessions/document_migration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sessions/plist_value.h"

namespace qv::sessions {
namespace {

using plist::Array;
using plist::Data;
using plist::Dict;
using plist::Value;

constexpr const char* kScriptText = "-- Write or paste here your AppleScript";

const std::set<std::string> kNineGroups = {
    "consoleDict", "settingsDict",  "timerDict",     "multiDict",       "filterDict",
    "excludeDict", "conflictsDict", "autoMountDict", "appleScriptDict",
};

Value Document(Array sessions, std::optional<std::int64_t> index = 0) {
    Value doc = Dict{{"sessionsArray", std::move(sessions)}};
    if (index) doc.set("sessionIndex", *index);
    return doc;
}

// A session as the 3.x versions stored it: every option key directly in the session.
Value FlatSession(const std::string& name) {
    return Dict{
        {"sessionName", name},
        {"topFolder", "/data/" + name},
        {"bottomFolder", "/backup/" + name},
        {"timerOn", 1},
        {"timerArray", Array{Dict{{"valid", 1}, {"onOff", 1}, {"start", plist::Date{1e9}}}}},
        {"multiOn", 1},
        {"multiArray", Array{Dict{{"onOff", 1}, {"source", "/a"}, {"destination", "/b"}}}},
        {"filterOn", 1},
        {"filterCopySkip", 1},
        {"filterArray", Array{Dict{{"onOff", 1}, {"filterNameField", "Filter 1"}}}},
        {"excludeOn", 1},
        {"excludeArray", Array{Dict{{"onOff", 1}, {"itemToExclude", "/data/tmp"}}}},
        {"conflictBackupRadio", 1},
        {"conflictBackupAsk", 1},
        {"conflictSyncAsk", 1},
        {"settTask", 2},
        {"settExact", 1},
        {"settInvisibleItems", 0},
        {"settLockedItems", 0},
        {"settResolveAlias", 1},
        {"settResolveSymLink", 1},
        {"settNewItemsOnly", 1},
        {"settPackagesFolders", 1},
        {"settCheckAttrChanged", 1},
        {"settCPOn", 1},
        {"settCPPopGroup", 2},
        {"settCPPopOthers", 3},
        {"settCPPopOwner", 4},
        {"unknownKey", "left alone"},
    };
}

// A session in the regrouped layout that lacks everything versions 404 to 420 added.
Value RegroupedSession403() {
    return Dict{
        {"consoleDict", Dict{{"sessionName", "Mail"}, {"topFolder", ""}, {"bottomFolder", ""}}},
        {"settingsDict", Dict{{"settTask", 1}, {"settExact", 0}}},
        {"timerDict", Dict{{"timerOn", 1}, {"timerArray", Array{Dict{{"valid", 1}}}}}},
        {"multiDict", Dict{{"multiOn", 0}, {"multiArray", Array{Dict{{"onOff", 5}}}}}},
        {"filterDict", Dict{{"filterOn", 0}, {"filterArray", Array{Dict{}}}}},
        {"excludeDict", Dict{{"excludeOn", 0}, {"excludeArray", Array{}}}},
        {"conflictsDict", Dict{{"conflictSyncRadio", 1}}},
        {"autoMountDict", Dict{{"autoMountVolumeOn", 0}, {"autoMountVolumeArray", Array{}}}},
        {"appleScriptDict", Dict{{"asStartOn", 1}}},
        {"settOverride", 1},
    };
}

Value VolumeRow(const std::string& scheme, const std::string& host,
                std::optional<std::string> mountPoint, const std::string& user) {
    Value row =
        Dict{{"onOff", 1},       {"scheme", scheme},   {"user", user},       {"host", host},
             {"path", "/share"}, {"password", Data{}}, {"unmountVolume", 1}, {"volumeType", 0}};
    if (mountPoint) row.set("mountPoint", *mountPoint);
    return row;
}

Value& OnlySession(Value& doc) { return doc.arrayAt("sessionsArray")->array().front(); }

std::set<std::string> KeysOf(const Value& dict) {
    std::set<std::string> keys;
    for (const auto& [key, value] : dict.dict()) keys.insert(key);
    return keys;
}

const Value& Group(const Value& session, const char* group) {
    const Value* dict = session.dictAt(group);
    EXPECT_NE(dict, nullptr) << group;
    static const Value empty = Dict{};
    return dict ? *dict : empty;
}

// ---- The flat layout of version 300 ----

TEST(MigrationFlat300, RegroupsEveryKeyOfEverySessionIntoTheNineSubDictionaries) {
    Value doc = Document({FlatSession("Photos"), FlatSession("Music")});
    ASSERT_TRUE(MigrateDocument(doc, 300).ok);

    const auto& sessions = doc.arrayAt("sessionsArray")->array();
    ASSERT_EQ(sessions.size(), 2u);
    for (const auto& [index, name] :
         std::vector<std::pair<int, std::string>>{{0, "Photos"}, {1, "Music"}}) {
        SCOPED_TRACE(name);
        const Value& s = sessions[static_cast<std::size_t>(index)];
        std::set<std::string> expectedKeys = kNineGroups;
        expectedKeys.insert("unknownKey");  // keys nobody knows are not touched
        EXPECT_EQ(KeysOf(s), expectedKeys);
        EXPECT_EQ(s.stringAt("unknownKey"), "left alone");

        EXPECT_EQ(Group(s, "consoleDict"), Value(Dict{{"sessionName", name},
                                                      {"topFolder", "/data/" + name},
                                                      {"bottomFolder", "/backup/" + name}}));
        EXPECT_EQ(Group(s, "multiDict").intAt("multiOn", -1), 1);
        EXPECT_EQ(Group(s, "multiDict").arrayAt("multiArray")->array().front().stringAt("source"),
                  "/a");
        EXPECT_EQ(Group(s, "filterDict").intAt("filterOn", -1), 1);
        EXPECT_EQ(Group(s, "filterDict").intAt("filterCopySkip", -1), 1);
        EXPECT_EQ(Group(s, "filterDict")
                      .arrayAt("filterArray")
                      ->array()
                      .front()
                      .stringAt("filterNameField"),
                  "Filter 1");
        EXPECT_EQ(Group(s, "excludeDict").intAt("excludeOn", -1), 1);
        EXPECT_EQ(Group(s, "excludeDict")
                      .arrayAt("excludeArray")
                      ->array()
                      .front()
                      .stringAt("itemToExclude"),
                  "/data/tmp");
    }
}

TEST(MigrationFlat300, SettingsMoveIntoSettingsDictWithDefaultsForKeysOlderVersionsLacked) {
    Value doc = Document({FlatSession("Photos")});
    ASSERT_TRUE(MigrateDocument(doc, 300).ok);
    const Value& settings = Group(OnlySession(doc), "settingsDict");

    const Value expected = Dict{
        {"settTask", 2},
        {"settExact", 1},
        {"settInvisibleItems", 0},
        {"settLockedItems", 0},
        {"settResolveAlias", 1},
        {"settResolveSymLink", 1},
        {"settSkipEmptyFolders", 0},  // absent in the file
        {"settNewItemsOnly", 1},
        {"settPackagesFolders", 1},  // present in the file: kept
        {"settMoveToTrash", 0},
        {"settCheckAttrChanged", 1},
        // Added by the rules of 404 and 410.
        {"settCreateDestFolder", 0},
        {"settCreateDestFolderNameKind", 1},
        {"settCreateDestFolderCustomNameFormat", "'Copy of' kSrc MM-dd-yyyy 'by Elwin'"},
        {"settSkipCheckPermissions", 0},
    };
    EXPECT_EQ(settings, expected);
}

TEST(MigrationFlat300, SessionWithoutSettingsGetsTrashAndAttributeDefaultsInSettingsDict) {
    // Version 320 keeps settMoveToTrash as it is, so its absence must be filled after regrouping.
    Value doc = Document({Dict{{"sessionName", "Bare"}}});
    ASSERT_TRUE(MigrateDocument(doc, 320).ok);
    const Value& settings = Group(OnlySession(doc), "settingsDict");
    ASSERT_NE(settings.find("settMoveToTrash"), nullptr);
    EXPECT_EQ(settings.intAt("settMoveToTrash", -1), 0);
    ASSERT_NE(settings.find("settCheckAttrChanged"), nullptr);
    EXPECT_EQ(settings.intAt("settCheckAttrChanged", -1), 0);
    EXPECT_EQ(settings.intAt("settSkipEmptyFolders", -1), 0);
    EXPECT_EQ(settings.intAt("settPackagesFolders", -1), 0);
    EXPECT_EQ(KeysOf(OnlySession(doc)), kNineGroups);
}

TEST(MigrationFlat300, ExistingSubDictionaryIsKeptAndReceivesTheMovedKeys) {
    Value session = FlatSession("Photos");
    session.set("consoleDict", Dict{{"topIcon", Data{1, 2, 3}}});
    Value doc = Document({session});
    ASSERT_TRUE(MigrateDocument(doc, 300).ok);
    const Value& console = Group(OnlySession(doc), "consoleDict");
    EXPECT_EQ(console.find("topIcon")->data(), (Data{1, 2, 3}));
    EXPECT_EQ(console.stringAt("sessionName"), "Photos");
    EXPECT_EQ(console.stringAt("bottomFolder"), "/backup/Photos");
}

TEST(MigrationFlat300, ObsoleteCopyPermissionKeysAreRemoved) {
    for (std::int64_t version : {300, 320, 402}) {
        SCOPED_TRACE(version);
        Value doc = Document({FlatSession("Photos")});
        ASSERT_TRUE(MigrateDocument(doc, version).ok);
        const Value& s = OnlySession(doc);
        for (const char* key :
             {"settCPOn", "settCPPopGroup", "settCPPopOthers", "settCPPopOwner"}) {
            EXPECT_FALSE(s.contains(key)) << key;
            EXPECT_FALSE(Group(s, "settingsDict").contains(key)) << key;
        }
    }
}

struct CheckBackupDateCase {
    std::int64_t version;
    std::optional<Value> settCheckBackupDate;
    std::optional<std::int64_t> conflictSyncRadio;  // nullopt: no such key
    bool keyRemains;
};

TEST(MigrationFlat300, CheckBackupDateBecomesTheSyncConflictPolicyBelow320) {
    const std::vector<CheckBackupDateCase> cases = {
        {300, Value(0), 1, false},
        {300, Value(1), 2, false},
        {300, Value(false), 1, false},  // read through its integer value
        {300, Value(true), 2, false},
        {300, Value(3), 2, false},
        {300, std::nullopt, 2, false},
        {319, Value(0), 1, false},
        // From 320 on the rule no longer applies: nothing sets the policy, nothing removes it.
        {320, Value(0), std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "version " << c.version << " value "
                     << (c.settCheckBackupDate ? std::to_string(c.settCheckBackupDate->intValue())
                                               : "absent"));
        Value session = Dict{{"sessionName", "S"}};
        if (c.settCheckBackupDate) session.set("settCheckBackupDate", *c.settCheckBackupDate);
        Value doc = Document({session});
        ASSERT_TRUE(MigrateDocument(doc, c.version).ok);
        const Value& s = OnlySession(doc);
        const Value& conflicts = Group(s, "conflictsDict");
        if (c.conflictSyncRadio) {
            ASSERT_TRUE(conflicts.contains("conflictSyncRadio"));
            EXPECT_EQ(conflicts.intAt("conflictSyncRadio"), *c.conflictSyncRadio);
        } else {
            EXPECT_FALSE(conflicts.contains("conflictSyncRadio"));
        }
        EXPECT_EQ(s.contains("settCheckBackupDate"), c.keyRemains);
        EXPECT_FALSE(Group(s, "settingsDict").contains("settCheckBackupDate"));
    }
}

TEST(MigrationFlat300, ConflictPoliciesAreResetBelow320) {
    Value doc = Document({FlatSession("Photos")});  // backup radio 1 and both ask flags 1
    ASSERT_TRUE(MigrateDocument(doc, 300).ok);
    const Value expected = Dict{
        {"conflictBackupRadio", 2},      {"conflictBackupAsk", 0},
        {"conflictBackupRadio2", 1},     {"conflictBackupAsk2", 0},
        {"conflictExactBackupRadio", 2}, {"conflictExactBackupAsk", 0},
        {"conflictSyncRadio", 2},        {"conflictSyncAsk", 0},
        {"conflictExactSyncRadio", 2},   {"conflictExactSyncAsk", 0},
        {"conflictFileFolderRadio", 2},  {"conflictFileFolderAsk", false},
    };
    EXPECT_EQ(Group(OnlySession(doc), "conflictsDict"), expected);

    Value kept = Document({FlatSession("Photos")});
    ASSERT_TRUE(MigrateDocument(kept, 320).ok);
    const Value& conflicts = Group(OnlySession(kept), "conflictsDict");
    EXPECT_EQ(conflicts.intAt("conflictBackupRadio"), 1);
    EXPECT_EQ(conflicts.intAt("conflictSyncAsk"), 1);
    EXPECT_FALSE(conflicts.contains("conflictExactSyncRadio"));
}

struct OverrideCase {
    std::optional<std::int64_t> conflictBackupRadio2;
    std::optional<std::int64_t> settOverride;
    std::int64_t expectedRadio2;
};

TEST(MigrationFlat300, OverrideBecomesTheSecondBackupConflictPolicy) {
    const std::vector<OverrideCase> cases = {
        {std::nullopt, 1, 2},
        {std::nullopt, 0, 1},
        {std::nullopt, std::nullopt, 1},
        {3, 1, 3},  // a policy already there wins over the old switch
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "radio2 " << c.conflictBackupRadio2.value_or(-1)
                                        << " override " << c.settOverride.value_or(-1));
        Value session = Dict{{"sessionName", "S"}};
        if (c.conflictBackupRadio2) session.set("conflictBackupRadio2", *c.conflictBackupRadio2);
        if (c.settOverride) session.set("settOverride", *c.settOverride);
        Value doc = Document({session});
        ASSERT_TRUE(MigrateDocument(doc, 300).ok);
        const Value& s = OnlySession(doc);
        const Value& conflicts = Group(s, "conflictsDict");
        EXPECT_EQ(conflicts.intAt("conflictBackupRadio2", -1), c.expectedRadio2);
        if (!c.conflictBackupRadio2) {
            EXPECT_FALSE(s.contains("settOverride"));
            EXPECT_EQ(conflicts.intAt("conflictBackupAsk2", -1), 0);
        }
    }
}

TEST(MigrationFlat300, TimersAreReplacedBy32FreshRowsStartingNowBelow320) {
    const double before = static_cast<double>(std::time(nullptr));
    Value doc = Document({FlatSession("Photos")});
    ASSERT_TRUE(MigrateDocument(doc, 300).ok);
    const double after = static_cast<double>(std::time(nullptr));

    const Value& timers = Group(OnlySession(doc), "timerDict");
    EXPECT_EQ(KeysOf(timers), (std::set<std::string>{"timerOn", "timerArray"}));
    EXPECT_EQ(timers.intAt("timerOn", -1), 0);
    const auto& rows = timers.arrayAt("timerArray")->array();
    ASSERT_EQ(rows.size(), 32u);
    const plist::Date start = rows.front().find("start")->date();
    EXPECT_GE(start.seconds, before - std::fmod(before, 60.0));
    EXPECT_LE(start.seconds, after);
    const Value expectedRow = Dict{
        {"valid", 0},         {"onOff", 1},           {"start", start},     {"intervalOn", 0},
        {"intervalHours", 0}, {"intervalMinutes", 0}, {"intervalDays", 0},  {"intervalMonths", 0},
        {"intervalYears", 0}, {"endOn", 0},           {"endDateOn", 0},     {"end", start},
        {"onlyMonday", 1},    {"onlyTuesday", 1},     {"onlyWednesday", 1}, {"onlyThursday", 1},
        {"onlyFriday", 1},    {"onlySaturday", 1},    {"onlySunday", 1},
    };
    for (const auto& row : rows) EXPECT_EQ(row, expectedRow);
}

TEST(MigrationFlat300, TimersAreKeptFrom320On) {
    Value doc = Document({FlatSession("Photos")});
    ASSERT_TRUE(MigrateDocument(doc, 320).ok);
    const Value& timers = Group(OnlySession(doc), "timerDict");
    EXPECT_EQ(timers.intAt("timerOn", -1), 1);
    const auto& rows = timers.arrayAt("timerArray")->array();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.front().intAt("valid"), 1);
    EXPECT_EQ(rows.front().find("start")->date(), plist::Date{1e9});
}

TEST(MigrationFlat300, RowSwitchesOtherThanOneBecomeZeroInTheFirst32RowsBelow320) {
    // Row i's onOff; nullopt leaves the key out.
    const std::vector<std::optional<Value>> onOff = {Value(1),     Value(0),    Value(5),
                                                     std::nullopt, Value(true), Value(-1)};
    auto table = [&] {
        Array rows;
        for (const auto& v : onOff) {
            Value row = Dict{{"itemToExclude", "x"}};
            if (v) row.set("onOff", *v);
            rows.push_back(row);
        }
        while (rows.size() < 32) rows.push_back(Dict{{"onOff", 1}});
        rows.push_back(Dict{{"onOff", 7}});  // row 33: beyond the table, left alone
        rows.push_back(Dict{});              // row 34: likewise
        return rows;
    };

    for (std::int64_t version : {300, 320}) {
        SCOPED_TRACE(version);
        Value session = Dict{{"sessionName", "S"}};
        session.set("multiArray", table());
        session.set("filterArray", table());
        session.set("excludeArray", table());
        Value doc = Document({session});
        ASSERT_TRUE(MigrateDocument(doc, version).ok);
        const Value& s = OnlySession(doc);
        for (const auto& [group, key] :
             std::vector<std::pair<const char*, const char*>>{{"multiDict", "multiArray"},
                                                              {"filterDict", "filterArray"},
                                                              {"excludeDict", "excludeArray"}}) {
            SCOPED_TRACE(key);
            const auto& rows = Group(s, group).arrayAt(key)->array();
            ASSERT_EQ(rows.size(), 34u);
            if (version == 300) {
                const std::vector<std::int64_t> expected = {1, 0, 0, 0, 1, 0};
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    ASSERT_TRUE(rows[i].contains("onOff")) << i;
                    EXPECT_EQ(rows[i].intAt("onOff"), expected[i]) << i;
                }
            } else {
                EXPECT_EQ(rows[2].intAt("onOff"), 5);
                EXPECT_FALSE(rows[3].contains("onOff"));
                EXPECT_EQ(rows[5].intAt("onOff"), -1);
            }
            for (std::size_t i = 6; i < 32; ++i) EXPECT_EQ(rows[i].intAt("onOff"), 1) << i;
            EXPECT_EQ(rows[32].intAt("onOff"), 7);
            EXPECT_FALSE(rows[33].contains("onOff"));
            EXPECT_EQ(rows[0].stringAt("itemToExclude"), "x");
        }
    }
}

TEST(MigrationFlat300, FilterRowsGainKindOwnerGroupAndSizeCriteria) {
    const Array rows = {
        Dict{},
        Dict{{"filterKindOn", 1}},  // half a criterion is reset as a whole
        Dict{{"filterKindOn", 1}, {"filterKindPop", 2}},
        Dict{{"filterOwnerOn", 1}, {"filterOwnerField", "bob"}},
        Dict{{"filterGroupOn", 1}, {"filterGroupPop", 1}, {"filterGroupField", "staff"}},
        Dict{{"filterFileSizeOn", 1}, {"filterFileSizeField", 100}},
    };
    const Value added = Dict{
        {"filterKindOn", 0},      {"filterKindPop", 0},       {"filterOwnerOn", 0},
        {"filterOwnerPop", 0},    {"filterOwnerField", ""},   {"filterGroupOn", 0},
        {"filterGroupPop", 0},    {"filterGroupField", ""},   {"filterFileSizeOn", 0},
        {"filterFileSizePop", 0}, {"filterFileSizeField", 0}, {"filterFileSizeBytesPop", 0},
    };
    auto withAdded = [&](Dict overrides, std::vector<std::string> dropped = {}) {
        Dict row = added.dict();
        for (const auto& key : dropped) row.erase(key);
        for (auto& [k, v] : overrides) row[k] = v;
        return Value(row);
    };
    const std::vector<Value> expected = {
        added,
        added,
        withAdded({{"filterKindOn", 1}, {"filterKindPop", 2}}),
        withAdded({{"filterOwnerOn", 1}, {"filterOwnerField", "bob"}}, {"filterOwnerPop"}),
        withAdded({{"filterGroupOn", 1}, {"filterGroupPop", 1}, {"filterGroupField", "staff"}}),
        withAdded({{"filterFileSizeOn", 1}, {"filterFileSizeField", 100}},
                  {"filterFileSizePop", "filterFileSizeBytesPop"}),
    };

    for (std::int64_t version : {300, 402}) {
        SCOPED_TRACE(version);
        Value doc = Document({Dict{{"sessionName", "S"}, {"filterArray", rows}}});
        ASSERT_TRUE(MigrateDocument(doc, version).ok);
        const auto& migrated =
            Group(OnlySession(doc), "filterDict").arrayAt("filterArray")->array();
        ASSERT_EQ(migrated.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            Value row = migrated[i];
            if (version == 300) row.remove("onOff");  // normalised below 320, checked elsewhere
            EXPECT_EQ(row, expected[i]) << "row " << i;
        }
    }

    // A regrouped document is not given the flat-layout rules.
    Value regrouped = Document({RegroupedSession403()});
    ASSERT_TRUE(MigrateDocument(regrouped, 403).ok);
    EXPECT_EQ(Group(OnlySession(regrouped), "filterDict").arrayAt("filterArray")->array().front(),
              Value(Dict{}));
}

struct AutoMountCase {
    const char* name;
    std::optional<Array> rows;
    bool replaced;
};

TEST(MigrationFlat300, AutoMountRowsAreReplacedUnlessTheFirstRowNamesAHost) {
    const Value defaultRow = Dict{
        {"onOff", 1},      {"scheme", ""},         {"user", ""},         {"host", ""},
        {"path", ""},      {"mountPoint", ""},     {"password", Data{}}, {"unmountVolume", 1},
        {"volumeType", 0}, {"volumeIcon", Data{}},
    };
    const std::vector<AutoMountCase> cases = {
        {"absent", std::nullopt, true},
        {"empty", Array{}, true},
        {"first row without host", Array{Dict{{"scheme", "smb"}}, Dict{{"host", "nas"}}}, true},
        {"first row with host", Array{Dict{{"host", "nas"}, {"scheme", "smb"}}, Dict{}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Value session = Dict{{"sessionName", "S"}, {"autoMountVolumeOn", 1}};
        if (c.rows) session.set("autoMountVolumeArray", *c.rows);
        Value doc = Document({session});
        ASSERT_TRUE(MigrateDocument(doc, 402).ok);
        const Value& autoMount = Group(OnlySession(doc), "autoMountDict");
        EXPECT_EQ(KeysOf(autoMount),
                  (std::set<std::string>{"autoMountVolumeOn", "autoMountVolumeArray"}));
        const auto& rows = autoMount.arrayAt("autoMountVolumeArray")->array();
        if (c.replaced) {
            EXPECT_EQ(autoMount.intAt("autoMountVolumeOn", -1), 0);
            ASSERT_EQ(rows.size(), 64u);
            for (const auto& row : rows) EXPECT_EQ(row, defaultRow);
        } else {
            EXPECT_EQ(autoMount.intAt("autoMountVolumeOn", -1), 1);
            EXPECT_EQ(Value(rows), Value(*c.rows));
        }
    }
}

TEST(MigrationFlat300, ScriptsGetDefaultsOnlyWhenTheStartSwitchIsAbsent) {
    Value fresh = Document({Dict{{"sessionName", "S"}, {"asStartText", "display dialog"}}});
    ASSERT_TRUE(MigrateDocument(fresh, 300).ok);
    EXPECT_EQ(Group(OnlySession(fresh), "appleScriptDict"),
              Value(Dict{{"asStartOn", 0},
                         {"asStartText", kScriptText},
                         {"asEndOn", 0},
                         {"asEndText", kScriptText}}));

    const Value own =
        Dict{{"asStartOn", 1}, {"asStartText", "beep"}, {"asEndOn", 1}, {"asEndText", "say done"}};
    Value session = own;
    session.set("sessionName", "S");
    Value kept = Document({session});
    ASSERT_TRUE(MigrateDocument(kept, 300).ok);
    EXPECT_EQ(Group(OnlySession(kept), "appleScriptDict"), own);
}

// ---- Rules of the regrouped layout ----

struct LaterRulesCase {
    std::int64_t version;
    bool createDestFolder;  // rule of 404
    bool skipPermissions;   // rule of 410
    bool fileFolder;        // rule of 420
};

TEST(MigrationLaterVersions, EachRuleAppliesBelowItsVersionOnly) {
    const std::vector<LaterRulesCase> cases = {
        {403, true, true, true},    {404, false, true, true},  {409, false, true, true},
        {410, false, false, true},  {411, false, false, true}, {419, false, false, true},
        {420, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Value doc = Document({RegroupedSession403()});
        ASSERT_TRUE(MigrateDocument(doc, c.version).ok);
        const Value& s = OnlySession(doc);
        const Value& settings = Group(s, "settingsDict");
        Dict expectedSettings = {{"settTask", 1}, {"settExact", 0}};
        if (c.createDestFolder) {
            expectedSettings["settCreateDestFolder"] = 0;
            expectedSettings["settCreateDestFolderNameKind"] = 1;
            expectedSettings["settCreateDestFolderCustomNameFormat"] =
                "'Copy of' kSrc MM-dd-yyyy 'by Elwin'";
        }
        if (c.skipPermissions) expectedSettings["settSkipCheckPermissions"] = 0;
        EXPECT_EQ(settings, Value(expectedSettings));

        Dict expectedConflicts = {{"conflictSyncRadio", 1}};
        if (c.fileFolder) {
            expectedConflicts["conflictFileFolderRadio"] = 2;
            expectedConflicts["conflictFileFolderAsk"] = false;
        }
        EXPECT_EQ(Group(s, "conflictsDict"), Value(expectedConflicts));

        // The rules of the flat layout are not applied again.
        EXPECT_EQ(s.intAt("settOverride", -1), 1);
        EXPECT_EQ(Group(s, "timerDict").intAt("timerOn"), 1);
        EXPECT_EQ(Group(s, "multiDict").arrayAt("multiArray")->array().front().intAt("onOff"), 5);
        EXPECT_EQ(Group(s, "appleScriptDict"), Value(Dict{{"asStartOn", 1}}));
        EXPECT_TRUE(Group(s, "autoMountDict").arrayAt("autoMountVolumeArray")->array().empty());
    }
}

TEST(MigrationLaterVersions, SettingsAddedBy404And410KeepValuesAlreadyThere) {
    Value session = RegroupedSession403();
    Value& settings = *session.dictAt("settingsDict");
    settings.set("settCreateDestFolder", 1);
    settings.set("settCreateDestFolderNameKind", 3);
    settings.set("settCreateDestFolderCustomNameFormat", "yyyy");
    settings.set("settSkipCheckPermissions", 1);
    Value doc = Document({session});
    ASSERT_TRUE(MigrateDocument(doc, 403).ok);
    EXPECT_EQ(Group(OnlySession(doc), "settingsDict"), settings);
}

TEST(MigrationLaterVersions, SessionWithoutSubDictionariesIsNotGivenAnyBy404To420) {
    Value doc = Document({Dict{{"consoleDict", Dict{{"sessionName", "Empty"}}}}});
    const Value before = doc;
    ASSERT_TRUE(MigrateDocument(doc, 403).ok);
    EXPECT_EQ(doc, before);
}

TEST(MigrationLaterVersions, FileFolderPolicyOf419IsOverwrittenWithTypedValues) {
    Value session = RegroupedSession403();
    session.dictAt("conflictsDict")->set("conflictFileFolderRadio", 1);
    session.dictAt("conflictsDict")->set("conflictFileFolderAsk", 1);
    Value doc = Document({session});
    ASSERT_TRUE(MigrateDocument(doc, 419).ok);
    const Value& conflicts = Group(OnlySession(doc), "conflictsDict");
    const Value* radio = conflicts.find("conflictFileFolderRadio");
    const Value* ask = conflicts.find("conflictFileFolderAsk");
    ASSERT_NE(radio, nullptr);
    ASSERT_NE(ask, nullptr);
    EXPECT_TRUE(radio->isInteger());
    EXPECT_EQ(radio->intValue(), 2);
    EXPECT_TRUE(ask->isBoolean());
    EXPECT_EQ(*ask, Value(false));
}

TEST(MigrationLaterVersions, DuplicateVolumesBelow411KeepOnlyTheLaterRow) {
    const Array rows = {
        VolumeRow("smb", "nas", "/mnt/share", "first"),         // 0: duplicate of 2
        VolumeRow("afp", "nas", "/mnt/share", "other scheme"),  // 1
        VolumeRow("smb", "nas", "/mnt/share", "second"),        // 2: duplicate of 4
        VolumeRow("smb", "nas", "/mnt/other", "other point"),   // 3
        VolumeRow("smb", "nas", "/mnt/share", "third"),         // 4: the one that stays
        VolumeRow("smb", "", "/mnt/share", "no host a"),        // 5..6: empty host, untouched
        VolumeRow("smb", "", "/mnt/share", "no host b"),
        VolumeRow("", "nas", "/mnt/share", "no scheme a"),  // 7..8: empty scheme, untouched
        VolumeRow("", "nas", "/mnt/share", "no scheme b"),
        VolumeRow("smb", "nas", std::nullopt, "no mount point a"),  // 9..10: no mount point
        VolumeRow("smb", "nas", std::nullopt, "no mount point b"),
    };
    auto users = [](const Array& list) {
        std::vector<std::string> out;
        for (const auto& row : list) out.push_back(row.stringAt("user"));
        return out;
    };
    struct Case {
        std::int64_t version;
        std::vector<std::string> users;
    };
    const std::vector<Case> cases = {
        {410,
         {"other scheme", "other point", "third", "no host a", "no host b", "no scheme a",
          "no scheme b", "no mount point a", "no mount point b"}},
        {403,
         {"other scheme", "other point", "third", "no host a", "no host b", "no scheme a",
          "no scheme b", "no mount point a", "no mount point b"}},
        {411, users(rows)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Value session = RegroupedSession403();
        session.dictAt("autoMountDict")->set("autoMountVolumeArray", rows);
        Value doc = Document({session});
        ASSERT_TRUE(MigrateDocument(doc, c.version).ok);
        const auto& migrated =
            Group(OnlySession(doc), "autoMountDict").arrayAt("autoMountVolumeArray")->array();
        EXPECT_EQ(users(migrated), c.users);
    }
}

TEST(MigrationLaterVersions, DefaultVolumeRowsWithEmptyHostsAreAllKept) {
    Value session = RegroupedSession403();
    session.dictAt("autoMountDict")
        ->set("autoMountVolumeArray",
              Array(64, Value(Dict{{"scheme", ""}, {"host", ""}, {"mountPoint", ""}})));
    Value doc = Document({session});
    ASSERT_TRUE(MigrateDocument(doc, 410).ok);
    EXPECT_EQ(
        Group(OnlySession(doc), "autoMountDict").arrayAt("autoMountVolumeArray")->array().size(),
        64u);
}

TEST(MigrationLaterVersions, VolumeIconsAreKeptUnchangedBelow411) {
    // The start of a PNG file announcing a 512 x 512 image: larger than any thumbnail.
    const Data bigIcon = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0,    0,    0,
                          13,   'I', 'H', 'D', 'R',  0,    0,    2,    0,    0,    0,
                          2,    0,   8,   6,   0,    0,    0,    0x12, 0x34, 0x56, 0x78};
    const Data smallIcon = {1, 2, 3};
    Value big = VolumeRow("smb", "nas", "/mnt/a", "big");
    big.set("volumeIcon", bigIcon);
    Value small = VolumeRow("nfs", "srv", "/mnt/b", "small");
    small.set("volumeIcon", smallIcon);
    Value session = RegroupedSession403();
    session.dictAt("autoMountDict")->set("autoMountVolumeArray", Array{big, small});
    Value doc = Document({session});
    ASSERT_TRUE(MigrateDocument(doc, 410).ok);
    const auto& rows =
        Group(OnlySession(doc), "autoMountDict").arrayAt("autoMountVolumeArray")->array();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].find("volumeIcon")->data(), bigIcon);
    EXPECT_EQ(rows[1].find("volumeIcon")->data(), smallIcon);
}

TEST(MigrationLaterVersions, CurrentVersionIsNotChanged) {
    // Everything an older version would have repaired is left as it is at 420.
    Value flat = FlatSession("Flat");
    Value regrouped = RegroupedSession403();
    regrouped.dictAt("autoMountDict")
        ->set("autoMountVolumeArray", Array{VolumeRow("smb", "nas", "/mnt/a", "1"),
                                            VolumeRow("smb", "nas", "/mnt/a", "2")});
    Value doc = Document({flat, regrouped}, 1);
    doc.set("fileVersion", 420);
    const Value before = doc;
    const MigrationResult result = MigrateDocument(doc, 420);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.sessionIndex, 1);
    EXPECT_EQ(doc, before);
}

// ---- Refusals ----

TEST(MigrationRefusal, DocumentsWithoutUsableSessionsAreRefusedUntouched) {
    struct Case {
        const char* name;
        Value doc;
    };
    const std::vector<Case> cases = {
        {"no sessionsArray", Dict{{"fileVersion", 300}, {"sessionIndex", 0}}},
        {"empty sessionsArray", Document({})},
        {"sessionsArray not an array", Dict{{"sessionsArray", Dict{{"0", Dict{}}}}}},
        {"a session that is a string", Document({FlatSession("ok"), Value("not a session")}, 7)},
        {"a session that is an array", Document({Array{}}, -2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::int64_t version : {300, 403, 420}) {
            Value doc = c.doc;
            const MigrationResult result = MigrateDocument(doc, version);
            EXPECT_FALSE(result.ok);
            EXPECT_FALSE(result.reason.empty());
            EXPECT_EQ(doc, c.doc) << version;
        }
    }
}

// ---- Current session index ----

struct IndexCase {
    std::size_t sessions;
    std::optional<std::int64_t> stored;
    std::int64_t expected;
};

TEST(MigrationSessionIndex, IndexIsClampedToASessionOrTheAllIndex) {
    const std::vector<IndexCase> cases = {
        {3, 7, 2}, {3, 3, 2}, {3, 5, 2},  {3, 4, 4},   // 4 = count + 1: "All"
        {3, 2, 2}, {3, 0, 0}, {3, -1, 0}, {3, -9, 0},  // a negative index names the first
        {1, 2, 2}, {1, 1, 0}, {1, 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sessions << " sessions, index " << *c.stored);
        Value doc = Document(Array(c.sessions, RegroupedSession403()), c.stored);
        const MigrationResult result = MigrateDocument(doc, 420);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.sessionIndex, c.expected);
        EXPECT_EQ(doc.intAt("sessionIndex", -100), c.expected);
    }
}

TEST(MigrationSessionIndex, MissingIndexMeansTheFirstSession) {
    Value doc = Document({RegroupedSession403(), RegroupedSession403()}, std::nullopt);
    const MigrationResult result = MigrateDocument(doc, 420);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.sessionIndex, 0);
}

}  // namespace
}  // namespace qv::sessions
