#include "fileops/trash.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace qv::fileops {
namespace {

namespace fs = std::filesystem;

class TrashTest : public ::testing::Test {
  protected:
    TrashTest() {
        env_.Set("HOME", dir_ / "home");
        env_.Set("XDG_DATA_HOME", dir_ / "data");
        env_.Set("TZ", "QVT-5");  // five hours east of UTC, so that a date written in UTC is caught
        fs::create_directories(dir_ / "work");
        work_ = fs::canonical(dir_ / "work").string();
    }
    std::string Item(const std::string& name) const { return work_ + "/" + name; }
    std::string Trash(const std::string& sub) const { return dir_ / "data/Trash/" + sub; }
    // Moves the item NAME of the work folder to the trash: empty on success, else the error.
    std::string Move(const std::string& name) const {
        std::string error;
        return MoveToTrash(Item(name), &error) ? "" : "failed: " + error;
    }
    // The value of KEY in the info file of the trashed item NAME.
    std::string InfoValue(const std::string& name, const std::string& key) const {
        const std::string text = test::ReadText(Trash("info/" + name + ".trashinfo"));
        EXPECT_EQ(text.rfind("[Trash Info]\n", 0), 0u) << text;
        std::smatch m;
        return std::regex_search(text, m, std::regex("\n" + key + "=(.*)")) ? m[1].str() : "<none>";
    }

    struct TzReset {
        ~TzReset() { ::tzset(); }  // once env_ has put TZ back
    } tzReset_;
    test::TempDir dir_;
    test::ScopedEnv env_;
    std::string work_;
};

TEST_F(TrashTest, FilesAndFoldersGoWithTheirPercentEncodedPathAndLocalDeletionDate) {
    const std::time_t before = std::time(nullptr);
    // clang-format off
    const struct { const char *name, *inside, *path; } rows[] = {
        {"album", "/disc 1/track.flac", "album"},
        {"my caf\xC3\xA9 raw\xE9.txt", "", "my%20caf%C3%A9%20raw%E9.txt"},
        {"100%#?-._~Az9", "", "100%25%23%3F-._~Az9"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        test::WriteText(Item(row.name) + row.inside, row.path);
        ASSERT_EQ(Move(row.name), "");
        EXPECT_FALSE(fs::exists(Item(row.name)));
        EXPECT_EQ(test::ReadText(Trash("files/") + row.name + row.inside), row.path);
        EXPECT_EQ(InfoValue(row.name, "Path"), Item(row.path));
        std::tm parsed{};  // the zone has no daylight saving time
        const std::string date = InfoValue(row.name, "DeletionDate");
        ASSERT_NE(::strptime(date.c_str(), "%Y-%m-%dT%H:%M:%S", &parsed), nullptr) << date;
        EXPECT_NEAR(static_cast<double>(std::mktime(&parsed)), static_cast<double>(before), 5.0);
    }
    for (const char* sub : {"", "files", "info"})  // only the owner may look into the trash
        EXPECT_EQ(fs::status(Trash(sub)).permissions(), fs::perms::owner_all) << sub;
}

TEST_F(TrashTest, ANameTakenInFilesOrInInfoGetsTheNextNumberBeforeTheExtension) {
    // Left behind by other programs: an item without info, and info without its item.
    test::WriteText(Trash("files/orphan.txt"), "theirs");
    test::WriteText(Trash("info/stale.trashinfo"), "[Trash Info]\n");
    // clang-format off
    const struct { const char *name, *inside, *trashed[3]; } rows[] = {
        {"report.txt", "", {"report.txt", "report.2.txt", "report.3.txt"}},
        {"backup.tar.gz", "", {"backup.tar.gz", "backup.2.tar.gz", "backup.3.tar.gz"}},
        {"photos.d", "/inside", {"photos.d", "photos.d.2", "photos.d.3"}},
        {"orphan.txt", "", {"orphan.2.txt", "orphan.3.txt", "orphan.4.txt"}},
        {"stale", "", {"stale.2", "stale.3", "stale.4"}},
    };
    // clang-format on
    for (const auto& row : rows) {
        for (const std::string trashed : row.trashed) {
            SCOPED_TRACE(trashed);
            test::WriteText(Item(row.name) + row.inside, trashed);
            ASSERT_EQ(Move(row.name), "");
            EXPECT_EQ(test::ReadText(Trash("files/" + trashed) + row.inside), trashed);
            EXPECT_EQ(InfoValue(trashed, "Path"), Item(row.name));
        }
    }
}

// The move into the trash is a rename from the item's open folder.
struct FailingRename : platform::FileSystem {
    int renameat2(int, const char*, int, const char*, unsigned) override {
        return errno = EXDEV, -1;
    }
};

TEST_F(TrashTest, AFailedMoveLeavesTheItemAndNoInfoFile) {
    test::WriteText(Item("stays.txt"), "here");
    EXPECT_TRUE(test::Contains(Move("missing.txt"), std::strerror(ENOENT)));
    FailingRename failing;
    const platform::ScopedFileSystem installed(failing);
    EXPECT_TRUE(test::Contains(Move("stays.txt"), std::strerror(EXDEV)));
    EXPECT_EQ(test::ReadText(Item("stays.txt")), "here");
    for (const char* sub : {"info", "files"})
        EXPECT_TRUE(!fs::exists(Trash(sub)) || fs::is_empty(Trash(sub))) << sub;
}

}  // namespace
}  // namespace qv::fileops
