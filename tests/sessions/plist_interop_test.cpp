// Interoperability with Python's plistlib: what Quorvel writes, plistlib reads with the same
// types and values, and what plistlib writes (XML or binary), Quorvel reads.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "sessions/plist_codec.h"
#include "support/test_support.h"

namespace qv::plist {
namespace {

std::string Xml(const Value& v) {
    std::string xml, error;
    EXPECT_TRUE(ToXml(v, &xml, &error)) << error;
    return xml;
}

// The type of every value, depth first, dictionaries in key order: s i r b t d [ ] { }.
std::string Types(const Value& v) {
    std::string out;
    if (v.isArray() || v.isDict()) {
        out += v.isArray() ? "[" : "{";
        if (v.isArray()) {
            for (const auto& item : v.array()) out += Types(item);
        } else {
            for (const auto& [key, item] : v.dict()) out += Types(item);
        }
        return out + (v.isArray() ? "]" : "}");
    }
    return std::string(1, "sirbtd"[static_cast<int>(v.type())]);
}

// Reads ours.plist, prints the types it found as Types() does, and writes what it read back as
// XML and binary; with a shared array and dates holding fractions of a second added.
constexpr const char* kScript = R"PY(
import datetime, plistlib, sys
def types(v):
    if isinstance(v, list):
        return "[" + "".join(types(i) for i in v) + "]"
    if isinstance(v, dict):
        return "{" + "".join(types(v[k]) for k in sorted(v)) + "}"
    return {str: "s", int: "i", float: "r", bool: "b", datetime.datetime: "t", bytes: "d"}[type(v)]
with open(sys.argv[1] + "/ours.plist", "rb") as f:
    doc = plistlib.load(f, fmt=plistlib.FMT_XML)
print(types(doc))
doc["shared_b"] = doc["shared_a"]
doc["date_fraction"] = datetime.datetime(2024, 2, 29, 12, 34, 56, 250000)
doc["date_fraction_before_1970"] = datetime.datetime(1969, 12, 31, 23, 59, 58, 500000)
for name, fmt in (("theirs.plist", plistlib.FMT_XML), ("theirs.bplist", plistlib.FMT_BINARY)):
    with open(sys.argv[1] + "/" + name, "wb") as f:
        plistlib.dump(doc, f, fmt=fmt)
)PY";

Value EveryTypeDocument() {
    using L = std::numeric_limits<std::int64_t>;
    Array many;
    for (int i = 0; i < 300; ++i) many.push_back("item" + std::to_string(i));
    const auto bytes = [](std::size_t n) {
        Data d(n);
        for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(i * 37 + 11);
        return d;
    };
    return Dict{
        {"strings", Array{"Documents backup", "&<> \"quoted\" 'single' ]]>", "",
                          std::string(300, 'x'), "caf\u00e9 \u65e5\u672c \U0001F389"}},
        {"string_cr", "a\rb\r\nc\r"},
        {"integers", Array{0, 255, 256, 65536, std::int64_t{1} << 32, -42, L::min(), L::max()}},
        {"reals",
         Array{0.1, 1e300, std::numeric_limits<double>::denorm_min(), -2.5, 3.0, -0.0,
               std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}},
        {"booleans", Array{true, false}},
        {"dates", Array{Date{-62135596800}, Date{-2208988800}, Date{-1}, Date{1709210096},
                        Date{4102444800}, Date{253402300799}}},  // years 1, 1900 ... 2100, 9999
        {"data", Array{bytes(0), bytes(1), bytes(2), bytes(3), bytes(100), bytes(300)}},
        {"empty", Array{Array{}, Dict{}}},
        {"many", many},
        {"nested", Array{Array{1, Array{}}, Dict{{"k", Array{"v", Dict{}}}}}},
        {"key &<> \u00e9", true},
        {"shared_a", Array{1, "two"}},
        {"shared_b", Array{1, "two"}},
    };
}

TEST(PlistInterop, TypesAndValuesSurviveBothWaysThroughPlistlib) {
    ASSERT_EQ(test::RunCommand("python3 -c 'import plistlib' 2>&1"), 0)
        << "python3 with plistlib is needed for this test";
    test::TempDir dir;
    const Value doc = EveryTypeDocument();
    ASSERT_TRUE(WriteXmlFile(dir / "ours.plist", doc).ok);
    test::WriteText(dir / "check.py", kScript);
    std::string output;
    ASSERT_EQ(test::RunCommand("python3 " + test::ShellQuote(dir / "check.py") + " " +
                                   test::ShellQuote(dir.path()) + " 2>&1",
                               &output),
              0)
        << output;
    EXPECT_EQ(output, Types(doc) + "\n");  // a bool is not an int, an int is not a float

    const struct {
        const char* file;
        double fraction, fractionBefore1970;  // plistlib's XML dates drop the fraction
        const char* stringCr;  // its XML writer turns every carriage return into a line feed
    } cases[] = {
        {"theirs.plist", 0.0, 0.0, "a\nb\nc\n"},
        {"theirs.bplist", 0.25, 0.5, "a\rb\r\nc\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ReadResult r = ReadFile(dir / c.file);
        ASSERT_TRUE(r.value.has_value()) << r.reason;
        for (const auto& [key, seconds] :
             {std::pair{"date_fraction", 1709210096 + c.fraction},
              std::pair{"date_fraction_before_1970", -2 + c.fractionBefore1970}}) {
            const Value* date = r.value->find(key);
            ASSERT_TRUE(date != nullptr && date->isDate()) << key;
            EXPECT_EQ(date->date().seconds, seconds) << key;
            r.value->remove(key);
        }
        Value expected = doc;
        expected.set("string_cr", c.stringCr);
        // Equal bytes: equal types and values, the sign of zero and NaN included.
        EXPECT_EQ(Xml(*r.value), Xml(expected));
    }
}

TEST(PlistInterop, BinaryWritingIsReadBackByUsAndByPlistlibAndSharesTexts) {
    ASSERT_EQ(test::RunCommand("python3 -c 'import plistlib' 2>&1"), 0)
        << "python3 with plistlib is needed for this test";
    test::TempDir dir;
    const Value doc = EveryTypeDocument();
    ASSERT_TRUE(WriteBinaryFile(dir / "ours.bplist", doc).ok);
    ReadResult back = ReadFile(dir / "ours.bplist");
    ASSERT_TRUE(back.value.has_value()) << back.reason;
    EXPECT_EQ(Xml(*back.value), Xml(doc));
    std::string output;
    ASSERT_EQ(test::RunCommand("python3 -c 'import plistlib,sys; d=plistlib.load(open(sys.argv[1],"
                               "\"rb\")); print(d[\"strings\"][4], d[\"integers\"][6])' " +
                                   test::ShellQuote(dir / "ours.bplist") + " 2>&1",
                               &output),
              0)
        << output;
    EXPECT_EQ(output, "caf\u00e9 \u65e5\u672c \U0001F389 -9223372036854775808\n");

    // A folder tree: 2,000 names repeated in 50 folders, every leaf the empty text.
    Dict folder;
    for (int i = 0; i < 2000; ++i) folder.emplace("file_" + std::to_string(i) + ".txt", "");
    Dict tree;
    for (int i = 0; i < 50; ++i) tree.emplace("folder" + std::to_string(i), folder);
    std::string bytes, error;
    ASSERT_TRUE(ToBinary(tree, &bytes, &error)) << error;
    EXPECT_LT(bytes.size(), 100000u * 8);  // about two references and an offset per entry
    EXPECT_EQ(Parse(bytes, &error), Value(tree)) << error;

    for (const char* bad : {"caf\xe9", "a\0b"}) {
        EXPECT_FALSE(ToBinary(Dict{{std::string(bad, bad[1] == '\0' ? 3 : 4), 1}}, &bytes, &error));
        EXPECT_FALSE(ToBinary(Array{std::string(bad, bad[1] == '\0' ? 3 : 4)}, &bytes, &error));
    }
}

}  // namespace
}  // namespace qv::plist
