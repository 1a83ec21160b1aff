// Hostile and broken property lists: every one must be refused with a reason, quickly, and
// without a crash. The files under tests/data/bad_plists/ are small and committed; the ones too
// large to commit are made here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "sessions/plist_codec.h"
#include "support/test_support.h"

namespace qv::plist {
namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (e.is_regular_file()) files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string BigEndian(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

// A binary property list of the given encoded objects; references and offsets take four bytes.
std::string BinaryPlist(const std::vector<std::string>& objects, std::uint64_t root) {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    const std::uint64_t table = out.size();
    for (auto off : offsets) out += BigEndian(off, 4);
    out += std::string(6, '\0');
    out += '\x04';  // offset size
    out += '\x04';  // reference size
    out += BigEndian(objects.size(), 8);
    out += BigEndian(root, 8);
    out += BigEndian(table, 8);
    return out;
}

// An array object holding the given references.
std::string ArrayObject(const std::vector<std::uint64_t>& refs) {
    std::string out;
    if (refs.size() < 15) {
        out += static_cast<char>(0xA0 | refs.size());
    } else {
        out += '\xAF';
        out += '\x12';
        out += BigEndian(refs.size(), 4);
    }
    for (auto r : refs) out += BigEndian(r, 4);
    return out;
}

// Arrays nested `depth` deep around a string, in binary: object i holds object i + 1.
std::string BinaryNestedArrays(int depth) {
    std::vector<std::string> objects;
    for (int i = 0; i < depth; ++i) objects.push_back(ArrayObject({std::uint64_t(i) + 1}));
    objects.push_back("\x51x");
    return BinaryPlist(objects, 0);
}

std::string XmlDocument(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body +
           "\n</plist>\n";
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    out.reserve(s.size() * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(PlistCorpus, EveryBrokenFileIsRefusedWithAReason) {
    const auto files = FilesIn(std::string(QV_TEST_DATA_DIR) + "/bad_plists");
    EXPECT_GE(files.size(), 15u);
    for (const auto& path : files) {
        SCOPED_TRACE(path);
        const auto start = std::chrono::steady_clock::now();
        const ReadResult r = ReadFile(path);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(r.value.has_value());
        EXPECT_EQ(r.failure, ReadFailure::NotAPropertyList);
        EXPECT_FALSE(r.reason.empty());
        // Each file is at most a few KiB: anything slow means the reader is unfolding or
        // walking something it should have refused.
        EXPECT_LT(took, std::chrono::seconds(2));
    }
}

TEST(PlistCorpus, EveryGoodSeedReads) {
    const auto files = FilesIn(std::string(QV_TEST_DATA_DIR) + "/good_plists");
    EXPECT_GE(files.size(), 3u);
    for (const auto& path : files) {
        SCOPED_TRACE(path);
        const ReadResult r = ReadFile(path);
        ASSERT_TRUE(r.value.has_value()) << r.reason;
        EXPECT_EQ(r.failure, ReadFailure::None);
        EXPECT_TRUE(r.value->isDict());
    }
}

TEST(PlistCorpus, DocumentsTooLargeToCommitAreRefused) {
    // A chain of 1,000 segments of 100 arrays each. The root holds the first array of every
    // segment, deepest segment first, so a walk that meets each array once never goes deeper
    // than about 100, while the path through all segments is 100,000 arrays long.
    std::vector<std::string> chain;
    const int segments = 1000, length = 100, arrays = segments * length;
    for (int i = 0; i < arrays; ++i) chain.push_back(ArrayObject({std::uint64_t(i) + 1}));
    chain.push_back("\x51x");
    std::vector<std::uint64_t> firsts;
    for (int s = segments - 1; s >= 0; --s) firsts.push_back(std::uint64_t(s) * length);
    chain.push_back(ArrayObject(firsts));

    // Forty levels, each an array that holds the next level sixteen times: 16^40 values.
    std::vector<std::string> fanout;
    for (int i = 0; i < 40; ++i) {
        fanout.push_back(ArrayObject(std::vector<std::uint64_t>(16, std::uint64_t(i) + 1)));
    }
    fanout.push_back("\x09");

    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"XML arrays nested 10,000 deep",
         XmlDocument(Repeat("<array>", 10000) + Repeat("</array>", 10000))},
        {"XML dictionaries nested 10,000 deep",
         XmlDocument(Repeat("<dict><key>k</key>", 10000) + "<true/>" + Repeat("</dict>", 10000))},
        {"XML nested 10,000 deep behind comments",
         XmlDocument(Repeat("<!-- > --><array>", 10000) + Repeat("</array>", 10000))},
        // A '>' between quotes does not end a tag: each of these opens an array.
        {"XML nested 500,000 deep with \"/>\" in attribute values",
         XmlDocument(Repeat("<array a=\"/>\">", 500000) + Repeat("</array>", 500000))},
        {"XML nested 500,000 deep with closing tags in attribute values",
         XmlDocument(Repeat("<array a=\"></array>\">", 500000) + Repeat("</array>", 500000))},
        {"binary arrays nested 10,000 deep", BinaryNestedArrays(10000)},
        {"binary chain of shared arrays 100,000 deep",
         BinaryPlist(chain, static_cast<std::uint64_t>(chain.size() - 1))},
        {"binary shared arrays unfolding into 16^40 values", BinaryPlist(fanout, 0)},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "doc";
        test::WriteText(path, c.bytes);
        const auto start = std::chrono::steady_clock::now();
        const ReadResult r = ReadFile(path);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_FALSE(r.value.has_value());
        EXPECT_EQ(r.failure, ReadFailure::NotAPropertyList);
        EXPECT_FALSE(r.reason.empty());
    }
}

TEST(PlistCorpus, NestingWellWithinTheLimitIsRead) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"XML arrays nested 100 deep",
         XmlDocument(Repeat("<array>", 100) + "<string>x</string>" + Repeat("</array>", 100))},
        {"binary arrays nested 100 deep", BinaryNestedArrays(100)},
        {"binary array sharing one child 1,000 times",
         BinaryPlist({ArrayObject(std::vector<std::uint64_t>(1000, 1)), ArrayObject({2}), "\x08"},
                     0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        auto v = Parse(c.bytes, &error);
        ASSERT_TRUE(v.has_value()) << error;
        EXPECT_TRUE(v->isArray());
    }
}

TEST(PlistReadFile, TellsWhyAPathCannotBeRead) {
    test::TempDir dir;
    const std::string good = std::string(QV_TEST_DATA_DIR) + "/good_plists/empty_dict.plist";
    std::filesystem::create_directory(dir / "folder");
    test::WriteText(dir / "file", "x");
    ASSERT_EQ(::symlink(good.c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "folder").c_str(), (dir / "folder-link").c_str()), 0);
    {
        // Larger than any document may be; sparse, so it costs no disk space.
        const int fd = ::open((dir / "huge").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kMaxPlistFileBytes) + 1), 0);
        ::close(fd);
    }
    const struct {
        const char* name;
        std::string path;
        ReadFailure failure;
    } cases[] = {
        {"missing", dir / "missing", ReadFailure::Missing},
        {"below a file", dir / "file/below", ReadFailure::Missing},
        {"dangling link", dir / "dangling", ReadFailure::Missing},
        {"folder", dir / "folder", ReadFailure::NotAFile},
        {"link to a folder", dir / "folder-link", ReadFailure::NotAFile},
        {"device", "/dev/null", ReadFailure::NotAFile},
        {"too large", dir / "huge", ReadFailure::NotAPropertyList},
        {"link to a good document", dir / "link", ReadFailure::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult r = ReadFile(c.path);
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_EQ(r.value.has_value(), c.failure == ReadFailure::None);
        EXPECT_EQ(r.reason.empty(), c.failure == ReadFailure::None) << r.reason;
    }
}

TEST(PlistReadFile, AFifoIsRefusedWithoutWaitingForAWriter) {
    test::TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto pending = std::async(std::launch::async, [&] { return ReadFile(fifo); });
    if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "ReadFile is waiting for a writer";
        // Let the blocked reader go: a writer that opens and closes gives it end-of-file.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    const ReadResult r = pending.get();
    EXPECT_EQ(r.failure, ReadFailure::NotAFile);
    EXPECT_FALSE(r.value.has_value());
    EXPECT_FALSE(r.reason.empty());
}

TEST(PlistReadFile, AnUnreadableFileIsUnreadable) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    test::TempDir dir;
    const std::string path = dir / "locked.plist";
    test::WriteText(path, XmlDocument("<dict/>"));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const ReadResult r = ReadFile(path);
    EXPECT_EQ(r.failure, ReadFailure::Unreadable);
    EXPECT_FALSE(r.value.has_value());
    EXPECT_FALSE(r.reason.empty());
}

}  // namespace
}  // namespace qv::plist
