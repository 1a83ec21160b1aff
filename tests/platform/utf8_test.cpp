#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::platform {
namespace {

struct Valid {
    std::string bytes;
    char32_t cp;
};

// Each row is one whole sequence: the smallest and largest value of each length, and the values
// next to the surrogate range.
const Valid kValid[] = {
    {std::string(1, '\0'), 0x0},
    {"A", 0x41},
    {"\x7F", 0x7F},
    {"\xC2\x80", 0x80},
    {"\xC3\xA9", 0xE9},
    {"\xDF\xBF", 0x7FF},
    {"\xE0\xA0\x80", 0x800},
    {"\xE2\x82\xAC", 0x20AC},
    {"\xED\x9F\xBF", 0xD7FF},
    {"\xEE\x80\x80", 0xE000},
    {"\xEF\xBF\xBF", 0xFFFF},
    {"\xF0\x90\x80\x80", 0x10000},
    {"\xF0\x9F\x98\x80", 0x1F600},
    {"\xF4\x8F\xBF\xBF", 0x10FFFF},
};

struct Invalid {
    const char* why;
    std::string bytes;
};

const Invalid kInvalid[] = {
    {"overlong NUL", "\xC0\x80"},
    {"overlong 2-byte", "\xC1\xBF"},
    {"overlong 3-byte", "\xE0\x80\x80"},
    {"overlong 3-byte, largest", "\xE0\x9F\xBF"},
    {"overlong 4-byte", "\xF0\x80\x80\x80"},
    {"overlong 4-byte, largest", "\xF0\x8F\xBF\xBF"},
    {"first surrogate", "\xED\xA0\x80"},
    {"last surrogate", "\xED\xBF\xBF"},
    {"U+110000", "\xF4\x90\x80\x80"},
    {"lead F5", "\xF5\x80\x80\x80"},
    {"lead F7", "\xF7\xBF\xBF\xBF"},
    {"5-byte form", "\xF8\x88\x80\x80\x80"},
    {"byte FE", "\xFE"},
    {"byte FF", "\xFF"},
    {"2-byte cut", "\xC3"},
    {"3-byte cut", "\xE2\x82"},
    {"4-byte cut", "\xF0\x9F\x98"},
    {"lone continuation 80", "\x80"},
    {"lone continuation BF", "\xBF\x41"},
    {"ASCII where a continuation belongs", "\xC3\x41"},
    {"lead byte where a continuation belongs", "\xE2\xC3\xA9"},
};

TEST(Utf8Test, DecodesAndWritesEachWellFormedSequence) {
    EXPECT_TRUE(IsValidUtf8(""));
    for (const Valid& row : kValid) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<unsigned>(row.cp));
        char32_t cp = 0xBAD;
        EXPECT_EQ(DecodeUtf8(row.bytes, 0, &cp), row.bytes.size());
        EXPECT_EQ(cp, row.cp);
        EXPECT_TRUE(IsValidUtf8(row.bytes));
        // The same sequence inside other text, and with text after it.
        const std::string framed = "x" + row.bytes + "\xC3\xA9";
        EXPECT_EQ(DecodeUtf8(framed, 1, &cp), row.bytes.size());
        EXPECT_EQ(cp, row.cp);
        EXPECT_TRUE(IsValidUtf8(framed));
        // Written back, in the shortest form.
        std::string out = "<";
        AppendUtf8(row.cp, &out);
        EXPECT_EQ(out, "<" + row.bytes);
    }
}

TEST(Utf8Test, RejectsIllFormedSequences) {
    for (const Invalid& row : kInvalid) {
        SCOPED_TRACE(row.why);
        char32_t cp = 0xBAD;
        EXPECT_EQ(DecodeUtf8(row.bytes, 0, &cp), 0u);
        EXPECT_EQ(cp, char32_t{0xBAD});  // left alone
        EXPECT_FALSE(IsValidUtf8(row.bytes));
        EXPECT_FALSE(IsValidUtf8("ok " + row.bytes + " ok"));
    }
}

TEST(Utf8Test, TruncationIsJudgedAgainstTheEndOfTheText) {
    // "é" whose second byte lies beyond the view, though the bytes behind it are in memory.
    const std::string bytes = "a\xC3\xA9";
    char32_t cp = 0;
    EXPECT_EQ(DecodeUtf8(std::string_view(bytes).substr(0, 2), 1, &cp), 0u);
    EXPECT_EQ(DecodeUtf8(bytes, 1, &cp), 2u);
    EXPECT_EQ(cp, char32_t{0xE9});
}

TEST(Utf8Test, EveryCodePointSurvivesARoundTrip) {
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::string out;
        AppendUtf8(cp, &out);
        char32_t back = 0;
        ASSERT_EQ(DecodeUtf8(out, 0, &back), out.size()) << std::hex << static_cast<unsigned>(cp);
        ASSERT_EQ(back, cp);
        ASSERT_EQ(out.size(), cp < 0x80 ? 1u : cp < 0x800 ? 2u : cp < 0x10000 ? 3u : 4u);
    }
    // A lone surrogate is written in its three-byte form, for readers of UTF-16 that pass one on
    // without its pair; such text then fails IsValidUtf8, as it should.
    std::string out;
    AppendUtf8(0xD800, &out);
    EXPECT_EQ(out, "\xED\xA0\x80");
    EXPECT_FALSE(IsValidUtf8(out));
}

}  // namespace
}  // namespace qv::platform
