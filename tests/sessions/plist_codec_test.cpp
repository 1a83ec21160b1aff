#include "sessions/plist_codec.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/syscalls.h"
#include "support/test_support.h"

namespace qv::plist {
namespace {

using platform::WriteStep;

// Seconds since 1970 of a UTC calendar time.
Date At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return Date{static_cast<double>(::timegm(&tm))};
}

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

std::optional<Value> RoundTrip(const Value& v) {
    std::string xml, error;
    if (!ToXml(v, &xml, &error)) {
        ADD_FAILURE() << "ToXml failed: " << error;
        return std::nullopt;
    }
    auto back = Parse(xml, &error);
    if (!back) ADD_FAILURE() << "Parse failed: " << error << "\n" << xml;
    return back;
}

// The names in a folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// ---- Values ----

TEST(PlistCodec, EveryTypeSurvivesAnXmlRoundTrip) {
    const struct {
        const char* name;
        Value value;
    } cases[] = {
        {"empty string", ""},
        {"carriage return alone and before a line feed", "a\rb\r\nc\r"},
        {"markup characters", "&<>\"' &amp; <![CDATA[x]]> ]]>"},
        {"tab, line feed and spaces kept", "  \tindented\n\n  trailing  "},
        {"two, three and four byte characters", "caf\u00e9 \u65e5\u672c \U0001F389"},
        {"highest code point and private use", "\U0010FFFF\uE000\uFFFD\x7F"},
        {"zero", 0},
        {"minus one", -1},
        {"above 32 bits", std::int64_t{4294967296}},
        {"int64 min", std::numeric_limits<std::int64_t>::min()},
        {"int64 max", std::numeric_limits<std::int64_t>::max()},
        {"int64 min plus one", std::numeric_limits<std::int64_t>::min() + 1},
        {"one tenth", 0.1},
        {"negative fraction", -2.5},
        {"many digits", 123456789.123456789},
        {"large", 1e300},
        {"largest", std::numeric_limits<double>::max()},
        {"small", -1e-300},
        {"smallest subnormal", std::numeric_limits<double>::denorm_min()},
        {"plus infinity", std::numeric_limits<double>::infinity()},
        {"minus infinity", -std::numeric_limits<double>::infinity()},
        {"a real with an integral value stays real", 3.0},
        {"true", true},
        {"false", false},
        {"date: the year 1", At(1, 1, 1)},
        {"date: 1900", At(1900, 1, 1)},
        {"date: a second before 1970", At(1969, 12, 31, 23, 59, 59)},
        {"date: 1970", At(1970, 1, 1)},
        {"date: 2001, the reference date", At(2001, 1, 1)},
        {"date: a leap day", At(2024, 2, 29, 12, 34, 56)},
        {"date: after 2068", At(2100, 6, 1, 0, 0, 1)},
        {"date: the last second of 9999", At(9999, 12, 31, 23, 59, 59)},
        {"data: 0 bytes", Data{}},
        {"data: 1 byte", Data{0xFF}},
        {"data: 2 bytes", Data{0x00, 0x80}},
        {"data: 3 bytes", Data{0xFB, 0xEF, 0xBE}},
        {"data: 51 bytes, one full line", Bytes(51)},
        {"data: 100 bytes", Bytes(100)},
        {"empty array", Array{}},
        {"empty dictionary", Dict{}},
        {"nested arrays", Array{Array{}, Array{Array{1, "x"}}, Dict{}}},
        {"mixed array", Array{"s", 1, 2.5, true, At(2020, 1, 2), Data{1, 2}, Array{}, Dict{}}},
        {"dictionary keys that need care",
         Dict{{"", 1}, {"&<>", 2}, {"r\rn\n", 3}, {"\u00e9t\u00e9", 4}, {"B", 5}, {"a", 6}}},
        {"nested dictionaries",
         Dict{{"outer", Dict{{"inner", Dict{{"list", Array{Dict{}, Array{}}}}}}},
              {"empty", Dict{}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto back = RoundTrip(c.value);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->type(), c.value.type());
        EXPECT_TRUE(*back == c.value) << Xml(c.value);
        // Wrapped in containers, the value still comes back the same.
        const Value wrapped = Dict{{"k", Array{c.value}}};
        auto backWrapped = RoundTrip(wrapped);
        ASSERT_TRUE(backWrapped.has_value());
        EXPECT_TRUE(*backWrapped == wrapped);
    }
}

TEST(PlistCodec, RealsKeepTheSignOfZeroAndNotANumber) {
    auto negativeZero = RoundTrip(Value(-0.0));
    ASSERT_TRUE(negativeZero && negativeZero->isReal());
    EXPECT_TRUE(std::signbit(negativeZero->realValue()));
    auto positiveZero = RoundTrip(Value(0.0));
    ASSERT_TRUE(positiveZero && positiveZero->isReal());
    EXPECT_FALSE(std::signbit(positiveZero->realValue()));
    auto nan = RoundTrip(Value(std::numeric_limits<double>::quiet_NaN()));
    ASSERT_TRUE(nan && nan->isReal());
    EXPECT_TRUE(std::isnan(nan->realValue()));
}

TEST(PlistCodec, DatesAreWrittenInWholeSecondsWithFourDigitYears) {
    const struct {
        double seconds;
        const char* text;
        double readBack;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z", 0},
        {1.75, "1970-01-01T00:00:01Z", 1},
        {-0.5, "1969-12-31T23:59:59Z", -1},  // rounded down, not towards zero
        {-2208988800.0, "1900-01-01T00:00:00Z", -2208988800.0},
        {978307200.0, "2001-01-01T00:00:00Z", 978307200.0},
        {4102444800.0, "2100-01-01T00:00:00Z", 4102444800.0},
        {At(1, 1, 1).seconds, "0001-01-01T00:00:00Z", At(1, 1, 1).seconds},
        {At(999, 7, 4, 1, 2, 3).seconds, "0999-07-04T01:02:03Z", At(999, 7, 4, 1, 2, 3).seconds},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string xml = Xml(Value(Date{c.seconds}));
        EXPECT_NE(xml.find(std::string("<date>") + c.text + "</date>"), std::string::npos) << xml;
        auto back = Parse(xml, nullptr);
        ASSERT_TRUE(back && back->isDate());
        EXPECT_EQ(back->date().seconds, c.readBack);
    }
}

TEST(PlistCodec, EqualValuesSerialiseToIdenticalBytes) {
    Value forward;
    forward.set("zeta", 1);
    forward.set("alpha", Array{"x", Dict{{"b", 2}, {"a", 1}}});
    forward.set("Mid", Data{1, 2, 3});
    forward.set("\u00e9", true);
    forward.set("", At(2022, 3, 4));

    Value backward;
    backward.set("", At(2022, 3, 4));
    backward.set("\u00e9", true);
    backward.set("Mid", Data{1, 2, 3});
    Value inner;
    inner.set("a", 1);
    inner.set("b", 2);
    backward.set("alpha", Array{"x", inner});
    backward.set("zeta", 1);

    const std::string a = Xml(forward);
    EXPECT_EQ(a, Xml(backward));
    EXPECT_EQ(a, Xml(forward));  // and again
    // Reading the text back and writing it again changes nothing.
    auto back = Parse(a, nullptr);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(Xml(*back), a);
    // Keys appear in byte order, whatever order they were set in.
    const auto at = [&](const std::string& key) { return a.find("<key>" + key + "</key>"); };
    EXPECT_LT(at(""), at("Mid"));
    EXPECT_LT(at("Mid"), at("alpha"));
    EXPECT_LT(at("alpha"), at("zeta"));
    EXPECT_LT(at("zeta"), at("\u00e9"));
    EXPECT_LT(a.find("<key>a</key>"), a.find("<key>b</key>"));
}

TEST(PlistCodec, OutputKeepsItsLayoutSoRewrittenDocumentsDoNotChurn) {
    const Value v = Dict{{"b", 1}, {"a", Array{true, "x<y"}}, {"c", Data{1, 2, 3}}, {"e", Dict{}}};
    EXPECT_EQ(Xml(v),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>a</key>\n"
              "\t<array>\n"
              "\t\t<true/>\n"
              "\t\t<string>x&lt;y</string>\n"
              "\t</array>\n"
              "\t<key>b</key>\n"
              "\t<integer>1</integer>\n"
              "\t<key>c</key>\n"
              "\t<data>\n"
              "\tAQID\n"
              "\t</data>\n"
              "\t<key>e</key>\n"
              "\t<dict/>\n"
              "</dict>\n"
              "</plist>\n");
}

TEST(PlistCodec, ToXmlRefusesWhatAPropertyListCannotCarry) {
    const struct {
        const char* name;
        Value value;
        const char* reasonMentions;
    } cases[] = {
        {"lone continuation byte", "abc\x80", "UTF-8"},
        {"byte 0xFF", "\xFF", "UTF-8"},
        {"sequence cut short", "caf\xC3", "UTF-8"},
        {"sequence cut short before ASCII", "\xE6\x97x", "UTF-8"},
        {"overlong slash", "\xC0\xAF", "UTF-8"},
        {"overlong NUL", "\xE0\x80\x80", "UTF-8"},
        {"surrogate half", "\xED\xA0\x80", "UTF-8"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "UTF-8"},
        {"control character 0x01", "a\x01z", "control"},
        {"control character 0x1F", "\x1F", "control"},
        {"NUL inside a string", Value(std::string("a\0b", 3)), "control"},
        {"U+FFFE", "\xEF\xBF\xBE", "control"},
        {"U+FFFF", "\xEF\xBF\xBF", "control"},
        {"bad text deep in an array", Array{1, Array{"ok", "bad\x02"}}, "control"},
        {"bad dictionary key", Dict{{"good", 1}, {"k\x01", 2}}, "control"},
        {"key that is not UTF-8", Dict{{"\xFE", 1}}, "UTF-8"},
        {"bad value in a nested dictionary", Dict{{"a", Dict{{"b", "\xC3("}}}}, "UTF-8"},
        {"date before the year 1", Date{At(1, 1, 1).seconds - 1}, "date"},
        {"date after 9999", Date{At(9999, 12, 31, 23, 59, 59).seconds + 1}, "date"},
        {"date that is not a number", Date{std::numeric_limits<double>::quiet_NaN()}, "date"},
        {"date at infinity", Date{std::numeric_limits<double>::infinity()}, "date"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "untouched", error;
        EXPECT_FALSE(ToXml(c.value, &out, &error));
        EXPECT_NE(error.find(c.reasonMentions), std::string::npos) << error;
        EXPECT_EQ(out, "untouched");
    }
}

// The committed seeds hold the same document in both formats (written by plistlib).
TEST(PlistCodec, ReadsBinaryPropertyListsLikeTheirXmlTwins) {
    const std::string folder = std::string(QV_TEST_DATA_DIR) + "/good_plists/";
    auto xml = ReadFile(folder + "all_types.plist");
    auto bin = ReadFile(folder + "all_types.bplist");
    ASSERT_TRUE(xml.value.has_value()) << xml.reason;
    ASSERT_TRUE(bin.value.has_value()) << bin.reason;
    EXPECT_EQ(bin.failure, ReadFailure::None);
    EXPECT_TRUE(*xml.value == *bin.value);

    const Value expected = Dict{
        {"name", "Documents backup"},
        {"count", 42},
        {"ratio", 0.25},
        {"enabled", true},
        {"when", At(2023, 5, 17, 8, 30, 0)},
        {"blob", Data{0, 1, 2, 'q', 'u', 'o', 'r', 'v', 'e', 'l'}},
        {"list", Array{1, "two", Array{3.5, false}, Dict{}}},
    };
    EXPECT_TRUE(*bin.value == expected) << Xml(*bin.value);

    auto nested = ReadFile(folder + "nested.bplist");
    ASSERT_TRUE(nested.value.has_value()) << nested.reason;
    const Value expectedNested = Dict{
        {"a", Array{Array{Array{Dict{{"b", Array{Array{}, Dict{}}}}}}}},
        {"z", Array{-1, std::numeric_limits<std::int64_t>::min(),
                    std::numeric_limits<std::int64_t>::max()}},
    };
    EXPECT_TRUE(*nested.value == expectedNested) << Xml(*nested.value);
}

// ---- Writing files ----

// System calls that fail on command; everything else goes to the kernel.
class FailingSysCalls : public platform::SysCalls {
  public:
    int failMkstempWith = 0;
    int failWriteOnCall = 0;  // 1 = the first write
    std::size_t maxWriteChunk = std::numeric_limits<std::size_t>::max();
    int failFchmodWith = 0;
    int failFsyncWith = 0;
    int failRenameWith = 0;
    int writeCalls = 0;
    bool failed = false;  // whether the planned failure was reached

    int mkstemp(char* pathTemplate) override {
        if (failMkstempWith != 0) return Fail(failMkstempWith);
        return SysCalls::mkstemp(pathTemplate);
    }
    ssize_t write(int fd, const void* buf, std::size_t count) override {
        if (++writeCalls == failWriteOnCall) return Fail(ENOSPC);
        return SysCalls::write(fd, buf, std::min(count, maxWriteChunk));
    }
    int fchmod(int fd, mode_t mode) override {
        if (failFchmodWith != 0) return Fail(failFchmodWith);
        return SysCalls::fchmod(fd, mode);
    }
    int fsync(int fd) override {
        if (failFsyncWith != 0) return Fail(failFsyncWith);
        return SysCalls::fsync(fd);
    }
    int rename(const char* from, const char* to) override {
        if (failRenameWith != 0) return Fail(failRenameWith);
        return SysCalls::rename(from, to);
    }

  private:
    int Fail(int err) {
        failed = true;
        errno = err;
        return -1;
    }
};

// A document big enough to take several writes when writes are short.
Value SampleDocument() {
    return Dict{{"name", "new"}, {"text", std::string(3000, 'q')}, {"list", Array{1, 2, 3}}};
}

TEST(PlistWrite, AFailedStepLeavesTheOldFileAndNoTemporaryFile) {
    const struct {
        const char* name;
        std::function<void(FailingSysCalls&)> arrange;
        WriteStep failedAt;
        int err;
    } cases[] = {
        {"no temporary file can be made", [](auto& s) { s.failMkstempWith = EMFILE; },
         WriteStep::Create, EMFILE},
        {"mode refused", [](auto& s) { s.failFchmodWith = EPERM; }, WriteStep::Mode, EPERM},
        {"disk full on the first write", [](auto& s) { s.failWriteOnCall = 1; }, WriteStep::Write,
         ENOSPC},
        {"disk full on the third write, after two short ones",
         [](auto& s) {
             s.maxWriteChunk = 16;
             s.failWriteOnCall = 3;
         },
         WriteStep::Write, ENOSPC},
        {"flush fails", [](auto& s) { s.failFsyncWith = EIO; }, WriteStep::Flush, EIO},
        {"rename refused", [](auto& s) { s.failRenameWith = EACCES; }, WriteStep::Rename, EACCES},
    };
    for (const auto& c : cases) {
        for (const bool existing : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (existing ? ", replacing a file" : ", new file"));
            test::TempDir dir;
            const std::string target = dir / "doc.plist";
            if (existing) test::WriteText(target, "old bytes");
            FailingSysCalls calls;
            c.arrange(calls);
            platform::WriteResult result;
            {
                platform::ScopedSysCalls scoped(calls);
                result = WriteXmlFile(target, SampleDocument());
            }
            EXPECT_TRUE(calls.failed);
            EXPECT_FALSE(result.ok);
            EXPECT_EQ(result.failedAt, c.failedAt);
            EXPECT_NE(result.reason.find(std::strerror(c.err)), std::string::npos) << result.reason;
            if (existing) {
                EXPECT_EQ(test::ReadText(target), "old bytes");
                EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"doc.plist"});
            } else {
                EXPECT_EQ(Names(dir.path()), std::vector<std::string>{});
            }
        }
    }
}

TEST(PlistWrite, ShortWritesStillProduceTheWholeDocument) {
    test::TempDir dir;
    const std::string target = dir / "doc.plist";
    test::WriteText(target, "old bytes");
    FailingSysCalls calls;
    calls.maxWriteChunk = 7;
    platform::WriteResult result;
    {
        platform::ScopedSysCalls scoped(calls);
        result = WriteXmlFile(target, SampleDocument());
    }
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_GT(calls.writeCalls, 100);
    EXPECT_EQ(test::ReadText(target), Xml(SampleDocument()));
    auto back = ReadFile(target);
    ASSERT_TRUE(back.value.has_value()) << back.reason;
    EXPECT_TRUE(*back.value == SampleDocument());
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"doc.plist"});
}

