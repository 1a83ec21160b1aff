#include "items/validation.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "items/alias_files.h"
#include "platform/volumes.h"
#include "support/fake_proxy.h"
#include "support/test_support.h"

namespace qv::items {
namespace {

using Lines = std::vector<std::string>;

class ValidationTest : public ::testing::Test {
  protected:
    ValidationTest() : errors_(state_, proxy_), validator_(errors_, tw_) {
        state_.mIsCopying = true;
        state_.config.mMayAsk = false;  // unattended: errors are only logged
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
    EXPECT_EQ(state_.task.gDetailedLogText, log);
    EXPECT_EQ(state_.task.gTotError, 12);

    // Nesting stays allowed where the walk never meets the inner folder.
    state_.config.flags.gIsExcludeOn = true;
    state_.session.executiveExcludeArray = {a + "/bk"};
    EXPECT_TRUE(validator_.FoldersAreValid(a, a + "/bk", 0)) << state_.mErrString;
    // An entry naming a link leaves out the link, not its folder: the walk would meet "bk".
    std::filesystem::create_directory_symlink(a + "/bk", a + "/to-bk");
    state_.session.executiveExcludeArray = {a + "/to-bk"};
    EXPECT_FALSE(validator_.FoldersAreValid(a, a + "/bk", 0));
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
        EXPECT_EQ(state_.task.gDestFolder, real);
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
    state_.task.bootItemsToDontCopyArray = {target};
    state_.mErrString.clear();
    path = in + "/notes.txt";
    EXPECT_FALSE(validator_.TryResolveSymLinkFile(path, attrs, isLink));
    EXPECT_EQ(state_.mErrString, "");
}

TEST_F(ValidationTest, AnAliasStandsForTheNameOfItsLinkFileWithoutDesktop) {
    const std::string target = File("docs/report.txt");
    // clang-format off
    const struct { const char* alias; bool taken; } cases[] = {
        {"in/report.txt.desktop", true},
        {"in/other.txt.desktop", false},
        {"in/report.desktop", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::string path = Alias(c.alias, target);
        platform::ItemAttributes attrs = platform::ReadItemAttributes(path.c_str());
        bool isLink = false;
        EXPECT_EQ(validator_.TryResolveAliasFile(path, attrs, isLink), c.taken) << c.alias;
        EXPECT_EQ(path, c.taken ? target : dir_ / c.alias);
    }
}

TEST_F(ValidationTest, AVolumeThatCouldNotBeMountedHoldsOnlyPathsBelowItsMountPoint) {
    state_.session.executiveCannotAutomountArray = {"/media/usb", "/mnt/disk/"};
    const struct {
        const char* path;
        bool onIt;
    } cases[] = {{"/media/usb", true},     {"/media/usb/Photos", true}, {"/media/usb2", false},
                 {"/media/usb2/x", false}, {"/mnt/disk/a", true},       {"/mnt/diskette", false}};
    for (const auto& c : cases) EXPECT_EQ(validator_.IsOnUmountedVolume(c.path), c.onIt) << c.path;
}

TEST_F(ValidationTest, BootLoadersMakeAVolumeBootable) {
    // clang-format off
    const struct { Lines files; bool boot; } cases[] = {
        {{"boot/grub/grub.cfg"}, true},
        {{"boot/grub2/grub.cfg"}, true},
        {{"boot/loader/entries/arch.conf"}, true},
        {{"EFI/debian/grubx64.EFI"}, true},
        {{"boot/vmlinuz-6.1.0"}, true},
        {{"EFI/grubx64.efi", "boot/grub/menu.lst", "home/vmlinuz"}, false},
    };
    // clang-format on
    int n = 0;
    for (const auto& c : cases) {
        const std::string volume = Dir("v" + std::to_string(n++));
        for (const std::string& file : c.files)
            File(volume.substr(dir_.path().size() + 1) + "/" + file);
        EXPECT_EQ(platform::HasBootLoader(volume), c.boot) << c.files.front();
        EXPECT_FALSE(platform::IsRootOfBootableVolume(volume));  // not a mount point
    }
    EXPECT_TRUE(platform::CanVolumeManageOwnership(dir_.path()));
    EXPECT_FALSE(platform::CanVolumeManageOwnership(dir_ / "missing"));
}

TEST_F(ValidationTest, TheSystemDiskNeedsRootAndSettingsThatKeepTheCopyBootable) {
    const std::string copy = Dir("copy");
    if (copy.rfind("/tmp/", 0) != 0) GTEST_SKIP() << "needs a folder the copy of / leaves empty";
    const std::string web =
        "\r\rPlease take a look at our web page:\rhttps://quorvel.app/support/backup-boot-disk\r";
    const std::string noRoot =
        "Cannot process the boot disk without the root's privileges. Please log in as root or "
        "mark the check-box \"Run with root permissions\" in the QV Preferences panel." +
        web + "It explains how to back-up a bootable volume properly";
    const auto discouraged = [&web](const std::string& title) {
        return "We discourage to sync/backup the boot disk using the check-box \"" + title +
               "\" on. Unmark that check-box in the QV Settings panel." + web +
               "It explains how to back-up the boot disk properly";
    };
    // clang-format off
    const struct { std::string src, dst; bool root, aliases, links, subFolder; std::string message; } cases[] = {
        {"/", copy, false, false, false, false, noRoot},
        {copy, "/", false, false, false, false, noRoot},
        {"/", copy, true, true, true, false, discouraged("Resolve aliases")},
        {"/", copy, true, false, true, true, discouraged("Resolve symbolic links")},
        {"/", copy, true, false, false, true, discouraged("Write each run into a sub-folder of the destination:")},
        {"/", copy, true, false, false, false, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        tw_.mEuidIsRoot = c.root;
        state_.config.flags.gIsResolveAliasOn = c.aliases;
        state_.config.flags.gIsResolveSymLinkOn = c.links;
        state_.config.flags.gCreateDestFolder = c.subFolder;
        state_.mErrString.clear();
        EXPECT_EQ(validator_.FoldersAreValid(c.src, c.dst, 0), c.message.empty()) << c.message;
        EXPECT_EQ(state_.mErrString, c.message);
    }
}

TEST_F(ValidationTest, ABootableVolumeWithoutRootIsProcessedAfterAWarning) {
    const std::string volume = Dir("system"), copy = Dir("copy");
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a volume needs root";
    if (::mount("quorvel-test", volume.c_str(), "tmpfs", 0, nullptr) != 0) {
        GTEST_SKIP() << "this machine does not let the test mount a volume";
    }
    File("system/boot/vmlinuz-6.1.0");
    EXPECT_TRUE(platform::IsRootOfBootableVolume(volume));
    EXPECT_EQ(platform::FileSystemTypeOf(volume), "tmpfs");
    tw_.mEuidIsRoot = false;
    // Unattended, the warning is logged and the run goes on.
    EXPECT_TRUE(validator_.FoldersAreValid(volume, copy, 0));
    EXPECT_TRUE(test::Contains(state_.task.gDetailedLogText,
                               "The source is a bootable volume, therefore it should be "
                               "processed with the root's privileges."));
    ::umount(volume.c_str());
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
        state.config.gIsOnError = c.policy;
        state.config.mMayAsk = c.startedByUser;
        ErrorPath errors(state, proxy);
        errors.SetErrMsg({"Something ", "failed"});
        EXPECT_EQ(errors.AddErrQuickly(0), c.goesOn);
        EXPECT_EQ(state.IsRunning(), c.goesOn);
        EXPECT_EQ(state.mUserPressedStop.load(), c.stopPressed);
        EXPECT_EQ(proxy.errors(), c.dialog.empty() ? Lines{} : Lines{c.dialog});
        EXPECT_EQ(state.task.gDetailedLogText, "√ Something failed\r");  // logged in every case
    }
    // "Continue and Don't Ask Again": this error and the later ones of the run go on, logged
    // and counted, without a question.
    {
        test::FakeProxy proxy;
        proxy.itemErrorAnswer = run::MainThreadProxy::ErrorAnswer::SkipAll;
        run::RunState state;
        state.mIsCopying = true;
        state.config.gIsOnError = run::kOnErrorAsk;
        state.config.mMayAsk = true;
        ErrorPath errors(state, proxy);
        for (int i = 0; i < 3; ++i) {
            errors.SetErrMsg({"Something failed"});
            EXPECT_TRUE(errors.AddErrQuickly(0));
        }
        EXPECT_EQ(proxy.errors(), Lines{asked});
        EXPECT_EQ(state.task.gTotError, 3);
        EXPECT_TRUE(state.IsRunning());
    }
    // A message that already ends its sentence is not given a second period.
    test::FakeProxy proxy;
    run::RunState state;
    state.mIsCopying = true;
    state.config.gIsOnError = run::kOnErrorStop;
    state.config.mMayAsk = true;
    ErrorPath errors(state, proxy);
    errors.SetErrMsg({"It changed since the scan."});
    errors.AddErrQuickly(0);
    EXPECT_EQ(proxy.errors(), Lines{"It changed since the scan.\rThe process stopped."});
}

}  // namespace
}  // namespace qv::items
