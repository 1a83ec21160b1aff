// Interoperability with Python's plistlib: what Quorvel writes, plistlib reads with the same
// types and values, and what plistlib writes (XML or binary), Quorvel reads.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <string>

#include "sessions/plist_codec.h"
#include "support/test_support.h"

namespace qv::plist {
namespace {

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

std::string Show(const Value& v) {
    std::string xml, error;
    return ToXml(v, &xml, &error) ? xml : "(cannot show: " + error + ")";
}

// Runs a Python script with the given arguments; returns its exit status and what it printed.
int RunPython(const test::TempDir& dir, const std::string& script, const std::string& args,
              std::string* output) {
    const std::string path = dir / "check.py";
    test::WriteText(path, script);
    return test::RunCommand("python3 " + test::ShellQuote(path) + " " + args + " 2>&1", output);
}

// The Python side of the documents below: `expected()` builds the same values as
// EveryTypeDocument(), and `same` compares with exact types (a bool is not an int, an int is
// not a float) and exact floats (the sign of zero counts).
constexpr const char* kPythonExpected = R"PY(
import datetime, math, plistlib, sys

def data(n):
    return bytes((i * 37 + 11) & 0xFF for i in range(n))

def expected():
    shared = [1, "two"]
    return {
        "string_plain": "Documents backup",
        "string_cr": "a\rb\r\nc\r",
        "string_markup": "&<> \"quoted\" 'single' ]]>",
        "string_unicode": "caf\u00e9 \u65e5\u672c \U0001F389",
        "string_empty": "",
        "string_long": "x" * 300,
        "int_zero": 0,
        "int_one_byte": 255,
        "int_two_bytes": 256,
        "int_four_bytes": 65536,
        "int_eight_bytes": 1 << 32,
        "int_negative": -42,
        "int_min": -(1 << 63),
        "int_max": (1 << 63) - 1,
        "real_tenth": 0.1,
        "real_large": 1e300,
        "real_small": 5e-324,
        "real_negative": -2.5,
        "real_integral": 3.0,
        "real_infinity": float("inf"),
        "real_negative_zero": -0.0,
        "bool_true": True,
        "bool_false": False,
        "date_1900": datetime.datetime(1900, 1, 1),
        "date_1969": datetime.datetime(1969, 12, 31, 23, 59, 59),
        "date_2024": datetime.datetime(2024, 2, 29, 12, 34, 56),
        "date_2100": datetime.datetime(2100, 1, 1),
        "data_0": data(0),
        "data_1": data(1),
        "data_2": data(2),
        "data_3": data(3),
        "data_100": data(100),
        "data_300": data(300),
        "array_empty": [],
        "dict_empty": {},
        "array_many": ["item%d" % i for i in range(300)],
        "nested": [[1, []], {"k": ["v", {}]}],
        "key &<> \u00e9": True,
        "shared_a": shared,
        "shared_b": shared,
    }

def same(a, b, path="/"):
    if type(a) is not type(b):
        return ["%s: %s %r is not %s %r" % (path, type(a).__name__, a, type(b).__name__, b)]
    if isinstance(a, dict):
        if sorted(a) != sorted(b):
            return ["%s: keys %r differ from %r" % (path, sorted(a), sorted(b))]
        return [m for k in a for m in same(a[k], b[k], path + k + "/")]
    if isinstance(a, list):
        if len(a) != len(b):
            return ["%s: %d items, not %d" % (path, len(a), len(b))]
        return [m for i in range(len(a)) for m in same(a[i], b[i], path + str(i) + "/")]
    if isinstance(a, float):
        if math.isnan(a) and math.isnan(b):
            return []
        if a != b or math.copysign(1, a) != math.copysign(1, b):
            return ["%s: %r is not %r" % (path, a, b)]
        return []
    return [] if a == b else ["%s: %r is not %r" % (path, a, b)]
)PY";

// The same values as the Python side's expected(); plistlib shares "shared_a" and "shared_b"
// in its binary output.
Value EveryTypeDocument() {
    Array many;
    for (int i = 0; i < 300; ++i) many.push_back("item" + std::to_string(i));
    const Array shared{1, "two"};
    return Dict{
        {"string_plain", "Documents backup"},
        {"string_cr", "a\rb\r\nc\r"},
        {"string_markup", "&<> \"quoted\" 'single' ]]>"},
        {"string_unicode", "caf\u00e9 \u65e5\u672c \U0001F389"},
        {"string_empty", ""},
        {"string_long", std::string(300, 'x')},
        {"int_zero", 0},
        {"int_one_byte", 255},
        {"int_two_bytes", 256},
        {"int_four_bytes", 65536},
        {"int_eight_bytes", std::int64_t{1} << 32},
        {"int_negative", -42},
        {"int_min", std::numeric_limits<std::int64_t>::min()},
        {"int_max", std::numeric_limits<std::int64_t>::max()},
        {"real_tenth", 0.1},
        {"real_large", 1e300},
        {"real_small", std::numeric_limits<double>::denorm_min()},
        {"real_negative", -2.5},
        {"real_integral", 3.0},
        {"real_infinity", std::numeric_limits<double>::infinity()},
        {"real_negative_zero", -0.0},
        {"bool_true", true},
        {"bool_false", false},
        {"date_1900", At(1900, 1, 1)},
        {"date_1969", At(1969, 12, 31, 23, 59, 59)},
        {"date_2024", At(2024, 2, 29, 12, 34, 56)},
        {"date_2100", At(2100, 1, 1)},
        {"data_0", Bytes(0)},
        {"data_1", Bytes(1)},
        {"data_2", Bytes(2)},
        {"data_3", Bytes(3)},
        {"data_100", Bytes(100)},
        {"data_300", Bytes(300)},
        {"array_empty", Array{}},
        {"dict_empty", Dict{}},
        {"array_many", many},
        {"nested", Array{Array{1, Array{}}, Dict{{"k", Array{"v", Dict{}}}}}},
        {"key &<> \u00e9", true},
        {"shared_a", shared},
        {"shared_b", shared},
    };
}

class PlistInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (test::RunCommand("python3 -c 'import plistlib' 2>&1") != 0) {
            FAIL() << "python3 with plistlib is needed for this test";
        }
    }
    test::TempDir dir_;
};

