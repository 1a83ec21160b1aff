// The way to a top folder: which folders and links on it may be trusted, and the walk that
// opens a top folder without following a link another user made.
#include "platform/folder_way.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/folder_handle.h"
#include "platform/sha256.h"
#include "support/test_support.h"

namespace qv::platform {
namespace {

constexpr uid_t kOther = 54321;

TEST(FolderWayTest, OnlyFoldersAndLinksOfRootOrTheOwnerAreTrustedOnTheWay) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: items are given to another user";
    test::TempDir dir;
    const std::string root = dir.path();
    for (const char* folder : {"mine/Backup", "theirs/Backup", "open/Backup", "sticky", "data/x"}) {
        std::filesystem::create_directories(root + "/" + folder);
    }
    ::chown((root + "/theirs").c_str(), kOther, kOther);
    ::chmod((root + "/open").c_str(), 0777);
    ::chmod((root + "/sticky").c_str(), 01777);
    std::filesystem::create_directory(root + "/sticky/theirs");
    ::chown((root + "/sticky/theirs").c_str(), kOther, kOther);
    std::filesystem::create_directory_symlink(root + "/data", root + "/rootlink");
    std::filesystem::create_directory_symlink(root + "/data", root + "/userlink");
    ::lchown((root + "/userlink").c_str(), kOther, kOther);

    struct Case {
        const char* path;
        uid_t owner;
        const char* untrusted;  // "" when the way is trusted
        const char* resolved;
    };
    const Case cases[] = {
        {"mine/Backup", 0, "", "mine/Backup"},
        {"theirs/Backup", 0, "theirs", nullptr},
        {"theirs/Backup", kOther, "", "theirs/Backup"},  // the user's own document
        {"theirs", 0, "", "theirs"},                     // the folder itself is walked by handles
        {"open/Backup", 0, "open", nullptr},
        {"sticky/theirs", 0, "sticky/theirs", nullptr},  // anyone else could rename it away
        {"rootlink/x", 0, "", "data/x"},
        {"userlink/x", 0, "userlink", nullptr},
        {"mine/../data/./x", 0, "", "data/x"},
    };
    for (const Case& c : cases) {
        const FolderWay way = CheckFolderWay(root + "/" + c.path, c.owner);
        EXPECT_EQ(way.error, 0) << c.path;
        EXPECT_EQ(way.untrusted, *c.untrusted ? root + "/" + c.untrusted : "") << c.path;
        if (c.resolved) {
            EXPECT_EQ(way.resolved, root + "/" + c.resolved) << c.path;
        }
    }
    EXPECT_NE(CheckFolderWay(root + "/theirs/Backup", 0).whyUntrusted.find("54321"),
              std::string::npos);

    // Opening a task's top: root's link is followed, another user's is not.
    int error = 0;
    EXPECT_TRUE(FolderHandle::OpenTaskTop(root + "/rootlink/x", &error).valid()) << error;
    EXPECT_FALSE(FolderHandle::OpenTaskTop(root + "/userlink/x", &error).valid());
    EXPECT_EQ(error, ELOOP);
    EXPECT_FALSE(FolderHandle::OpenTaskTop(root + "/missing", &error).valid());
    EXPECT_EQ(error, ENOENT);
}

TEST(FolderWayTest, Sha256OfKnownTexts) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks once padded (56 bytes), and more than one block of text.
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000, 'a')),
              "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
}

}  // namespace
}  // namespace qv::platform
