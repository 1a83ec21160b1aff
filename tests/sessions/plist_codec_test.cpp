#include "sessions/plist_codec.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace qv::plist {
namespace {

using platform::WriteStep;
using Limits = std::numeric_limits<std::int64_t>;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Seconds since 1970 of the first and the last second that a property-list date can hold.
constexpr double kYear1 = -62135596800.0, kLast9999 = 253402300799.0;

Data Bytes(std::size_t n) {
    Data d(n);
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return d;
}

std::string Xml(const Value& v) {
    std::string xml, error;
    EXPECT_TRUE(ToXml(v, &xml, &error)) << error;
    return xml;
}

long Entries(const std::string& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

TEST(PlistCodec, EveryTypeAndEdgeValueSurvivesAnXmlRoundTrip) {
    const struct {
        const char* name;
        Value value;
        std::optional<Value> readBack = std::nullopt;  // when not the value itself
    } cases[] = {
        {"text that needs care",
         Array{"", "a\rb\r\nc\r", "&<>\"' &amp; <![CDATA[x]]> ]]>", "  \tin\n\n  trail  ",
               "caf\u00e9 \u65e5 \U0001F389\U0010FFFF\uE000"}},
        {"integers", Array{0, -1, std::int64_t{1} << 32, Limits::min(), Limits::max()}},
        {"reals", Array{0.1, 123456789.123456789, std::numeric_limits<double>::max(),
                        std::numeric_limits<double>::denorm_min(), kInf, -kInf}},
        {"negative zero keeps its sign", -0.0},
        {"not a number", kNaN},
        {"a real with an integral value stays real", 3.0},
        {"booleans", Array{true, false}},
        {"dates from the year 1 to 9999",
         Array{Date{kYear1}, Date{-1}, Date{1709210096} /* 2024-02-29 */, Date{kLast9999}}},
        {"date fractions are dropped, rounding down", Array{Date{1.75}, Date{-0.5}},
         Array{Date{1}, Date{-1}}},
        {"data",
         Array{Data{}, Data{0xFF}, Data{0, 0x80}, Data{0xFB, 0xEF, 0xBE}, Bytes(51), Bytes(100)}},
        {"empty containers", Array{Array{}, Dict{}}},
        {"nested", Array{Array{Array{1, "x"}}, Dict{{"d", Dict{{"l", Array{Dict{}}}}}}}},
        {"keys that need care", Dict{{"", 1}, {"&<>", 2}, {"r\rn\n", 3}, {"\u00e9", 4}}},
    };
    const auto wrap = [](const Value& v) { return Value(Dict{{"k", Array{v}}}); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Value want = c.readBack.value_or(c.value);
        // Alone and wrapped in containers.
        for (const auto& [written, expected] :
             {std::pair{c.value, want}, std::pair{wrap(c.value), wrap(want)}}) {
            std::string error;
            auto back = Parse(Xml(written), &error);
            ASSERT_TRUE(back.has_value()) << error << "\n" << Xml(written);
            // The bytes tell -0 from 0; NaN is not equal to itself, so only its bytes compare.
            EXPECT_EQ(Xml(*back), Xml(expected));
            EXPECT_TRUE(*back == expected || !(expected == expected)) << Xml(*back);
        }
    }
}

TEST(PlistCodec, OutputBytesAreFixedWhateverTheOrderKeysWereSetIn) {
    const std::pair<const char*, Value> entries[] = {{"\u00e9", true},
                                                     {"a", Array{true, "x<y"}},
                                                     {"B", Dict{{"z", 1}, {"y", 2}}},
                                                     {"c", Data{1, 2, 3}},
                                                     {"", Dict{}},
                                                     {"w", Date{978307200}}};
    Value forward, backward;
    for (const auto& [k, v] : entries) forward.set(k, v);
    for (auto it = std::rbegin(entries); it != std::rend(entries); ++it) {
        backward.set(it->first, it->second);
    }
    // Keys in byte order, tabs, an empty dictionary as <dict/>: a rewrite changes nothing.
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n"
        "\t<key></key>\n\t<dict/>\n"
        "\t<key>B</key>\n\t<dict>\n\t\t<key>y</key>\n\t\t<integer>2</integer>\n"
        "\t\t<key>z</key>\n\t\t<integer>1</integer>\n\t</dict>\n"
        "\t<key>a</key>\n\t<array>\n\t\t<true/>\n\t\t<string>x&lt;y</string>\n\t</array>\n"
        "\t<key>c</key>\n\t<data>\n\tAQID\n\t</data>\n"
        "\t<key>w</key>\n\t<date>2001-01-01T00:00:00Z</date>\n"
        "\t<key>\u00e9</key>\n\t<true/>\n"
        "</dict>\n</plist>\n";
    EXPECT_EQ(Xml(forward), expected);
    EXPECT_EQ(Xml(backward), expected);
    EXPECT_EQ(Xml(*Parse(expected, nullptr)), expected);
}

TEST(PlistCodec, ToXmlRefusesWhatAPropertyListCannotCarry) {
    const struct {
        const char* name;
        Value value;
        const char* reasonMentions;
    } cases[] = {
        {"lone continuation byte", "abc\x80", "UTF-8"},
        {"sequence cut short", "caf\xC3", "UTF-8"},
        {"overlong NUL", "\xE0\x80\x80", "UTF-8"},
        {"surrogate half", "\xED\xA0\x80", "UTF-8"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "UTF-8"},
        {"key that is not UTF-8", Dict{{"\xFE", 1}}, "UTF-8"},
        {"control character", "a\x01z", "control"},
        {"NUL inside a string", Value(std::string("a\0b", 3)), "control"},
        {"U+FFFE", "\xEF\xBF\xBE", "control"},
        {"deep in an array", Array{1, Array{"ok", "bad\x02"}}, "control"},
        {"in a key", Dict{{"good", 1}, {"k\x01", 2}}, "control"},
        {"date before the year 1", Date{kYear1 - 1}, "date"},
        {"date after 9999", Date{kLast9999 + 1}, "date"},
        {"date that is not a number", Date{kNaN}, "date"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "untouched", error;
        EXPECT_FALSE(ToXml(c.value, &out, &error));
        EXPECT_TRUE(test::Contains(error, c.reasonMentions));
        EXPECT_EQ(out, "untouched");
    }
}

// ---- Writing files ----

// Big enough to take many writes when writes are short.
const Value kDoc = Dict{{"name", "new"}, {"text", std::string(3000, 'q')}, {"list", Array{1, 2}}};

// Both formats accept the same depth: a value read from one can be written to and read from
// the other.
TEST(PlistCodec, BothFormatsAcceptTheSameDepth) {
    for (int arrays : {kMaxNestingDepth, kMaxNestingDepth + 1}) {
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
        for (int i = 0; i < arrays; ++i) xml += "<array>";
        xml += "<string>x</string>";
        for (int i = 0; i < arrays; ++i) xml += "</array>";
        xml += "</plist>\n";
        std::string error;
        const std::optional<Value> value = Parse(xml, &error);
        EXPECT_EQ(value.has_value(), arrays == kMaxNestingDepth) << arrays << ": " << error;
        if (!value) continue;
        const std::optional<Value> again = Parse(Xml(*value), &error);
        ASSERT_TRUE(again) << error;
        EXPECT_EQ(*again, *value);
    }
}

// A binary property list of one dictionary: the keys k0 to k<n-1> with the text "v", then k0
// once more with the text "w".
std::string BinaryWithARepeatedKey(std::size_t n) {
    const auto bigEndian = [](std::size_t v, int width) {
        std::string s;
        for (int i = width - 1; i >= 0; --i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return s;
    };
    // Objects: 0 the dictionary, 1 to n the keys, n + 1 "v", n + 2 "w".
    std::string bytes = "bplist00";
    std::vector<std::size_t> offsets{bytes.size()};
    bytes += "\xDF\x11" + bigEndian(n + 1, 2);
    for (std::size_t i = 0; i < n; ++i) bytes += bigEndian(1 + i, 2);
    bytes += bigEndian(1, 2);
    for (std::size_t i = 0; i < n; ++i) bytes += bigEndian(n + 1, 2);
    bytes += bigEndian(n + 2, 2);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string key = "k" + std::to_string(i);
        offsets.push_back(bytes.size());
        bytes += static_cast<char>(0x50 | key.size());
        bytes += key;
    }
    for (const char* text : {"\x51v", "\x51w"}) {
        offsets.push_back(bytes.size());
        bytes += text;
    }
    const std::size_t table = bytes.size();
    for (std::size_t off : offsets) bytes += bigEndian(off, 4);
    std::string trailer(6, '\0');
    trailer += "\x04\x02" + bigEndian(offsets.size(), 8) + bigEndian(0, 8) + bigEndian(table, 8);
    return bytes + trailer;
}

// A binary property list of the given objects (object 0 the top one), with one-byte
// references and offsets.
std::string SmallBinary(const std::vector<std::string>& objects) {
    std::string bytes = "bplist00", table;
    for (const std::string& object : objects) {
        table += static_cast<char>(bytes.size());
        bytes += object;
    }
    const auto eight = [](std::size_t v) {
        std::string s(7, '\0');
        return s + static_cast<char>(v);
    };
    const std::size_t tableOffset = bytes.size();
    return bytes + table + std::string(6, '\0') + "\x01\x01" + eight(objects.size()) + eight(0) +
           eight(tableOffset);
}

TEST(PlistCodec, DamagedBinaryDocumentsAreRefusedWithTheirReason) {
    const struct {
        const char* what;
        std::vector<std::string> objects;
        const char* error;
    } cases[] = {
        {"an array holding itself",
         {std::string("\xA1\x00", 2)},
         "damaged binary property list (an object contains itself)"},
        {"a reference far past the objects", {"\xA1\xFF", "\x09"}, "damaged binary property list"},
        {"a text with a NUL",
         {std::string("\x51\x00", 2)},
         "damaged binary property list (a text holds a NUL character)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(Parse(SmallBinary(c.objects), &error));
        EXPECT_EQ(error, c.error);
    }
}

TEST(PlistCodec, ARepeatedKeyTakesItsLastValueWhateverTheDictionarySize) {
    for (std::size_t n : {1, 10, 1000, 5000}) {
        std::string error;
        const std::optional<Value> value = Parse(BinaryWithARepeatedKey(n), &error);
        ASSERT_TRUE(value) << n << ": " << error;
        ASSERT_TRUE(value->isDict()) << n;
        EXPECT_EQ(value->dict().size(), n) << n;
        EXPECT_EQ(value->stringAt("k0"), "w") << n;
        EXPECT_EQ(value->stringAt("k" + std::to_string(n - 1)), n == 1 ? "w" : "v") << n;
    }
}

TEST(PlistCodec, LargeContainersReadBackWhole) {
    for (std::size_t n : {4095, 4096, 4097, 10000}) {
        Array items;
        Dict entries;
        for (std::size_t i = 0; i < n; ++i) {
            items.emplace_back(Array{static_cast<std::int64_t>(i), Dict{{"i", std::to_string(i)}}});
            entries.emplace("key " + std::to_string(i), Dict{{"i", static_cast<std::int64_t>(i)}});
        }
        const Value v = Dict{{"array", std::move(items)}, {"dict", std::move(entries)}};
        std::string error;
        const std::optional<Value> back = Parse(Xml(v), &error);
        ASSERT_TRUE(back) << n << ": " << error;
        EXPECT_EQ(*back, v) << n;
    }
}

TEST(PlistWrite, AFailedStepLeavesTheOldFileAndNoTemporaryFile) {
    using test::Sys;
    constexpr std::size_t kAll = static_cast<std::size_t>(-1);
    const struct {
        const char* name;
        std::vector<test::Fault> faults;
        std::size_t maxWrite;
        WriteStep failedAt;  // None with err 0: the write succeeds
        int err;
        Value doc = kDoc;
    } cases[] = {
        {"no temporary file", {{Sys::mkstemp, EMFILE}}, kAll, WriteStep::Create, EMFILE},
        {"mode refused", {{Sys::fchmod, EPERM}}, kAll, WriteStep::Mode, EPERM},
        {"disk full", {{Sys::write, ENOSPC}}, kAll, WriteStep::Write, ENOSPC},
        {"disk full after two short writes",
         {{Sys::write, ENOSPC, "", 2}},
         16,
         WriteStep::Write,
         ENOSPC},
        {"flush fails", {{Sys::fsync, EIO}}, kAll, WriteStep::Flush, EIO},
        {"rename refused", {{Sys::rename, EACCES}}, kAll, WriteStep::Rename, EACCES},
        {"value not writable", {}, kAll, WriteStep::None, 0, Dict{{"name", "bad\x01"}}},
        {"short writes only", {}, 7, WriteStep::None, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool succeeds = c.failedAt == WriteStep::None && c.doc == kDoc;
        test::TempDir dir;
        const std::string target = dir / "doc.plist";
        test::WriteText(target, "old bytes");
        test::FaultyFileSystem calls(c.faults);
        calls.maxWrite = c.maxWrite;
        platform::WriteResult result;
        {
            platform::ScopedFileSystem scoped(calls);
            result = WriteXmlFile(target, c.doc);
        }
        EXPECT_EQ(result.ok, succeeds) << result.reason;
        EXPECT_EQ(result.failedAt, c.failedAt);
        EXPECT_TRUE(c.err == 0 || result.reason.find(std::strerror(c.err)) != std::string::npos)
            << result.reason;
        EXPECT_EQ(test::ReadText(target), succeeds ? Xml(kDoc) : "old bytes");
        EXPECT_EQ(Entries(dir.path()), 1);  // no temporary file is left
    }
}

TEST(PlistWrite, ASymbolicLinkStaysALinkAndItsFileGetsTheNewBytes) {
    for (const bool dangling : {false, true}) {
        SCOPED_TRACE(dangling ? "dangling link" : "link to a file in another folder");
        test::TempDir dir;
        std::filesystem::create_directories(dir / "links");
        std::filesystem::create_directories(dir / "data");
        if (!dangling) test::WriteText(dir / "data/real.plist", "old bytes");
        const std::string link = dir / "links/doc.plist";
        ASSERT_EQ(::symlink("../data/real.plist", link.c_str()), 0);
        const auto result = WriteXmlFile(link, kDoc);
        ASSERT_TRUE(result.ok) << result.reason;
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), "../data/real.plist");
        EXPECT_EQ(test::ReadText(dir / "data/real.plist"), Xml(kDoc));
        EXPECT_EQ(Entries(dir / "links"), 1);
    }
}

TEST(PlistWrite, ModeIsKeptUnlessOneIsAsked) {
    const struct {
        std::optional<mode_t> existingMode;  // nullopt: no file yet
        std::optional<mode_t> requested;
        mode_t umask, expected;
    } cases[] = {
        {0600, std::nullopt, 022, 0600}, {0604, std::nullopt, 077, 0604},
        {0644, 0700, 022, 0700},         {std::nullopt, 0700, 077, 0700},
        {std::nullopt, 0666, 077, 0666}, {std::nullopt, std::nullopt, 027, 0640},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.existingMode.value_or(0) << " "
                                        << c.requested.value_or(0) << " " << c.umask);
        test::TempDir dir;
        const std::string target = dir / "doc.plist";
        if (c.existingMode) {
            test::WriteText(target, "old bytes");
            ASSERT_EQ(::chmod(target.c_str(), *c.existingMode), 0);
        }
        const mode_t oldUmask = ::umask(c.umask);
        const auto result = WriteXmlFile(target, kDoc, platform::AtomicWriteOptions{c.requested});
        ::umask(oldUmask);
        ASSERT_TRUE(result.ok) << result.reason;
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.expected);
    }
}

}  // namespace
}  // namespace qv::plist
