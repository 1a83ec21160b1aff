#include "platform/localization.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file_io.h"
#include "support/test_support.h"

namespace qv::platform {
namespace {

TEST(StringsFileTest, ParsesTheTranslatorsFormat) {
    const std::string text =
        "/* A comment\n spanning lines */\n"
        "\"Hello\" = \"Bonjour\";\n"
        "// a line comment\n"
        "\"Quote \\\"x\\\"\" = \"Guillemet \\\"x\\\"\";\n"
        "\"Line\\rbreak\" = \"Tab\\tand\\nnewline\";\n"
        "\"Euro\" = \"\\U20AC \\U00e9\";\n"
        "\"Face\" = \"\\UD83D\\UDE00\";\n"
        "\"Alone\";\n"
        "bare_key = \"bare\";\n";
    StringTable table;
    std::string error;
    ASSERT_TRUE(ParseStringsFile(text, &table, &error)) << error;
    EXPECT_EQ(table.at("Hello"), "Bonjour");
    EXPECT_EQ(table.at("Quote \"x\""), "Guillemet \"x\"");
    EXPECT_EQ(table.at("Line\rbreak"), "Tab\tand\nnewline");
    EXPECT_EQ(table.at("Euro"), "€ é");
    EXPECT_EQ(table.at("Face"), "😀");
    EXPECT_EQ(table.at("Alone"), "Alone");
    EXPECT_EQ(table.at("bare_key"), "bare");
}

TEST(StringsFileTest, ReadsUtf16WithByteOrderMark) {
    std::string le = "\xFF\xFE", be = "\xFE\xFF";
    for (const char16_t unit : std::u16string(u"\"Yes\" = \"Oui \u00e9\";")) {
        le += static_cast<char>(unit & 0xFF);
        le += static_cast<char>(unit >> 8);
        be += static_cast<char>(unit >> 8);
        be += static_cast<char>(unit & 0xFF);
    }
    for (const std::string& bytes : {le, be}) {
        StringTable table;
        std::string error;
        ASSERT_TRUE(ParseStringsFile(bytes, &table, &error)) << error;
        EXPECT_EQ(table.at("Yes"), "Oui é");
    }
}

TEST(StringsFileTest, ReportsTheLineOfAnError) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"\"a\" = \"b\";\n\"c\" = \"d\"\n", "line 3"},  // missing ';' noticed at the end
        {"\"a\" = \"b;\n", "unterminated text"},       {"/* never closed", "unterminated comment"},
        {"\"a\" = ;", "expected a quoted text"},       {"\n\n\"a\" = \"\\Uzzzz\";", "line 3"},
    };
    for (const auto& c : cases) {
        StringTable table{{"kept", "as it was"}};
        std::string error;
        EXPECT_FALSE(ParseStringsFile(c.text, &table, &error)) << c.text;
        EXPECT_TRUE(test::Contains(error, c.error)) << c.text;
        EXPECT_EQ(table.size(), 1u);  // a failed parse leaves the table alone
    }
}

TEST(LocalizerTest, SearchTakesTheFirstLanguageWithARegularStringsFile) {
    test::TempDir res;
    test::WriteText(res / "de.lproj/Localizable.strings", "\"Yes\" = \"Ja\";");
    test::WriteText(res / "en.lproj/Localizable.strings", "\"Yes\" = \"Yes\";");
    ASSERT_EQ(::mkdir((res / "it.lproj").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((res / "it.lproj/Localizable.strings").c_str(), 0755), 0);  // a folder
    test::WriteText(res / "xx.lproj/Localizable.strings", "\"Yes\" = ");          // damaged

    const struct {
        std::vector<std::string> languages;
        const char* yes;
        const char* folder;
    } cases[] = {
        {{"fr", "de", "en"}, "Ja", "de.lproj"},  // no fr folder: the second is taken
        {{"it", "de", "en"}, "Ja", "de.lproj"},  // a folder named Localizable.strings is skipped
        {{"xx", "en"}, "Yes", "en.lproj"},       // a damaged table is passed over
        {{"en", "de"}, "Yes", "en.lproj"},
    };
    for (const auto& c : cases) {
        Localizer l;
        std::string error;
        ASSERT_TRUE(l.Load(res.path(), c.languages, &error)) << error;
        EXPECT_EQ(l.YesNo(1), c.yes);
        EXPECT_EQ(LastPathComponent(l.pathLanguageFolder()), c.folder);
    }
    Localizer none;
    std::string error;
    EXPECT_FALSE(none.Load(res.path(), {"fr", "it"}, &error));
    EXPECT_FALSE(error.empty());
}

TEST(LocalizerTest, GlsFallsBackToTheTextItself) {
    Localizer l;
    l.SetTable({{"Yes", "Oui"}, {"Empty", ""}});
    EXPECT_EQ(l.GLS("Yes"), "Oui");
    EXPECT_EQ(l.GLS("Empty"), "Empty");  // an empty translation is no translation
    EXPECT_EQ(l.GLS("Not there"), "Not there");
    EXPECT_EQ(l.GLS(""), "");
    EXPECT_EQ(l.YesNo(0), "No");
    EXPECT_EQ(l.YesNo(-3), "Oui");
}

TEST(LocalizerTest, PreferredLanguagesComeFromTheEnvironment) {
    const struct {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        std::vector<std::string> expected;
    } cases[] = {
        {"fr:de", nullptr, nullptr, "pt_BR.UTF-8", {"fr", "de", "pt_BR", "pt", "en"}},
        {nullptr, "it_IT.UTF-8", "de_DE", "fr_FR", {"it_IT", "it", "en"}},  // LC_ALL wins
        {nullptr, nullptr, "de_AT@euro", "fr_FR", {"de_AT", "de", "en"}},
        {nullptr, nullptr, nullptr, "C", {"en"}},
        {"", nullptr, nullptr, "POSIX", {"en"}},
        {"en_GB:en", nullptr, nullptr, nullptr, {"en_GB", "en"}},
    };
    for (const auto& c : cases) {
        test::ScopedEnv env;
        const std::pair<const char*, const char*> vars[] = {{"LANGUAGE", c.language},
                                                            {"LC_ALL", c.lcAll},
                                                            {"LC_MESSAGES", c.lcMessages},
                                                            {"LANG", c.lang}};
        for (const auto& [name, value] : vars) value ? env.Set(name, value) : env.Unset(name);
        EXPECT_EQ(PreferredLanguages(), c.expected) << (c.language ? c.language : "-");
    }
}

TEST(LocalizerTest, ShippedTablesParseAndTranslateOnlyKnownTexts) {
    StringTable english, french;
    for (const auto& [language, table] : {std::pair{"en", &english}, {"fr", &french}}) {
        std::string path = QV_RESOURCES_DIR;
        path.append("/").append(language).append(".lproj/Localizable.strings");
        const auto file = ReadWholeFile(path, 1 << 20);
        ASSERT_EQ(file.status, ReadStatus::Ok) << language;
        std::string error;
        ASSERT_TRUE(ParseStringsFile(file.bytes, table, &error)) << language << ": " << error;
    }
    EXPECT_EQ(english.at("Default Sync Session"), "Default Sync Session");
    EXPECT_FALSE(french.empty());
    for (const auto& [key, value] : french) {
        EXPECT_TRUE(english.count(key)) << "French entry with no English text: " << key;
        EXPECT_FALSE(value.empty()) << key;
    }
}

}  // namespace
}  // namespace qv::platform
