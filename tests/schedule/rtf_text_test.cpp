// The RTF our log files are written in: what is written reads back as the same text, and no
// document, however broken, makes the reader crash or loop.
#include "schedule/rtf_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::schedule {
namespace {

TEST(RtfText, WrittenLogReadsBackAsTheSameText) {
    const std::string cases[] = {
        "plain line\rsecond line\r",
        "\xC3\xA9t\xC3\xA9 \xE2\x88\x91 \xE2\x80\xA2 \xF0\x9F\x98\x80 (beyond the first plane)\r",
        "\tcolumn\tafter tab\t\r\t-5 and \t7 after tabs\r",
        "{braces} and \\back\\slashes\\ and \\par and \\u233? as text\r",
        "not UTF-8: \xFF\xFE name \xC3 cut \xE2\x88 and surrogate \xED\xA0\x80\r",
        "a name with a line feed\nand an escape \x1B[2J and DEL \x7F\r",
        "",
        "no line end",
    };
    for (const std::string& text : cases) {
        std::string back, error;
        ASSERT_TRUE(RtfToText(LogToRtf(text), &back, &error)) << text << ": " << error;
        EXPECT_EQ(back, text);
    }
}

TEST(RtfText, SmallLogIsWrittenByteForByte) {
    const std::string log =
        "===\r"
        "\xE2\x80\xA2 Quorvel - https://quorvel.app - Hidden Mode\r"
        "\tA{b}\\c\r"
        "\xC3\xA9\xF0\x9F\x98\x80\xFF\r";
    EXPECT_EQ(LogToRtf(log),
              "{\\rtf1\\ansi\\ansicpg65001\\deff0{\\fonttbl{\\f0\\fmodern Monospace;}}\\f0\\fs20 "
              "===\\par\n"
              "\\u8226? Quorvel - by {\\field{\\*\\fldinst HYPERLINK \"https://quorvel.app\"}"
              "{\\fldrslt quorvel.app}} - Hidden Mode\\par\n"
              "\\tab A\\{b\\}\\\\c\\par\n"
              "\\u233?\\u-10179?\\u-8704?\\'ff\\par\n"
              "}");
    std::string back;
    ASSERT_TRUE(RtfToText(LogToRtf(log), &back));
    EXPECT_EQ(back,
              "===\r\xE2\x80\xA2 Quorvel - by quorvel.app - Hidden Mode\r\tA{b}\\c\r"
              "\xC3\xA9\xF0\x9F\x98\x80\xFF\r");

    // Further down, the address is part of a name and stays as it is.
    const std::string body = "1\r2\r3\r4\r/mnt/https://quorvel.app/x\r";
    ASSERT_TRUE(RtfToText(LogToRtf(body), &back));
    EXPECT_EQ(back, body);
}

TEST(RtfText, OtherWritersAndHostileDocuments) {
    const struct {
        std::string rtf;
        bool ok;
        std::string text;  // what is read, also when refused
    } cases[] = {
        {"", false, ""},
        {"plain text", false, ""},
        {"{\\rtf1 unterminated {group", false, "unterminated group"},
        {std::string("{\\rtf1 deep") + std::string(100000, '{'), false, "deep"},
        {"{\\rtf1 x\\'", false, "x"},
        {"{\\rtf1 x\\'4", false, "x"},
        {"{\\rtf1 x\\'zz}", false, "x"},
        {"{\\rtf1 x\\", false, "x"},
        {"{\\rtf1 \\bin999999999 x}", false, ""},
        {"{\\rtf1 a}}} trailing", true, "a"},
        {"{\\rtf1{\\fonttbl{\\f0 Font;}}{\\*\\generator W;}{\\info{\\title T}}{\\mystery kept}"
         "shown\\b\\i0\\par next\\line\\tab x}",
         true, "keptshown\rnext\r\tx"},
        {"{\\rtf1{\\uc2 \\u233\\'e9\\'00x}\\u233?y}", true, "\xC3\xA9x\xC3\xA9y"},
        {"{\\rtf1\\uc0 \\u233 z}", true, "\xC3\xA9z"},
        {"{\\rtf1 \\u-10179?a\\u-8704?b}", true,
         "\xEF\xBF\xBD"
         "a\xEF\xBF\xBD"
         "b"},
        {"{\\rtf1 \\u99999999999999999999999 y}", true, "y"},
        {"{\\rtf1 a\\\nb\\~c\\bullet\\emdash}", true,
         "a\rb\xC2\xA0"
         "c\xE2\x80\xA2\xE2\x80\x94"},
        {"{\\rtf1 raw\r\nbreaks\n}", true, "rawbreaks"},
    };
    for (const auto& c : cases) {
        std::string text, error;
        const bool ok = RtfToText(c.rtf, &text, &error);
        EXPECT_EQ(ok, c.ok) << c.rtf.substr(0, 60);
        EXPECT_EQ(ok, error.empty()) << c.rtf.substr(0, 60) << ": " << error;
        EXPECT_EQ(text, c.text) << c.rtf.substr(0, 60);
    }
}

}  // namespace
}  // namespace qv::schedule
