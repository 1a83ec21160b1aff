// The name of the destination sub-folder: the kinds of the pop-up, the source's name and how
// a custom pattern takes it in, dates in a fixed language.

#include "sessions/dest_subfolder.h"

#include <gtest/gtest.h>

#include "platform/date_format.h"
#include "platform/localization.h"
#include "platform/volumes.h"
#include "sessions/settings_editor.h"
#include "sessions/settings_options.h"
#include "support/test_support.h"

namespace qv::sessions {
namespace {

// Saturday 5 December 2026 at noon UTC: the same day in every time zone a test machine has.
constexpr double kSaturday = 1796472000;

class DestSubFolderTest : public ::testing::Test {
  protected:
    DestSubFolderTest() : doc("/nonexistent/template.plist") {
        platform::InstallLocalizer(platform::Localizer{});
        env.Set("LC_ALL", "en_US.UTF-8");
        doc.mMainDict = SessionDocument::NewTemplate();
        SetTop(0, "/home/bob/Photos");
    }
    void SetTop(std::int64_t session, const std::string& top) {
        doc.GetSessionDict(session)->dictAt("consoleDict")->set("topFolder", top);
    }
    std::string Name(std::int64_t kind, std::optional<std::string> format = std::nullopt,
                     std::optional<std::string> source = std::nullopt, std::int64_t session = 0) {
        return GetDestSubFolderName(doc, session, true, source, kind, format, kSaturday);
    }

    test::ScopedEnv env;
    SessionDocument doc;
};

TEST_F(DestSubFolderTest, EachKindGivesItsName) {
    struct Case {
        std::int64_t kind;
        std::optional<std::string> format;
        std::optional<std::string> source;
        std::string name;
    };
    const Case cases[] = {
        {0, std::nullopt, std::nullopt, "Copy of Photos 2026-12-05"},  // the session's
        {0, "yyyy-MM-dd", std::nullopt, "2026-12-05"},
        {0, "kSrc yyyy", "/srv/Bob's", "Bob's 2026"},
        {0, "kSrc-kSrc", "/srv/d", "d-d"},
        {0, "kSrc", "/srv/yyyy MM", "yyyy MM"},  // the source's letters are not a pattern
        {0, "yyyy/MM/dd", std::nullopt, "2026/12/05"},
        {0, "", std::nullopt, ""},
        {1, std::nullopt, std::nullopt, "Photos"},
        {1, std::nullopt, "/srv/music/", "music"},
        {1, std::nullopt, "", "-"},
        {2, std::nullopt, std::nullopt, "Saturday"},
        {3, std::nullopt, std::nullopt, "Sat"},
        {4, std::nullopt, std::nullopt, "December"},
        {5, std::nullopt, std::nullopt, "Dec"},
        {6, std::nullopt, std::nullopt, ""},
        {7, std::nullopt, std::nullopt, ""},
        {999, std::nullopt, std::nullopt, ""},
        {1000, std::nullopt, std::nullopt, "2026-12-05"},
        {1002, std::nullopt, std::nullopt, "05-12-2026"},
        {1003, std::nullopt, std::nullopt, "20261205"},
        {1099, std::nullopt, std::nullopt, ""},
        {-1, std::nullopt, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Name(c.kind, c.format, c.source), c.name)
            << c.kind << " " << c.format.value_or("(none)") << " " << c.source.value_or("(none)");
    }
    EXPECT_EQ(GetDestSubFolderName(doc, 0, false, std::nullopt, 1, std::nullopt, kSaturday), "");
}

TEST_F(DestSubFolderTest, SourceWhenNoneIsGiven) {
    SetTop(1, "");
    EXPECT_EQ(Name(1, std::nullopt, std::nullopt, 1), "-");
    EXPECT_EQ(Name(1, std::nullopt, std::nullopt, doc.SessionCount() + 1), "(All)");
    doc.GetSessionDict(0)->dictAt("multiDict")->set("multiOn", 1);
    EXPECT_EQ(Name(0, "kSrc"), "(Multi)");
    // The root is named after its volume, which is never empty nor "/".
    EXPECT_EQ(Name(1, std::nullopt, "/"), platform::RootVolumeName());
    EXPECT_NE(Name(1, std::nullopt, "/"), "");
    EXPECT_NE(Name(1, std::nullopt, "/"), "/");
}

TEST_F(DestSubFolderTest, RootWithoutALabelIsNamedAfterTheHost) {
    test::TempDir labels;
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(platform::RootVolumeName("/", labels.path()), host);
    EXPECT_EQ(platform::RootVolumeName("/", labels / "missing"), host);
}

TEST_F(DestSubFolderTest, PopUpEntriesCarryTodaysDateOrTheirPattern) {
    const std::vector<SubFolderKind> kinds = SubFolderKinds(kSaturday);
    std::vector<std::int64_t> tags;
    for (const SubFolderKind& k : kinds) tags.push_back(k.tag);
    EXPECT_EQ(tags, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 1000, 1001, 1002, 1003}));
    EXPECT_EQ(kinds[2].title, "Day of week (Saturday)");
    EXPECT_EQ(kinds[3].title, "Short day of week (Sat)");
    EXPECT_EQ(kinds[4].title, "Month of year (December)");
    EXPECT_EQ(kinds[5].title, "Short month of year (Dec)");
    // Runs of an entry of 1000 and above format its title.
    for (std::size_t i = 6; i < kinds.size(); ++i) {
        EXPECT_EQ(Name(kinds[i].tag), platform::FormatDatePattern(kinds[i].title, kSaturday));
        EXPECT_FALSE(Name(kinds[i].tag).empty()) << kinds[i].title;
    }
}

