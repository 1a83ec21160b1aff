#include "sessions/filter_editor.h"

#include <gtest/gtest.h>

#include "sessions/filter_options.h"

namespace qv::sessions {
namespace {

plist::Value Row(plist::Dict keys) {
    plist::Value row = DefaultFilterRow();
    for (auto& [key, value] : keys) row.set(key, value);
    return row;
}

TEST(FilterEditorTest, TheRowEditorRefusesInItsOrderAndTakesTheEdgeDays) {
    // A date criterion on: "Creation" or "Modification", with its month, day and year.
    const auto date = [](const std::string& which, plist::Value month, plist::Value day,
                         plist::Value year) {
        const std::string key = "filter" + which + "Date";
        return plist::Dict{
            {key + "On", 1}, {key + "Month", month}, {key + "Day", day}, {key + "Year", year}};
    };
    const auto size = [](const char* field, int unit = 0) {
        return plist::Dict{{"filterFileSizeOn", 1},
                           {"filterFileSizeField", field},
                           {"filterFileSizeBytesPop", unit}};
    };
    const char* badYear = "Please insert a valid Year number.";
    const char* badDay = "Please insert a valid Day number.";
    const char* badSize = "Please insert a valid File Size.";
    const struct {
        plist::Dict keys;
        const char* message;  // "" when taken
        const char* field;
    } cases[] = {
        // clang-format off
        {{{"filterFileNameOn", 1}, {"filterCreationDateOn", 1}, {"filterCreationDateYear", 1}},
         "Please insert a valid file name.", "filterFileNameField"},
        {date("Creation", 1, 1, 1903), badYear, "filterCreationDateYear"},
        {date("Creation", 1, 1, 1904), "", ""},
        {date("Creation", 1, 1, 10000), badYear, "filterCreationDateYear"},
        {{{"filterCreationDateOn", 1}, {"filterCreationDatePop", 4}},  // the separator
         "Please choose how the date is compared.", "filterCreationDatePop"},
        {date("Creation", 1, 1, ""), badYear, "filterCreationDateYear"},
        {date("Creation", 13, 40, 2011), "Please insert a valid Month number.",
         "filterCreationDateMonth"},
        {date("Modification", 2, 29, 2012), "", ""},
        {date("Modification", 2, 29, 2011), badDay, "filterModificationDateDay"},
        // Gregorian: 2100 has no 29 February, 2000 has one.
        {date("Creation", 2, 29, 2100), badDay, "filterCreationDateDay"},
        {date("Creation", 2, 29, 2000), "", ""},
        {date("Creation", 4, 31, 2011), badDay, "filterCreationDateDay"},
        {size(""), badSize, "filterFileSizeField"},
        {size("-1"), badSize, "filterFileSizeField"},
        // The limit must fit in 64 bits: 2^33 GB does not, one less does.
        {size("8589934592", 3), badSize, "filterFileSizeField"},
        {size("8589934591", 3), "", ""},
        {{{"filterTypeOn", 1}}, "Please insert a valid Type.", "filterTypeField"},
        {{{"filterCreatorOn", 1}}, "Please insert a valid Creator.", "filterCreatorField"},
        {{{"filterOwnerOn", 1}}, "Please insert a valid Owner name or ID.", "filterOwnerField"},
        // An ID that is no number would count as 0, root.
        {{{"filterOwnerOn", 1}, {"filterOwnerPop", 2}, {"filterOwnerField", "root"}},
         "Please insert a valid Owner name or ID.", "filterOwnerField"},
        {{{"filterOwnerOn", 1}, {"filterOwnerPop", 0}, {"filterOwnerField", "root"}}, "", ""},
        {{{"filterGroupOn", 1}, {"filterGroupPop", 3}, {"filterGroupField", "12x"}},
         "Please insert a valid Group name or ID.", "filterGroupField"},
        {{{"filterGroupOn", 1}, {"filterGroupPop", 3}, {"filterGroupField", "100"}}, "", ""},
        {{{"filterKindOn", 0}}, "Please define a criteria for this filter.", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        FilterEditor editor(DefaultFilterDict());
        const plist::Value before = editor.row(0);
        const FilterRowCheck check = editor.SetFilterRow(0, Row(c.keys));
        EXPECT_EQ(check.message, c.message) << plist::Value(c.keys).dict().begin()->first;
        EXPECT_EQ(check.field, c.field) << c.message;
        // A refused row is left as it was and the filters stay off; a taken one turns them on.
        EXPECT_EQ(editor.row(0) == before, !check.ok()) << c.message;
        EXPECT_EQ(editor.filterOn(), check.ok()) << c.message;
    }
}

TEST(FilterEditorTest, DescriptionsNameEachCriterionInTheTablesOrder) {
    std::tm noon{};
    noon.tm_year = 2024 - 1900;
    noon.tm_mon = 0;
    noon.tm_mday = 1;
    noon.tm_hour = 12;
    const std::time_t newYear = std::mktime(&noon);
    const struct {
        plist::Dict keys;
        const char* description;
    } cases[] = {
        // clang-format off
        {{{"filterGroupOn", 1}, {"filterGroupField", "staff"}, {"filterFileNameOn", 1},
          {"filterFileNamePop", 2}, {"filterFileNameField", ".tmp"}, {"filterKindOn", 1},
          {"filterKindPop", 1}},
         "FN ends with \".tmp\" - Kind is a folder - Group name is \"staff\""},
        {{{"filterFileSizeOn", 1}, {"filterFileSizePop", 2}, {"filterFileSizeField", "1"},
          {"filterFileSizeBytesPop", 1}, {"filterTypeOn", 1}, {"filterTypePop", 1},
          {"filterTypeField", "TEXT"}},
         "File Size is greater than \"1 KB\" - Type is not \"TEXT\""},
        {{{"filterCreationDateOn", 1}, {"filterCreationDatePop", 3}, {"filterCreationDateMonth", 1},
          {"filterCreationDateDay", 1}, {"filterCreationDateYear", 2011}},
         "CD is not \"1/1/2011\""},
        // Yesterday takes its date from the day of the edit, and shows none.
        {{{"filterModificationDateOn", 1}, {"filterModificationDatePop", 6},
          {"filterModificationDateYear", ""}},
         "MD is yesterday"},
        // clang-format on
    };
    for (const auto& c : cases) {
        FilterEditor editor(DefaultFilterDict());
        ASSERT_TRUE(editor.SetFilterRow(4, Row(c.keys), newYear).ok()) << c.description;
        EXPECT_EQ(editor.row(4).stringAt("filterNameField"), c.description);
        EXPECT_EQ(editor.EditorTitle(4), c.description);
    }
    FilterEditor editor(DefaultFilterDict());
    editor.SetFilterRow(0, Row({{"filterModificationDateOn", 1}, {"filterModificationDatePop", 6}}),
                        newYear);
    EXPECT_EQ(editor.row(0).intAt("filterModificationDateYear"), 2023);
    EXPECT_EQ(editor.row(0).intAt("filterModificationDateMonth"), 12);
    EXPECT_EQ(editor.row(0).intAt("filterModificationDateDay"), 31);
    EXPECT_EQ(editor.EditorTitle(2), "Filter 3");
}

TEST(FilterEditorTest, RowsWithoutACriterionHaveNoEffectAndLeavingSwitchesTheFiltersOff) {
    FilterEditor editor(DefaultFilterDict());
    ASSERT_TRUE(editor
                    .SetFilterRow(1, Row({{"filterFileNameOn", 1},
                                          {"filterFileNameField", "x"},
                                          {"filterOwnerOn", 1},
                                          {"filterOwnerField", "root"}}))
                    .ok());
    plist::Value session = plist::Dict{};
    ASSERT_TRUE(editor.GetPanels(session, nullptr));
    EXPECT_EQ(CountFilterValid(session).size(), 1u);
    EXPECT_EQ(session.dictAt("filterDict")->intAt("filterOn"), 1);

    // The option-click reset keeps the owner filled in but switched off: a row whose
    // description is empty leaves nothing out, and leaving the panel switches the filters off.
    editor.ResetRow(1);
    EXPECT_EQ(editor.row(1).intAt("filterFileNameOn"), 0);
    EXPECT_EQ(editor.row(1).stringAt("filterOwnerField"), "root");
    EXPECT_EQ(editor.row(1).intAt("filterOwnerOn"), 0);
    EXPECT_FALSE(editor.HasValidRow());
    ASSERT_TRUE(editor.GetPanels(session, nullptr));
    EXPECT_TRUE(CountFilterValid(session).empty());
    EXPECT_EQ(session.dictAt("filterDict")->intAt("filterOn"), 0);
}

TEST(FilterEditorTest, DateSteppersGoRoundAndLowerTheDayToTheMonthsLast) {
    using F = FilterDateField;
    const struct {
        FilterDate from;
        F field;
        int delta;
        FilterDate to;
    } cases[] = {
        {{3, 31, 2011}, F::kMonth, -1, {2, 28, 2011}},  // the day follows the month
        {{1, 29, 2012}, F::kMonth, 1, {2, 29, 2012}},
        {{2, 29, 2012}, F::kYear, 1, {2, 28, 2013}},  // and the year
        {{12, 31, 2011}, F::kMonth, 1, {1, 31, 2011}},
        {{4, 30, 2011}, F::kDay, 1, {4, 1, 2011}},
        {{4, 1, 2011}, F::kDay, -1, {4, 30, 2011}},
        {{1, 1, 1904}, F::kYear, -1, {1, 1, 1904}},  // no year the fields refuse
        {{0, 1, 2011}, F::kMonth, 1, {2, 1, 2011}},  // a month out of range counts as January
    };
    for (const auto& c : cases) {
        const FilterDate got = StepFilterDate(c.from, c.field, c.delta);
        EXPECT_EQ(got, c.to) << c.from.month << "/" << c.from.day << "/" << c.from.year;
    }
    // The moving entries fill the fields; the others leave them to the user.
    EXPECT_FALSE(FilterPopDate(0, 0).has_value());
    EXPECT_FALSE(FilterPopDate(kDatePopSeparator, 0).has_value());
    const std::time_t noon = 1325419200;  // 1 January 2012, 12:00 UTC
    EXPECT_EQ(*FilterPopDate(kDatePopToday, noon), (FilterDate{1, 1, 2012}));
    EXPECT_EQ(*FilterPopDate(kDatePopYesterday, noon), (FilterDate{12, 31, 2011}));
    // The pop-ups list as many titles as they have positions.
    for (const FilterRowKey& key : FilterRowKeys()) {
        EXPECT_EQ(FilterPopTitles(key.key).size(),
                  key.kind == FilterKeyKind::kPopUp ? static_cast<std::size_t>(key.popCount) : 0u)
            << key.key;
    }
}

}  // namespace
}  // namespace qv::sessions