TEST(PlistWrite, AValueThatCannotBeWrittenLeavesTheFileAlone) {
    test::TempDir dir;
    const std::string target = dir / "doc.plist";
    test::WriteText(target, "old bytes");
    const auto result = WriteXmlFile(target, Dict{{"name", "bad\x01"}});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failedAt, WriteStep::None);
    EXPECT_FALSE(result.reason.empty());
    EXPECT_EQ(test::ReadText(target), "old bytes");
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"doc.plist"});
}

TEST(PlistWrite, ASymbolicLinkStaysALinkAndItsFileGetsTheNewBytes) {
    const struct {
        const char* name;
        const char* linkText;  // relative to the link's folder unless absolute
        const char* realFile;  // where the bytes must land, relative to the test folder
        bool realFileExists;
    } cases[] = {
        {"link to a file beside it", "real.plist", "links/real.plist", true},
        {"link into another folder", "../data/real.plist", "data/real.plist", true},
        {"absolute link", "@/data/real.plist", "data/real.plist", true},
        {"dangling link", "../data/new.plist", "data/new.plist", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        std::filesystem::create_directories(dir / "links");
        std::filesystem::create_directories(dir / "data");
        const std::string real = dir / c.realFile;
        if (c.realFileExists) test::WriteText(real, "old bytes");
        std::string linkText = c.linkText;
        if (linkText[0] == '@') linkText = dir.path() + linkText.substr(1);
        const std::string link = dir / "links/doc.plist";
        ASSERT_EQ(::symlink(linkText.c_str(), link.c_str()), 0);

        const auto result = WriteXmlFile(link, SampleDocument());
        ASSERT_TRUE(result.ok) << result.reason;

        struct stat st {};
        ASSERT_EQ(::lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), linkText);
        EXPECT_EQ(test::ReadText(real), Xml(SampleDocument()));
        // No temporary file is left beside the link or beside the real file.
        for (const char* folder : {"links", "data"}) {
            for (const auto& name : Names(dir / folder)) {
                EXPECT_EQ(name.find(".qvtmp-"), std::string::npos) << folder << "/" << name;
            }
        }
    }
}

