// The one parser of the command's options, by table.
#include "cli/option_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace qv::cli {
namespace {

constexpr OptionRow kFile = WithValue("--file", "a file", Attach::kYes);
constexpr OptionRow kName = WithValue("--name", "a name", Attach::kNo);
constexpr OptionRow kForce = Switch("--force", "Replace it.", 'f');
constexpr const OptionRow* kOptions[] = {&kFile, &kName, &kForce};

struct Arguments {
    std::string file;
    std::optional<std::string> name;
    bool force = false;
};
constexpr Take<Arguments> kTakes[] = {
    {&kFile, Into<&Arguments::file>},
    {&kName, Into<&Arguments::name>},
    {&kForce, Into<&Arguments::force>},
};

// The given options and the operands as one line of text: "--file=a --force | x y", or the
// error the parser tells.
std::string Read(const Grammar& grammar, const std::vector<std::string>& words) {
    ParsedLine line;
    const std::string error = ParseLine(grammar, words, &line);
    if (!error.empty()) return "error: " + error;
    std::ostringstream text;
    for (const ParsedLine::Given& given : line.given) {
        text << given.option->name << (given.option->value ? "=" + given.value : "") << " ";
    }
    text << "|";
    for (const std::string& operand : line.operands) text << " " << operand;
    return text.str();
}

TEST(OptionTable, ReadsTheWordsOfALine) {
    const Grammar main{kOptions};
    const Grammar splitting{.options = kOptions, .splitEveryEquals = true};
    const Grammar wordy{.options = kOptions, .endMarker = false, .strangersAreWords = true};
    const struct {
        const Grammar& grammar;
        std::vector<std::string> words;
        const char* read;
    } cases[] = {
        {main, {"list", "--file", "a", "x"}, "--file=a | list x"},
        {main, {"--file=a=b", "list"}, "--file=a=b | list"},
        {main, {"--file="}, "--file= |"},
        {main, {"-f", "--force"}, "--force --force |"},
        {main, {"--file", "--force"}, "--file=--force |"},
        {main, {"-", "x"}, "| - x"},
        {main, {"list", "--", "--force", "--"}, "| list --force --"},
        {main, {"list", "--bogus"}, "error: unknown option '--bogus'"},
        {main, {"list", "-x=1"}, "error: unknown option '-x=1'"},
        {main, {"--name=a"}, "error: unknown option '--name=a'"},
        {main, {"--force=1"}, "error: unknown option '--force=1'"},
        {main, {"list", "--file"}, "error: --file needs a file"},
        {main, {"--bogus", "--name"}, "error: unknown option '--bogus'"},
        {main, {"--name"}, "error: --name needs a name"},
        {splitting, {"--name=a"}, "--name=a |"},
        {splitting, {"--force=1"}, "error: unknown option '--force'"},
        {splitting, {"--bogus=1"}, "error: unknown option '--bogus'"},
        {wordy, {"--bogus", "--", "-x", "--force"}, "--force | --bogus -- -x"},
        {wordy, {"--force=1"}, "| --force=1"},
    };
    for (const auto& c : cases) {
        std::string words;
        for (const std::string& word : c.words) words += " " + word;
        EXPECT_EQ(Read(c.grammar, c.words), c.read) << words;
    }
}

TEST(OptionTable, AVerbKeepsTheLastValueOfTheOptionsItTakes) {
    static constexpr OptionRow kOther = Switch("--other");
    static constexpr const OptionRow* kMore[] = {&kFile, &kName, &kForce, &kOther};
    const std::vector<std::string> words = {"--file", "a", "--other", "--file=b", "-f"};
    ParsedLine line;
    ASSERT_EQ(ParseLine(Grammar{kMore}, words, &line), "");
    Arguments args;
    Fill(kTakes, line, &args);
    EXPECT_EQ(args.file, "b");
    EXPECT_FALSE(args.name.has_value());
    EXPECT_TRUE(args.force);
    EXPECT_TRUE(Takes(kTakes, kName));
    EXPECT_FALSE(Takes(kTakes, kOther));
}

TEST(OptionTable, HelpLinesAlignTheNamesOfTheOptionsThatHaveOne) {
    EXPECT_EQ(OptionHelpLines(kOptions), "  -f, --force    Replace it.\n");
}

}  // namespace
}  // namespace qv::cli
