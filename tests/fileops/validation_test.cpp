#include "fileops/validation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fileops/alias_files.h"
#include "support/test_support.h"

namespace qv::fileops {
namespace {

// Answers error questions as scripted and remembers what it was shown.
class RecordingProxy : public run::MainThreadProxy {
  public:
    run::ConflictReply AskReplace(const run::ConflictQuestion&) override {
        return {run::ConflictAnswer::Skip, false};
    }
    void ShowErrorAndStop(const std::string& title, const std::string& message) override {
        shown.push_back(title + "|" + message);
    }
    bool AskSkipAndContinue(const std::string& title, const std::string& message) override {
        asked.push_back(title + "|" + message);
        return skipAndContinue;
    }
    std::vector<std::string> shown, asked;
    bool skipAndContinue = true;
};

class ValidationTest : public ::testing::Test {
  protected:
    ValidationTest() : errors_(state_, proxy_), validator_(errors_, tw_) {
        state_.mIsCopying = true;
        state_.mExecutedBy = run::kExecutedByTimer;  // unattended unless a test says otherwise
    }
    std::string Dir(const std::string& name) {
        std::filesystem::create_directories(dir_ / name);
        return dir_ / name;
    }
    std::string File(const std::string& name, const std::string& text = "x") {
        test::WriteText(dir_ / name, text);
        return dir_ / name;
    }