TEST_F(PlistInterop, PlistlibReadsWhatWeWriteWithTheSameTypesAndValues) {
    Value doc = EveryTypeDocument();
    doc.set("real_nan", std::numeric_limits<double>::quiet_NaN());
    const std::string path = dir_ / "written by us.plist";
    const auto written = WriteXmlFile(path, doc);
    ASSERT_TRUE(written.ok) << written.reason;

    const std::string script = std::string(kPythonExpected) + R"PY(
with open(sys.argv[1], "rb") as f:
    raw = f.read()
got = plistlib.loads(raw, fmt=plistlib.FMT_XML)
want = expected()
want["real_nan"] = float("nan")
problems = same(got, want)
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
)PY";
    std::string output;
    EXPECT_EQ(RunPython(dir_, script, test::ShellQuote(path), &output), 0) << output;
}

TEST_F(PlistInterop, WeReadWhatPlistlibWritesInBothFormats) {
    const std::string script = std::string(kPythonExpected) + R"PY(
doc = expected()
doc["real_nan"] = float("nan")
doc["date_fraction"] = datetime.datetime(2024, 2, 29, 12, 34, 56, 250000)
doc["date_fraction_before_1970"] = datetime.datetime(1969, 12, 31, 23, 59, 58, 500000)
for name, fmt in (("doc.plist", plistlib.FMT_XML), ("doc.bplist", plistlib.FMT_BINARY)):
    with open(sys.argv[1] + "/" + name, "wb") as f:
        plistlib.dump(doc, f, fmt=fmt)
)PY";
    std::string output;
    ASSERT_EQ(RunPython(dir_, script, test::ShellQuote(dir_.path()), &output), 0) << output;

    const struct {
        const char* file;
        // plistlib writes XML dates in whole seconds and binary dates with their fraction.
        double fraction, fractionBefore1970;
        // Its XML writer turns every carriage return into a line feed.
        const char* stringCr;
    } cases[] = {
        {"doc.plist", 0.0, 0.0, "a\nb\nc\n"},
        {"doc.bplist", 0.25, 0.5, "a\rb\r\nc\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ReadResult r = ReadFile(dir_ / c.file);
        ASSERT_TRUE(r.value.has_value()) << r.reason;
        Value expected = EveryTypeDocument();
        expected.set("string_cr", c.stringCr);
        expected.set("date_fraction", Date{At(2024, 2, 29, 12, 34, 56).seconds + c.fraction});
        expected.set("date_fraction_before_1970",
                     Date{At(1969, 12, 31, 23, 59, 58).seconds + c.fractionBefore1970});

        const Value* nan = r.value->find("real_nan");
        ASSERT_NE(nan, nullptr);
        EXPECT_TRUE(nan->isReal() && std::isnan(nan->realValue()));
        r.value->remove("real_nan");
        const Value* zero = r.value->find("real_negative_zero");
        ASSERT_NE(zero, nullptr);
        EXPECT_TRUE(zero->isReal() && std::signbit(zero->realValue()));

        // Value equality also compares types: an integer 1 is not a real 1.0 or true.
        EXPECT_TRUE(*r.value == expected) << Show(*r.value);
        for (const auto& [key, item] : expected.dict()) {
            const Value* got = r.value->find(key);
            ASSERT_NE(got, nullptr) << key;
            EXPECT_EQ(got->type(), item.type()) << key;
            EXPECT_TRUE(*got == item) << key << ":\n" << Show(*got) << "instead of\n" << Show(item);
        }
    }
}

TEST_F(PlistInterop, ADocumentSurvivesATripThroughPlistlibsBinaryFormat) {
    // Ours as XML -> plistlib -> binary -> ours again: the binary reader meets every type
    // exactly as plistlib encodes it, including dates far from 2001.
    Value doc = EveryTypeDocument();
    doc.set("date_year_1", At(1, 1, 1));
    doc.set("date_year_9999", At(9999, 12, 31, 23, 59, 59));
    const std::string xmlPath = dir_ / "ours.plist";
    const std::string binPath = dir_ / "theirs.bplist";
    ASSERT_TRUE(WriteXmlFile(xmlPath, doc).ok);
    const std::string script = R"PY(
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    doc = plistlib.load(f)
with open(sys.argv[2], "wb") as f:
    plistlib.dump(doc, f, fmt=plistlib.FMT_BINARY)
)PY";
    std::string output;
    ASSERT_EQ(RunPython(dir_, script, test::ShellQuote(xmlPath) + " " + test::ShellQuote(binPath),
                        &output),
              0)
        << output;
    const ReadResult back = ReadFile(binPath);
    ASSERT_TRUE(back.value.has_value()) << back.reason;
    EXPECT_TRUE(*back.value == doc) << Show(*back.value);
    // Written again, it is byte for byte what we wrote the first time.
    std::string again, error;
    ASSERT_TRUE(ToXml(*back.value, &again, &error)) << error;
    EXPECT_EQ(again, test::ReadText(xmlPath));
}

}  // namespace
}  // namespace qv::plist
