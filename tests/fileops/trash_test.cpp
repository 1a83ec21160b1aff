#include "fileops/trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>

#include "platform/syscalls.h"
#include "support/test_support.h"

namespace qv::fileops {
namespace {

namespace fs = std::filesystem;

class TrashTest : public ::testing::Test {
  protected:
    TrashTest() {
        env_.Set("HOME", dir_ / "home");
        env_.Set("XDG_DATA_HOME", dir_ / "data");
        fs::create_directories(dir_ / "work");
        work_ = fs::canonical(dir_ / "work").string();
    }
    std::string Item(const std::string& name) const { return work_ + "/" + name; }
    std::string Trash() const { return dir_ / "data/Trash"; }
    bool IsEmpty(const std::string& sub) const {
        std::error_code ec;
        return fs::directory_iterator(Trash() + "/" + sub, ec) == fs::directory_iterator();
    }
    // The value of KEY in the info file of the trashed item NAME.
    std::string InfoValue(const std::string& name, const std::string& key) const {
        const std::string text = test::ReadText(Trash() + "/info/" + name + ".trashinfo");
        EXPECT_EQ(text.rfind("[Trash Info]\n", 0), 0u) << text;
        const auto at = text.find("\n" + key + "=");
        if (at == std::string::npos) return "<none>";
        const auto begin = at + key.size() + 2;
        return text.substr(begin, text.find('\n', begin) - begin);
    }

    test::TempDir dir_;
    test::ScopedEnv env_;
    std::string work_;
};

TEST_F(TrashTest, AFileAndAWholeFolderMoveWithTheirOriginalPathAndLocalDate) {
    test::WriteText(Item("notes.txt"), "keep me");
    test::WriteText(Item("album/disc 1/track.flac"), "music");
    // Five hours east of UTC, so that a date written in UTC is caught.
    struct TzReset {
        ~TzReset() { ::tzset(); }
    } tzReset;
    test::ScopedEnv tz;
    tz.Set("TZ", "QVT-5");
    const std::time_t before = std::time(nullptr);
    for (const char* name : {"notes.txt", "album"}) {
        SCOPED_TRACE(name);
        std::string error;
        ASSERT_TRUE(MoveToTrash(Item(name), &error)) << error;
        EXPECT_FALSE(fs::exists(Item(name)));
        EXPECT_EQ(InfoValue(name, "Path"), Item(name));
        std::tm parsed{};
        const std::string date = InfoValue(name, "DeletionDate");
        ASSERT_NE(::strptime(date.c_str(), "%Y-%m-%dT%H:%M:%S", &parsed), nullptr) << date;
        parsed.tm_isdst = -1;
        EXPECT_NEAR(static_cast<double>(std::mktime(&parsed)), static_cast<double>(before), 5.0);
    }
    EXPECT_EQ(test::ReadText(Trash() + "/files/notes.txt"), "keep me");
    EXPECT_EQ(test::ReadText(Trash() + "/files/album/disc 1/track.flac"), "music");
    for (const char* folder : {"", "/files", "/info"}) {
        struct stat st {};
        ASSERT_EQ(::stat((Trash() + folder).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u) << "only the owner may look into the trash";
    }
}

TEST_F(TrashTest, PathIsPercentEncodedExceptSlashes) {
    const struct {
        const char* name;
        const char* encoded;
    } cases[] = {
        {"my caf\xC3\xA9 raw\xE9.txt", "my%20caf%C3%A9%20raw%E9.txt"},
        {"100%#?-._~Az9", "100%25%23%3F-._~Az9"},
    };
    for (const auto& c : cases) {
        test::WriteText(Item(c.name), "x");
        std::string error;
        ASSERT_TRUE(MoveToTrash(Item(c.name), &error)) << error;
        EXPECT_EQ(InfoValue(c.name, "Path"), work_ + "/" + c.encoded);
        EXPECT_TRUE(fs::exists(Trash() + "/files/" + c.name));
    }
}

TEST_F(TrashTest, ANameTakenInFilesOrInInfoGetsTheNextNumberBeforeTheExtension) {
    // Left behind by other programs: an item without info, and info without its item.
    test::WriteText(Trash() + "/files/orphan.txt", "theirs");
    test::WriteText(Trash() + "/info/stale.trashinfo", "[Trash Info]\n");
    const struct {
        const char* name;
        bool folder;
        const char* expected[3];  // the trash names of three items of this name
    } cases[] = {
        {"report.txt", false, {"report.txt", "report.2.txt", "report.3.txt"}},
        {"backup.tar.gz", false, {"backup.tar.gz", "backup.2.tar.gz", "backup.3.tar.gz"}},
        {"photos.d", true, {"photos.d", "photos.d.2", "photos.d.3"}},
        {"orphan.txt", false, {"orphan.2.txt", "orphan.3.txt", "orphan.4.txt"}},
        {"stale", false, {"stale.2", "stale.3", "stale.4"}},
    };
    for (const auto& c : cases) {
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(c.expected[i]);
            const std::string content = "version " + std::to_string(i);
            test::WriteText(c.folder ? Item(c.name) + "/inside" : Item(c.name), content);
            std::string error;
            ASSERT_TRUE(MoveToTrash(Item(c.name), &error)) << error;
            const std::string trashed = Trash() + "/files/" + c.expected[i];
            EXPECT_EQ(test::ReadText(c.folder ? trashed + "/inside" : trashed), content);
            EXPECT_EQ(InfoValue(c.expected[i], "Path"), Item(c.name));
        }
    }
    EXPECT_EQ(test::ReadText(Trash() + "/files/orphan.txt"), "theirs");
}

class FailingRename : public platform::SysCalls {
  public:
    int rename(const char*, const char*) override { return errno = EXDEV, -1; }
};

TEST_F(TrashTest, AFailedMoveLeavesTheItemAndNoInfoFile) {
    test::WriteText(Item("stays.txt"), "here");
    FailingRename failing;
    const struct {
        std::string path;
        platform::SysCalls* calls;
        int err;
    } cases[] = {{Item("missing.txt"), nullptr, ENOENT}, {Item("stays.txt"), &failing, EXDEV}};
    for (const auto& c : cases) {
        std::string error;
        std::optional<platform::ScopedSysCalls> installed;
        if (c.calls != nullptr) installed.emplace(*c.calls);
        EXPECT_FALSE(MoveToTrash(c.path, &error));
        installed.reset();
        EXPECT_NE(error.find(std::strerror(c.err)), std::string::npos) << error;
        EXPECT_TRUE(IsEmpty("info"));
        EXPECT_TRUE(IsEmpty("files"));
    }
    EXPECT_EQ(test::ReadText(Item("stays.txt")), "here");
}

}  // namespace
}  // namespace qv::fileops