TEST(PlistWrite, ModeIsKeptUnlessOneIsAsked) {
    const struct {
        const char* name;
        std::optional<mode_t> existingMode;  // nullopt: no file yet
        std::optional<mode_t> requested;
        mode_t umask;
        mode_t expected;
    } cases[] = {
        {"private file stays private", 0600, std::nullopt, 022, 0600},
        {"group-readable file stays so", 0640, std::nullopt, 077, 0640},
        {"unusual mode is kept", 0604, std::nullopt, 022, 0604},
        {"requested 0700 replaces 0644", 0644, 0700, 022, 0700},
        {"requested 0700 on a new file", std::nullopt, 0700, 022, 0700},
        {"requested mode ignores the umask", std::nullopt, 0666, 077, 0666},
        {"new file follows the umask 022", std::nullopt, std::nullopt, 022, 0644},
        {"new file follows the umask 027", std::nullopt, std::nullopt, 027, 0640},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string target = dir / "doc.plist";
        if (c.existingMode) {
            test::WriteText(target, "old bytes");
            ASSERT_EQ(::chmod(target.c_str(), *c.existingMode), 0);
        }
        const mode_t oldUmask = ::umask(c.umask);
        platform::AtomicWriteOptions options;
        options.mode = c.requested;
        const auto result = WriteXmlFile(target, SampleDocument(), options);
        ::umask(oldUmask);
        ASSERT_TRUE(result.ok) << result.reason;
        EXPECT_EQ(ModeOf(target), c.expected);
        EXPECT_EQ(test::ReadText(target), Xml(SampleDocument()));
    }
}

}  // namespace
}  // namespace qv::plist
