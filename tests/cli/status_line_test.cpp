// The status line of `quorvel run`: what it shows at each width, the units, the time left once
// the pace is known, and names that must not reach the terminal raw; and the progress model the
// line and the window read their figures from.
#include "cli/status_line.h"

#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "app/progress_meter.h"
#include "run/plan_item.h"
#include "run/run_progress.h"

namespace qv::cli {
namespace {

constexpr std::uint64_t kMB = 1024 * 1024;

struct Reading {
    double seconds;
    std::uint64_t bytes;
    std::int64_t items;
};

// The item at hand, read from this path.
run::RunProgress::Item At(const std::string& path) { return {0, path, "", ""}; }

std::size_t Columns(const std::string& s) {
    std::size_t n = 0;
    for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

TEST(StatusLineTest, FitsTheWidthAndTellsThePace) {
    const std::string longPath = "/home/me/Photos/" + std::string(60, 'p') + "/holiday-final.jpg";
    const struct {
        const char* what;
        StatusFacts facts;
        std::vector<Reading> readings;  // a run's progress, read by the model at each instant
        int width;
        std::string expected;
    } cases[] = {
        // clang-format off
        {"bytes and kilobytes, pace unknown",
         {3, 10, 512, 1536, {}, {}, At("/a/b.txt")}, {}, 200,
         "3/10  512 B/1.5 KB  --  -- left  /a/b.txt"},
        {"a long path is shortened in its middle to fill the line exactly",
         {1200, 5000, 5 * kMB, 2048 * kMB, 12.5 * kMB, 75, At(longPath)}, {}, 80,
         "1200/5000  5.0 MB/2.0 GB  12.5 MB/s  1:15 left  /home/me/Photos…oliday-final.jpg"},
        {"too narrow for a useful path: the rate goes first",
         {1200, 5000, 5 * kMB, 2048 * kMB, 12.5 * kMB, 75, At(longPath)}, {}, 40,
         "1200/5000  5.0 MB/2.0 GB  1:15 left"},
        {"then the bytes",
         {1200, 5000, 5 * kMB, 2048 * kMB, 12.5 * kMB, 75, At(longPath)}, {}, 20,
         "1200/5000  1:15 left"},
        {"control characters of a name are shown escaped",
         {1, 2, 0, 0, {}, {}, At("/x/evil\x1b[2J\rname\n.txt")}, {}, 80,
         "1/2  0 B/0 B  --  -- left  /x/evil\\x1b[2J\\rname\\n.txt"},
        {"a backslash and a mark that turns the text around are escaped too",
         {1, 2, 0, 0, {}, {}, At("/x/a\\nb\xE2\x80\xAEtxt.exe")}, {}, 80,
         "1/2  0 B/0 B  --  -- left  /x/a\\\\nb\\u202etxt.exe"},
        {"under a second of readings: still unknown",
         {0, 4, 5 * kMB, 100 * kMB, {}, {}, At("/f")}, {{0, 0, 0}, {0.5, 5 * kMB, 0}}, 200,
         "0/4  5.0 MB/100 MB  --  -- left  /f"},
        // 10 MB/s leaves 8 s for the bytes; 1 item/s leaves 2 s for the items: the later wins.
        {"the pace known: time left by bytes, whatever the items say",
         {2, 4, 20 * kMB, 100 * kMB, {}, {}, At("/f")},
         {{0, 0, 0}, {0.5, 5 * kMB, 0}, {2, 20 * kMB, 2}}, 200,
         "2/4  20.0 MB/100 MB  10.0 MB/s  0:08 left  /f"},
        // Thousands of tiny files after the large ones: the bytes are done, the items are not.
        {"time left by items",
         {100, 1100, 900 * kMB, 900 * kMB, {}, {}, At("/f")},
         {{0, 0, 0}, {10, 900 * kMB, 100}}, 200,
         "100/1100  900 MB/900 MB  90.0 MB/s  1:40 left  /f"},
        // The burst of the first second is out of the window: 1 MB in the last 6 s.
        {"the rate follows the last seconds",
         {3, 9, 7 * kMB, 3072 * kMB, {}, {}, At("/f")},
         {{0, 0, 0}, {1, 6 * kMB, 1}, {6, 6 * kMB, 2}, {7, 7 * kMB, 3}}, 200,
         "3/9  7.0 MB/3.0 GB  171 KB/s  5:06:30 left  /f"},
        // clang-format on
    };
    for (const auto& c : cases) {
        StatusFacts facts = c.facts;
        if (!c.readings.empty()) {
            run::RunProgress progress;
            double now = 0;
            app::ProgressModel model(progress, [&now] { return now; });
            progress.CopyStarts(facts.itemsTotal, facts.bytesTotal);
            std::optional<app::ProgressFigures> f;
            for (const Reading& r : c.readings) {
                now = r.seconds;
                progress.bytesDoneCounter() = r.bytes;
                while (progress.itemsDone() < r.items) progress.ItemDone();
                f = model.Sample();
            }
            ASSERT_TRUE(f) << c.what;
            EXPECT_EQ(f->bytesDone, facts.bytesDone) << c.what;
            EXPECT_EQ(f->itemsDone, facts.itemsDone) << c.what;
            facts.bytesPerSecond = f->bytesPerSecond;
            facts.secondsLeft = f->secondsLeft;
        }
        const std::string line = StatusLine(facts, c.width);
        EXPECT_EQ(line, c.expected) << c.what;
        EXPECT_LE(Columns(line), static_cast<std::size_t>(c.width)) << c.what;
    }
}

// However short the room, a cut in the middle of a name never splits one of its escapes:
// "\x1b" cut to "\x1" would show the rest of an escape sequence as plain text.
TEST(StatusLineTest, ACutKeepsEveryEscapeWhole) {
    const StatusFacts facts{1, 2, 0, 0, {}, {}, At("/tmp/probe/b\x1b]0;PWNED\a\x1b]0;x\a/end")};
    for (int width = 28; width < 70; ++width) {
        const std::string line = StatusLine(facts, width);
        EXPECT_LE(Columns(line), static_cast<std::size_t>(width));
        for (std::size_t i = line.find('\\'); i != std::string::npos; i = line.find('\\', i)) {
            ASSERT_LT(i + 1, line.size()) << width << ": " << line;
            const char kind = line[i + 1];
            const std::size_t length = kind == 'x' ? 4 : kind == 'u' ? 6 : 2;
            ASSERT_LE(i + length, line.size()) << width << ": " << line;
            for (std::size_t h = i + 2; kind == 'x' && h < i + length; ++h) {
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(line[h]))) << line;
            }
            i += length;
        }
    }
}

// Nothing before the copy; then the item in hand with its own bytes, the path it is read from,
// and a new copy that counts its pace afresh.
TEST(ProgressModelTest, TellsTheItemInHandAndStartsEachCopyAfresh) {
    run::RunProgress progress;
    double now = 50;
    app::ProgressModel model(progress, [&now] { return now; });
    EXPECT_FALSE(model.Sample());
    progress.CopyStarts(2, 12 * kMB);
    ASSERT_TRUE(model.Sample());
    progress.SetItem(run::kModeReplaceAwithB, "/A/doc", "/B/doc");
    progress.bytesDoneCounter() = 4 * kMB;  // the first item's content
    progress.ItemDone();
    progress.SetWriting("/A/.doc.tmp", 8 * kMB);
    progress.bytesDoneCounter() += 2 * kMB;
    now = 52;
    std::optional<app::ProgressFigures> f = model.Sample();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->readPath(), "/B/doc");
    EXPECT_EQ(f->itemBytesDone, 2 * kMB);
    EXPECT_EQ(f->itemBytes, 8 * kMB);
    EXPECT_EQ(f->bytesPerSecond, 3.0 * kMB);
    EXPECT_EQ(f->secondsLeft, 2.0);
    // The copy ends; the next one starts from nothing at its own time.
    progress.Reset();
    EXPECT_FALSE(model.Sample());
    now = 1000;
    progress.CopyStarts(1, 1 * kMB);
    f = model.Sample();
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->bytesPerSecond);
    now = 1001;
    progress.bytesDoneCounter() = kMB / 2;
    f = model.Sample();
    EXPECT_EQ(f->bytesPerSecond, kMB / 2.0);
}

}  // namespace
}  // namespace qv::cli