    test::TempDir dir_;
    run::RunState state_;
    RecordingProxy proxy_;
    TWUtilities tw_;
    ErrorPath errors_;
    Validator validator_;
};

TEST_F(ValidationTest, FoldersAreValidRefusesWhatCannotBeATask) {
    const std::string a = Dir("a"), b = Dir("b");
    const std::string x = File("one/x.txt"), y = File("two/y.txt"), x2 = File("three/x.txt");
    const struct {
        std::string src, dst;
        std::string message;  // empty: valid
    } cases[] = {
        {a, b, ""},
        {x, x2, ""},  // two files of the same name
        {"", b, "Source Folder not defined"},
        {dir_ / "gone", b, "Cannot find the source folder:\r\"" + dir_ / "gone" + "\""},
        {a, dir_ / "gone", "Cannot find the destination folder:\r\"" + dir_ / "gone" + "\""},
        {a, x, "Can't set a source folder and a destination file"},
        {x, a, "Can't set a source file and a destination folder"},
        {a, a, "Cannot set equal source and destination"},
        {x, y, "Can't set 2 files with different names"},
    };
    for (const auto& c : cases) {
        state_.gTotError = 0;
        state_.gDetailedLogText.clear();
        const bool valid = validator_.FoldersAreValid(c.src, c.dst, 0);
        EXPECT_EQ(valid, c.message.empty()) << c.src << " / " << c.dst;
        if (c.message.empty()) continue;
        EXPECT_EQ(state_.mErrString, c.message);
        EXPECT_EQ(state_.gTotError, 1);
        EXPECT_EQ(state_.gDetailedLogText, "√ " + c.message + "\r");
    }
    // An undefined source names the other side too when it is undefined as well.
    validator_.FoldersAreValid("", "", 0);
    EXPECT_EQ(state_.gSourceFolder, "Source Folder not defined");
    EXPECT_EQ(state_.gDestFolder, "Destination Folder not defined");
}

TEST_F(ValidationTest, TopFoldersAreResolvedThroughLinksAndAliases) {
    const std::string real = Dir("real dest");
    const std::string a = Dir("a");
    std::filesystem::create_directory_symlink(real, dir_ / "link");
    test::WriteText(dir_ / "alias.desktop", "[Desktop Entry]\nType=Link\nName=x\nURL=file://" +
                                                dir_.path() + "/real%20dest\n");
    EXPECT_TRUE(validator_.FoldersAreValid(a, dir_ / "link", 0));
    EXPECT_EQ(state_.gDestFolder, real);
    EXPECT_TRUE(validator_.FoldersAreValid(a, dir_ / "alias.desktop", 0));
    EXPECT_EQ(state_.gDestFolder, real);

    std::filesystem::create_symlink(dir_ / "nowhere", dir_ / "dangling");
    EXPECT_FALSE(validator_.FoldersAreValid(dir_ / "dangling", a, 0));
    EXPECT_EQ(state_.mErrString,
              "Can't resolve the main source SYM link \"" + dir_ / "dangling" + "\"");
    test::WriteText(dir_ / "broken.desktop",
                    "[Desktop Entry]\nType=Link\nURL=file://" + dir_.path() + "/missing\n");
    EXPECT_FALSE(validator_.FoldersAreValid(a, dir_ / "broken.desktop", 0));
    EXPECT_EQ(state_.mErrString,
              "Can't resolve the main destination alias \"" + dir_ / "broken.desktop" + "\"");
}

TEST_F(ValidationTest, AliasFilesAreDesktopLinksToLocalPlaces) {
    const std::string target = File("docs/report.txt");
    const struct {
        std::string content;
        bool isAlias;
    } cases[] = {
        {"[Desktop Entry]\nType=Link\nURL=file://" + target + "\n", true},
        {"[Desktop Entry]\r\nType=Link\r\nURL=file://localhost" + target + "\r\n", true},
        {"[Desktop Entry]\nType=Application\nExec=true\n", false},
        {"[Desktop Entry]\nType=Link\nURL=https://example.invalid/\n", false},
        {"[Other Group]\nType=Link\nURL=file://" + target + "\n", false},
    };
    for (const auto& c : cases) {
        test::WriteText(dir_ / "a.desktop", c.content);
        EXPECT_EQ(IsAlias(dir_ / "a.desktop"), c.isAlias) << c.content;
        std::string path = dir_ / "a.desktop";
        EXPECT_TRUE(ResolveTheAlias(path));
        EXPECT_EQ(path, c.isAlias ? target : dir_ / "a.desktop");
    }
    // A chain of aliases is followed; a loop is not resolved.
    test::WriteText(dir_ / "b.desktop",
                    "[Desktop Entry]\nType=Link\nURL=file://" + dir_.path() + "/a.desktop\n");
    test::WriteText(dir_ / "a.desktop", "[Desktop Entry]\nType=Link\nURL=file://" + target + "\n");
    std::string chained = dir_ / "b.desktop";
    EXPECT_TRUE(ResolveTheAlias(chained));
    EXPECT_EQ(chained, target);
    test::WriteText(dir_ / "a.desktop",
                    "[Desktop Entry]\nType=Link\nURL=file://" + dir_.path() + "/b.desktop\n");
    std::string loop = dir_ / "a.desktop";
    EXPECT_FALSE(ResolveTheAlias(loop));
}

TEST_F(ValidationTest, ResolvingItemsKeepsOnlyTargetsOfTheSameName) {
    const std::string target = File("elsewhere/notes.txt");
    std::filesystem::create_directories(dir_ / "in");
    std::filesystem::create_symlink(target, dir_ / "in/notes.txt");
    std::filesystem::create_symlink(target, dir_ / "in/other.txt");

    std::string path = dir_ / "in/notes.txt";
    platform::ItemAttributes attrs = platform::ReadItemAttributes(path.c_str());
    bool isLink = true;
    ASSERT_TRUE(validator_.TryResolveSymLinkFile(path, attrs, isLink));
    EXPECT_EQ(path, target);
    EXPECT_EQ(attrs.type, platform::ItemType::RegularFile);
    EXPECT_FALSE(isLink);

    path = dir_ / "in/other.txt";
    EXPECT_FALSE(validator_.TryResolveSymLinkFile(path, attrs, isLink));
    EXPECT_EQ(path, dir_ / "in/other.txt");
    EXPECT_NE(state_.mErrString.find("which has a different file name"), std::string::npos);
    EXPECT_EQ(state_.gTotError, 1);

    // A target that is a top-level item never copied is left out without a word.
    state_.bootItemsToDontCopyArray = {target};
    path = dir_ / "in/notes.txt";
    state_.mErrString.clear();
    EXPECT_FALSE(validator_.TryResolveSymLinkFile(path, attrs, isLink));
    EXPECT_TRUE(state_.mErrString.empty());
}

TEST_F(ValidationTest, PrivilegeChecksExplainWhatCannotBeDone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    // Judge as an ordinary user who owns nothing here.
    TWUtilities asUser;
    asUser.mUserID = 4242;
    asUser.mEUserID = 4242;
    asUser.mGroupsID = {4242};
    asUser.mEuidIsRoot = false;
    Validator validator(errors_, asUser);

    const std::string a = Dir("a"), b = Dir("b");
    const std::string secret = File("a/secret.txt");
    ::chmod(secret.c_str(), 0600);  // root's, unreadable by the user
    const std::string fixed = File("b/fixed.txt");
    ::chmod(b.c_str(), 0555);  // nothing in b can be replaced or deleted by the user
    const std::string readable = File("a/fixed.txt");
    ::chmod(readable.c_str(), 0644);

    EXPECT_EQ(validator.CheckPrivilegesOnFiles(secret, b + "/secret.txt", 2), 1);
    EXPECT_EQ(state_.mErrString,
              "Can't read the item \"" + secret + "\"\rInsufficient privileges.");
    EXPECT_EQ(validator.CheckPrivilegesOnFiles(readable, fixed, 4), 1);
    EXPECT_EQ(state_.mErrString, "Can't write the item\r\"" + readable + "\" to\r\"" + fixed +
                                     "\".\rInsufficient privileges on that file or its parent "
                                     "folders.");
    EXPECT_EQ(validator.CheckPrivilegesOnFiles(readable, fixed, 7), 1);
    EXPECT_EQ(state_.mErrString,
              "Can't delete the item\r\"" + fixed + "\".\rInsufficient privileges.");
    EXPECT_EQ(validator.CheckPrivilegesOnFiles(readable, dir_ / "b/new.txt", 2), 0);
    ::chmod(a.c_str(), 0700);
    EXPECT_EQ(validator.CheckPrivilegesOnFiles(a, b, 1), 1);
    EXPECT_EQ(state_.mErrString,
              "Can't scan the source folder \"" + a + "\".\rInsufficient privileges.");
    // Modes with nothing to read or write pass.
    for (int mode : {0, 8, 9, -2})
        EXPECT_EQ(validator.CheckPrivilegesOnFiles(secret, fixed, mode), 0);
}

TEST_F(ValidationTest, ErrorPolicyDecidesWhetherTheRunGoesOn) {
    const struct {
        int policy;
        bool startedByUser;
        bool answer;  // to "skip and continue"
        bool goesOn;
        std::size_t shown, asked;
        bool stopPressed;
    } cases[] = {
        {run::kOnErrorStop, true, true, false, 1, 0, false},
        {run::kOnErrorContinue, true, true, true, 0, 0, false},
        {run::kOnErrorAsk, true, true, true, 0, 1, false},
        {run::kOnErrorAsk, true, false, false, 0, 1, true},
        {run::kOnErrorStop, false, true, true, 0, 0, false},  // a timer run never waits
        {9, true, true, false, 0, 0, false},
    };
    for (const auto& c : cases) {
        RecordingProxy proxy;
        proxy.skipAndContinue = c.answer;
        run::RunState state;
        state.mIsCopying = true;
        state.gIsOnError = c.policy;
        state.mExecutedBy = c.startedByUser ? run::kExecutedByUser : run::kExecutedByTimer;
        ErrorPath errors(state, proxy);
        errors.SetErrMsg({"Something ", "failed"});
        EXPECT_EQ(errors.AddErrQuickly(0), c.goesOn) << c.policy;
        EXPECT_EQ(state.IsRunning(), c.goesOn) << c.policy;
        EXPECT_EQ(state.mUserPressedStop.load(), c.stopPressed) << c.policy;
        EXPECT_EQ(proxy.shown.size(), c.shown) << c.policy;
        EXPECT_EQ(proxy.asked.size(), c.asked) << c.policy;
        EXPECT_EQ(state.gTotError, 1);
        EXPECT_EQ(state.gDetailedLogText, "√ Something failed\r");
    }
    RecordingProxy proxy;
    run::RunState state;
    state.gIsOnError = run::kOnErrorStop;
    ErrorPath errors(state, proxy);
    errors.ManageTheError("Disk full", 0);
    ASSERT_EQ(proxy.shown.size(), 1u);
    EXPECT_EQ(proxy.shown[0], "Warning:|Disk full.\rThe process stopped.");
}

}  // namespace
}  // namespace qv::fileops