TEST_F(DestSubFolderTest, DatesFollowTheLocale) {
    EXPECT_EQ(platform::FormatDatePattern("EEEE d MMMM", kSaturday, "fr_FR"), "samedi 5 décembre");
    env.Set("LC_ALL", "de_DE.UTF-8@euro");
    EXPECT_EQ(Name(4), "Dezember");
    env.Set("LC_ALL", "C");
    EXPECT_EQ(Name(2), "Saturday");
    EXPECT_EQ(platform::FormatDatePattern("", kSaturday), "");
    // A text longer than a first guess at its size.
    std::string pattern, expected;
    for (int i = 0; i < 12; ++i) {
        pattern += "EEEE ";
        expected += "Saturday ";
    }
    EXPECT_EQ(platform::FormatDatePattern(pattern, kSaturday), expected);
}

TEST_F(DestSubFolderTest, UnusableNamesAndPatternsAreRefused) {
    struct Case {
        const char* name;
        bool usable;
    };
    const Case cases[] = {{"", false},   {".", false}, {"..", false},
                          {"...", true}, {":", true},  {"2026:12:05", true}};
    for (const Case& c : cases) {
        EXPECT_EQ(SubFolderNameProblem(c.name).empty(), c.usable) << c.name;
    }
    EXPECT_EQ(SubFolderNameProblem(""), "The name of the destination sub-folder is empty.");
    EXPECT_EQ(SubFolderNameProblem(".."), "A destination sub-folder cannot be named \"..\".");

    const SettingsEditor editor(DefaultSettingsDict(kTaskBackup));
    const std::string refused = "Format not valid. Please look at samples here below.";
    EXPECT_EQ(editor.CheckCustomPattern("", kSaturday), refused);
    EXPECT_EQ(editor.CheckCustomPattern("'.'", kSaturday), refused);
    EXPECT_EQ(editor.CheckCustomPattern("'..'", kSaturday), refused);
    EXPECT_EQ(editor.CheckCustomPattern("''", kSaturday), "");  // an apostrophe
    EXPECT_EQ(editor.CheckCustomPattern("kSrc", kSaturday), "");
    EXPECT_EQ(editor.CheckCustomPattern(kDefaultCustomNameFormat, kSaturday), "");
}

}  // namespace
}  // namespace qv::sessions
