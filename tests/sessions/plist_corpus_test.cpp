// Hostile and broken property lists: every one must be refused with a reason, quickly, and
// without a crash. The files under tests/data/bad_plists/ are small and committed; the ones too
// large to commit are made here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "sessions/plist_codec.h"
#include "support/test_support.h"

namespace qv::plist {
namespace {

using Clock = std::chrono::steady_clock;
using Refs = std::vector<std::uint64_t>;

std::string BigEndian(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

// A binary property list: object 0 is the string "x", object i + 1 the array of refs(i), and the
// last object the root. References and offsets take four bytes.
std::string Chain(int count, const std::function<Refs(std::uint64_t)>& refs) {
    std::string out = "bplist00\x51x", table = BigEndian(8, 4);
    for (int i = 0; i < count; ++i) {
        table += BigEndian(out.size(), 4);
        const Refs r = refs(std::uint64_t(i));
        out += r.size() < 15 ? std::string(1, static_cast<char>(0xA0 | r.size()))
                             : "\xAF\x12" + BigEndian(r.size(), 4);
        for (auto ref : r) out += BigEndian(ref, 4);
    }
    return out + table + std::string(6, '\0') + "\x04\x04" + BigEndian(count + 1, 8) +
           BigEndian(count, 8) + BigEndian(out.size(), 8);
}

// n times `open`, then `middle`, then n times `close`, in a property-list document.
std::string Nest(const std::string& open, const std::string& middle, const std::string& close,
                 int n) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
    for (int i = 0; i < n; ++i) out += open;
    out += middle;
    for (int i = 0; i < n; ++i) out += close;
    return out + "\n</plist>\n";
}

TEST(PlistCorpus, EveryCommittedBrokenFileIsRefusedAndEveryGoodSeedIsRead) {
    const std::string data = QV_TEST_DATA_DIR;
    int bad = 0;
    for (const auto& e : std::filesystem::directory_iterator(data + "/bad_plists")) {
        SCOPED_TRACE(e.path().string());
        const auto start = Clock::now();
        const ReadResult r = ReadFile(e.path().string());
        // Each file is a few KiB: anything slow means the reader walks what it should refuse.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(r.failure, ReadFailure::NotAPropertyList);
        EXPECT_FALSE(r.value.has_value() || r.reason.empty());
        ++bad;
    }
    EXPECT_GE(bad, 40);
    for (const auto& e : std::filesystem::directory_iterator(data + "/good_plists")) {
        const ReadResult r = ReadFile(e.path().string());
        EXPECT_TRUE(r.value && r.value->isDict()) << e.path() << ": " << r.reason;
    }
    // The same document written by plistlib in both formats.
    EXPECT_EQ(ReadFile(data + "/good_plists/all_types.plist").value,
              ReadFile(data + "/good_plists/all_types.bplist").value);
}

TEST(PlistCorpus, DeepHiddenOrUnfoldingNestingIsRefusedAndModestNestingRead) {
    // 1,000 segments of 100 arrays; the root holds the first of every segment, deepest first,
    // so a walk that meets each array once stays shallow while the full path is 100,000 deep.
    const auto segmentedChain = [](std::uint64_t i) {
        if (i < 100000) return Refs{i};
        Refs firsts;
        for (std::uint64_t s = 1; s <= 1000; ++s) firsts.push_back(s * 100);
        return firsts;
    };
    const auto nested = [](auto i) { return Refs{i}; };
    const struct {
        const char* name;
        std::string bytes;
        bool read = false;
    } cases[] = {
        {"XML arrays 10,000 deep", Nest("<array>", "", "</array>", 10000)},
        {"XML dictionaries 10,000 deep", Nest("<dict><key>k</key>", "<true/>", "</dict>", 10000)},
        {"XML 10,000 deep behind comments", Nest("<!-- > --><array>", "", "</array>", 10000)},
        {"XML 500,000 deep, \"/>\" in attributes",
         Nest("<array a=\"/>\">", "", "</array>", 500000)},
        {"XML 500,000 deep, closers in attributes",
         Nest("<array a=\"></array>\">", "", "</array>", 500000)},
        {"binary 10,000 deep", Chain(10000, nested)},
        {"binary shared chain 100,000 deep", Chain(100001, segmentedChain)},
        {"binary sharing into 16^40 values", Chain(40, [](auto i) { return Refs(16, i); })},
        {"XML 100 deep", Nest("<array>", "<string>x</string>", "</array>", 100), true},
        {"binary 100 deep", Chain(100, nested), true},
        {"binary child shared 1,000 times", Chain(1, [](auto) { return Refs(1000, 0); }), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const auto start = Clock::now();
        const auto v = Parse(c.bytes, &error);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(v && v->isArray(), c.read) << error;
        EXPECT_EQ(error.empty(), c.read) << error;
    }
}

TEST(PlistReadFile, TellsWhyAPathCannotBeRead) {
    test::TempDir dir;
    std::filesystem::create_directory(dir / "folder");
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // A sparse file just over the limit: refused unread, whatever it holds.
    const int big = ::open((dir / "big").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(big, 0);
    ASSERT_EQ(::ftruncate(big, static_cast<off_t>(kMaxPlistFileBytes) + 1), 0);
    ::close(big);
    const struct {
        const char* name;
        ReadFailure failure;
    } cases[] = {
        {"missing", ReadFailure::Missing},
        {"dangling", ReadFailure::Missing},
        {"folder", ReadFailure::NotAFile},
        {"fifo", ReadFailure::NotAFile},  // refused without waiting for a writer
        {"big", ReadFailure::NotAPropertyList},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto pending = std::async(std::launch::async, [&] { return ReadFile(dir / c.name); });
        if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "ReadFile is waiting";
            // A writer that opens and closes gives the blocked reader end-of-file.
            const int fd = ::open((dir / c.name).c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        const ReadResult r = pending.get();
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_FALSE(r.value.has_value());
        EXPECT_FALSE(r.reason.empty());
    }
}

}  // namespace
}  // namespace qv::plist
