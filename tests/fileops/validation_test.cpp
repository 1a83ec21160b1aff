#include "fileops/validation.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fileops/alias_files.h"
#include "platform/volumes.h"
#include "support/fake_proxy.h"
#include "support/test_support.h"

namespace qv::fileops {
namespace {

using Lines = std::vector<std::string>;

class ValidationTest : public ::testing::Test {
  protected:
    ValidationTest() : errors_(state_, proxy_), validator_(errors_, tw_) {
        state_.mIsCopying = true;
        state_.mMayAsk = false;  // unattended: errors are only logged
    }
    std::string Dir(const std::string& name) {
        std::filesystem::create_directories(dir_ / name);
        return dir_ / name;
    }
    std::string File(const std::string& name, const std::string& text = "x") {
        test::WriteText(dir_ / name, text);
        return dir_ / name;
    }
    // A desktop link file pointing at target.
    std::string Alias(const std::string& name, const std::string& target) {
        return File(name, "[Desktop Entry]\nType=Link\nURL=file://" + target + "\n");
    }

    test::TempDir dir_;
    run::RunState state_;
    test::FakeProxy proxy_;
    TWUtilities tw_;
    ErrorPath errors_;
    Validator validator_;
};

TEST_F(ValidationTest, FoldersAreValidRefusesWhatCannotBeATask) {
    const std::string a = Dir("a"), b = Dir("b"), gone = dir_ / "gone";
    const std::string x = File("one/x.txt"), y = File("two/y.txt"), x2 = File("three/x.txt");
    // clang-format off
    const struct { std::string src, dst, message; /* empty: valid */ } cases[] = {
        {a, b, ""},
        {x, x2, ""},  // two files of the same name
        {"", b, "Source Folder not defined"},
        {gone, b, "Cannot find the source folder:\r\"" + gone + "\""},
        {a, gone, "Cannot find the destination folder:\r\"" + gone + "\""},
        {a, x, "Can't set a source folder and a destination file"},
        {x, a, "Can't set a source file and a destination folder"},
        {a, a, "Cannot set equal source and destination"},
        {a, a + "/.", "Cannot set equal source and destination"},
        {x, y, "Can't set 2 files with different names"},
        {a, Dir("a/bk"), "Can't set a destination folder inside the source folder"},
        {Dir("b/photos"), b, "Can't set a source folder inside the destination folder"},
        {Dir("b/photos/2026"), b + "/../b", "Can't set a source folder inside the destination folder"},
        {Dir("c"), Dir("cd"), ""},  // a shared beginning of the name is no nesting
        {"c", b, "Cannot find the source folder:\r\"c\"\rA folder's path must begin with \"/\"."},
    };
    // clang-format on
    std::string log;  // each refusal is logged and counted
    for (const auto& c : cases) {
        EXPECT_EQ(validator_.FoldersAreValid(c.src, c.dst, 0), c.message.empty()) << c.src;
        if (c.message.empty()) continue;
        EXPECT_EQ(state_.mErrString, c.message);
        log += "√ " + c.message + "\r";
    }
    EXPECT_EQ(state_.gDetailedLogText, log);
    EXPECT_EQ(state_.gTotError, 12);

    // Nesting stays allowed where the walk never meets the inner folder.
    state_.flags.gIsExcludeOn = true;
    state_.executiveExcludeArray = {a + "/bk"};
    EXPECT_TRUE(validator_.FoldersAreValid(a, a + "/bk", 0)) << state_.mErrString;
}

// A folder standing where a volume belongs, with nothing mounted there, is not the volume: an
// exact run would take it for a side whose items were all deleted.
TEST_F(ValidationTest, AFolderWhereAVolumeIsNotMountedIsRefused) {
    const std::string media = Dir("media"), drive = Dir("media/usb/Backup");
    const std::string fstabPoint = Dir("disk");
    test::WriteText(dir_ / "fstab", "# comment\nUUID=1 " + fstabPoint + " ext4 defaults 0 2\n");
    const std::vector<std::string> points = platform::FstabMountPoints(dir_ / "fstab");
    EXPECT_EQ(points, std::vector<std::string>{fstabPoint});
    EXPECT_TRUE(platform::IsOnVolumeNotMounted(drive, {media}, {}));
    EXPECT_TRUE(platform::IsOnVolumeNotMounted(fstabPoint + "/sub", {}, points));
    EXPECT_FALSE(platform::IsOnVolumeNotMounted(Dir("elsewhere"), {media}, points));
    EXPECT_FALSE(platform::IsOnVolumeNotMounted(media, {media}, points));  // the base itself
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a volume needs root";
    if (::mount("quorvel-test", (dir_ / "media/usb").c_str(), "tmpfs", 0, nullptr) != 0) {
        GTEST_SKIP() << "this machine does not let the test mount a volume";
    }
    Dir("media/usb/Backup");
    EXPECT_FALSE(platform::IsOnVolumeNotMounted(drive, {media}, {}));
    ::umount((dir_ / "media/usb").c_str());
}

TEST_F(ValidationTest, TopFoldersAreResolvedThroughLinksAndAliases) {
    const std::string real = Dir("real dest"), a = Dir("a");
    std::filesystem::create_directory_symlink(real, dir_ / "link");
    Alias("alias.desktop", dir_.path() + "/real%20dest");
    for (const std::string& dest : {dir_ / "link", dir_ / "alias.desktop"}) {
        EXPECT_TRUE(validator_.FoldersAreValid(a, dest, 0)) << dest;
        EXPECT_EQ(state_.gDestFolder, real);
    }
    std::filesystem::create_symlink(dir_ / "nowhere", dir_ / "dangling");
    EXPECT_FALSE(validator_.FoldersAreValid(dir_ / "dangling", a, 0));
    EXPECT_EQ(state_.mErrString,
              "Can't resolve the main source SYM link \"" + dir_ / "dangling" + "\"");
    const std::string broken = Alias("broken.desktop", dir_ / "missing");
    EXPECT_FALSE(validator_.FoldersAreValid(a, broken, 0));
    EXPECT_EQ(state_.mErrString, "Can't resolve the main destination alias \"" + broken + "\"");
}

TEST_F(ValidationTest, AliasFilesAreDesktopLinksToLocalPlacesFollowedThroughChains) {
    const std::string target = File("docs/report.txt");
    // clang-format off
    const struct { std::string content; bool isAlias; } cases[] = {
        {"[Desktop Entry]\nType=Link\nURL=file://" + target + "\n", true},
        {"[Desktop Entry]\r\nType=Link\r\nURL=file://localhost" + target + "\r\n", true},
        {"[Desktop Entry]\nType=Application\nExec=true\n", false},
        {"[Desktop Entry]\nType=Link\nURL=https://example.invalid/\n", false},
        {"[Other Group]\nType=Link\nURL=file://" + target + "\n", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::string path = File("a.desktop", c.content);
        EXPECT_EQ(IsAlias(path), c.isAlias) << c.content;
        EXPECT_TRUE(ResolveTheAlias(path));
        EXPECT_EQ(path, c.isAlias ? target : dir_ / "a.desktop");
    }
    std::string chained = Alias("b.desktop", Alias("a.desktop", target));
    EXPECT_TRUE(ResolveTheAlias(chained));
    EXPECT_EQ(chained, target);
    std::string loop = Alias("a.desktop", dir_ / "b.desktop");
    EXPECT_FALSE(ResolveTheAlias(loop));
}

TEST_F(ValidationTest, ResolvingALinkedItemKeepsOnlyATargetOfTheSameName) {
    const std::string target = File("elsewhere/notes.txt"), in = Dir("in");
    std::filesystem::create_symlink(target, in + "/notes.txt");
    std::filesystem::create_symlink(target, in + "/other.txt");
    std::string path = in + "/notes.txt";
    platform::ItemAttributes attrs = platform::ReadItemAttributes(path.c_str());
    bool isLink = true;
    ASSERT_TRUE(validator_.TryResolveSymLinkFile(path, attrs, isLink));
    EXPECT_EQ(path, target);
    EXPECT_EQ(attrs.type, platform::ItemType::RegularFile);
    EXPECT_FALSE(isLink);
    path = in + "/other.txt";
    EXPECT_FALSE(validator_.TryResolveSymLinkFile(path, attrs, isLink));
    EXPECT_EQ(path, in + "/other.txt");
    EXPECT_TRUE(test::Contains(state_.mErrString, "which has a different file name"));

    // A target among the top-level items never copied is left out without a word.
    state_.bootItemsToDontCopyArray = {target};
    state_.mErrString.clear();
    path = in + "/notes.txt";
    EXPECT_FALSE(validator_.TryResolveSymLinkFile(path, attrs, isLink));
    EXPECT_EQ(state_.mErrString, "");
}

TEST_F(ValidationTest, PrivilegeChecksExplainWhatCannotBeDone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    TWUtilities asUser;  // an ordinary user who owns nothing here
    asUser.mUserID = asUser.mEUserID = 4242;
    asUser.mGroupsID = {4242};
    asUser.mEuidIsRoot = false;
    Validator validator(errors_, asUser);
    const std::string a = Dir("a"), b = Dir("b"), fixed = File("b/fixed.txt");
    const std::string secret = File("a/secret.txt"), readable = File("a/fixed.txt");
    for (const auto& [path, mode] :
         {std::pair{secret, 0600}, {readable, 0644}, {b, 0555}, {a, 0700}}) {
        ::chmod(path.c_str(), mode);  // b's items cannot be replaced nor deleted, a not scanned
    }
    // clang-format off
    const struct { std::string src, dst; int copyMode; std::string message; /* empty: allowed */ } cases[] = {
        {secret, b + "/secret.txt", 2, "Can't read the item \"" + secret + "\"\rInsufficient privileges."},
        {readable, fixed, 4, "Can't write the item\r\"" + readable + "\" to\r\"" + fixed +
                             "\".\rInsufficient privileges on that file or its parent folders."},
        {readable, fixed, 7, "Can't delete the item\r\"" + fixed + "\".\rInsufficient privileges."},
        {a, b, 1, "Can't scan the source folder \"" + a + "\".\rInsufficient privileges."},
        {readable, dir_ / "b/new.txt", 2, ""},
        {secret, fixed, 0, ""},  // modes with nothing to read or write
        {secret, fixed, 9, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        state_.mErrString.clear();
        EXPECT_EQ(validator.CheckPrivilegesOnFiles(c.src, c.dst, c.copyMode),
                  c.message.empty() ? kPrivilegesOk : kPrivilegesInsufficient)
            << c.copyMode << " " << c.src;
        EXPECT_EQ(state_.mErrString, c.message);
    }
}

TEST_F(ValidationTest, ErrorPolicyDecidesWhetherTheRunGoesOn) {
    const std::string stopped = "Something failed.\rThe process stopped.";
    const std::string asked = "Something failed.\rWould you skip and continue?";
    // clang-format off
    const struct { int policy; bool startedByUser, answer, goesOn, stopPressed; std::string dialog; } cases[] = {
        //                      by user  answer  goes on  Stop
        {run::kOnErrorStop,     true,    true,   false,   false, stopped},
        {run::kOnErrorContinue, true,    true,   true,    false, ""},
        {run::kOnErrorAsk,      true,    true,   true,    false, asked},
        {run::kOnErrorAsk,      true,    false,  false,   true,  asked},
        {run::kOnErrorStop,     false,   true,   true,    false, ""},  // an unattended run never waits
        {run::kOnErrorAsk,      false,   false,  true,    false, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.policy);
        test::FakeProxy proxy;
        proxy.skipAndContinue = c.answer;
        run::RunState state;
        state.mIsCopying = true;
        state.gIsOnError = c.policy;
        state.mMayAsk = c.startedByUser;
        ErrorPath errors(state, proxy);
        errors.SetErrMsg({"Something ", "failed"});
        EXPECT_EQ(errors.AddErrQuickly(0), c.goesOn);
        EXPECT_EQ(state.IsRunning(), c.goesOn);
        EXPECT_EQ(state.mUserPressedStop.load(), c.stopPressed);
        EXPECT_EQ(proxy.errors(), c.dialog.empty() ? Lines{} : Lines{c.dialog});
        EXPECT_EQ(state.gDetailedLogText, "√ Something failed\r");  // logged in every case
    }
}

}  // namespace
}  // namespace qv::fileops
