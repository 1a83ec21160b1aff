// The filters' question for one item, on real items of a temporary folder.

#include "engine/item_filter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/file_io.h"
#include "sessions/filter_editor.h"
#include "sessions/filter_options.h"
#include "support/test_support.h"

namespace qv::engine {
namespace {

using Rows = std::vector<plist::Dict>;

std::time_t LocalTime(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

plist::Value FilterDict(const Rows& rows, bool copyMode) {
    plist::Value dict = sessions::DefaultFilterDict();
    dict.set("filterOn", 1);
    dict.set("filterCopySkip", copyMode ? 1 : 2);
    auto& table = dict.arrayAt("filterArray")->array();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (const auto& [key, value] : rows[i]) table[i].set(key, value);
    }
    return dict;
}

class ItemFilterTest : public ::testing::Test {
  protected:
    ItemFilter::Verdict Ask(const Rows& rows, bool copyMode, const std::string& name) {
        const std::string path = dir_ / name;
        const platform::ItemAttributes attrs = platform::ReadItemAttributes(path.c_str());
        const ItemFilter filter(FilterDict(rows, copyMode), tw_, now_);
        return filter.Match({name, path, -1, attrs});
    }
    test::TempDir dir_;
    items::TWUtilities tw_;
    std::time_t now_ = LocalTime(2024, 3, 1, 12, 0);
};

TEST_F(ItemFilterTest, RowsDecideInOrderOnEachCriterion) {
    namespace fs = std::filesystem;
    for (const char* name : {"a.TMP", "tmp", "ab", "xfile"}) test::WriteText(dir_ / name, "");
    fs::create_directories(dir_ / "x-folder");
    fs::create_directories(dir_ / "folder");
    test::WriteText(dir_ / "k1025", std::string(1025, 'k'));
    test::WriteText(dir_ / "k1024", std::string(1024, 'k'));
    const plist::Dict endsTmp = {
        {"filterFileNameOn", 1}, {"filterFileNamePop", 2}, {"filterFileNameField", ".tmp"}};
    const plist::Dict containsX = {{"filterFileNameOn", 1}, {"filterFileNameField", "x"}};
    const plist::Dict isFolder = {{"filterKindOn", 1}, {"filterKindPop", 1}};
    plist::Dict xFolder = containsX;
    xFolder.insert(isFolder.begin(), isFolder.end());
    const plist::Dict above1K = {{"filterFileSizeOn", 1},
                                 {"filterFileSizePop", 2},
                                 {"filterFileSizeField", 1},
                                 {"filterFileSizeBytesPop", 1}};
    const std::string me = std::to_string(::getuid());
    const struct {
        Rows rows;
        bool copyMode;
        const char* name;
        bool leftOut;
    } cases[] = {
        {{endsTmp}, false, "a.TMP", true},  // case is ignored
        {{endsTmp}, false, "tmp", false},   // a text longer than the name never ends it
        {{endsTmp}, true, "a.TMP", false},
        {{endsTmp}, true, "tmp", true},  // copy mode: what no row matches is left out
        {{{{"filterFileNameOn", 1}, {"filterFileNamePop", 1}, {"filterFileNameField", "abc"}}},
         false,
         "ab",
         false},
        {{xFolder}, false, "x-folder", true},
        {{xFolder}, false, "xfile", false},
        {{xFolder}, false, "folder", false},
        {{containsX, isFolder}, false, "folder", true},  // one row each: either matches
        {{containsX, isFolder}, false, "xfile", true},
        {{above1K}, false, "k1025", true},
        {{above1K}, false, "k1024", false},
        // The separator of the date pop-up never matches.
        {{{{"filterModificationDateOn", 1}, {"filterModificationDatePop", 4}}}, false, "ab", false},
        {{{{"filterModificationDateOn", 1}, {"filterModificationDatePop", 6}}}, false, "ab", false},
        {{{{"filterOwnerOn", 1}, {"filterOwnerPop", 2}, {"filterOwnerField", me}}},
         false,
         "ab",
         true},
        {{{{"filterOwnerOn", 1}, {"filterOwnerPop", 3}, {"filterOwnerField", me}}},
         false,
         "ab",
         false},
        {{{{"onOff", 0}, {"filterFileNameOn", 1}, {"filterFileNameField", "a"}}},
         false,
         "ab",
         false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ask(c.rows, c.copyMode, c.name).leftOut, c.leftOut)
            << c.name << (c.copyMode ? " in copy mode" : " in skip mode");
    }
}

TEST_F(ItemFilterTest, CreationDaysAndCodesComeFromTheItemsAttributes) {
    const struct {
        const char* name;
        std::time_t created;
    } items[] = {
        {"jan2", LocalTime(2011, 1, 2, 0, 1)},
        {"jan1", LocalTime(2011, 1, 1, 23, 59)},
    };
    for (const auto& item : items) {
        test::WriteText(dir_ / item.name, "");
        if (test::SetXattr(dir_ / item.name, items::kCreationDateXattr,
                           std::to_string(item.created)) != 0) {
            GTEST_SKIP() << "no user xattrs on this file system";
        }
    }
    test::WriteText(dir_ / "typed", "");
    ASSERT_EQ(test::SetXattr(dir_ / "typed", items::kFinderInfoXattr,
                             std::string("TEXTqvrl") + std::string(8, '\0')),
              0);
    const plist::Dict notNewYear = {{"filterCreationDateOn", 1},
                                    {"filterCreationDatePop", 3},
                                    {"filterCreationDateMonth", 1},
                                    {"filterCreationDateDay", 1},
                                    {"filterCreationDateYear", 2011}};
    const plist::Dict nameA = {
        {"filterFileNameOn", 1}, {"filterFileNamePop", 3}, {"filterFileNameField", "missing"}};
    const struct {
        Rows rows;
        const char* name;
        bool leftOut;
        std::size_t row;  // the table row that decided, or 99 for none
    } cases[] = {
        {{notNewYear}, "jan2", true, 0},
        {{notNewYear}, "jan1", false, 99},
        // No creation date to read (here: no item): the row fails and the next one decides.
        {{notNewYear, nameA}, "missing", true, 1},
        {{{{"filterTypeOn", 1}, {"filterTypeField", "TEXT"}}}, "typed", true, 0},
        {{{{"filterTypeOn", 1}, {"filterTypeField", "text"}}}, "typed", false, 99},
        {{{{"filterCreatorOn", 1}, {"filterCreatorPop", 1}, {"filterCreatorField", "qvrl"}}},
         "typed",
         false,
         99},
        {{{{"filterTypeOn", 1}, {"filterTypePop", 1}, {"filterTypeField", "TEXT"}}},
         "jan1",
         true,
         0},  // no Finder information: the empty code
    };
    for (const auto& c : cases) {
        const ItemFilter::Verdict verdict = Ask(c.rows, false, c.name);
        EXPECT_EQ(verdict.leftOut, c.leftOut) << c.name;
        EXPECT_EQ(verdict.tableRow.value_or(99), c.row) << c.name;
    }
}

}  // namespace
}  // namespace qv::engine
