// The application shell without a window: start-up from an older support folder, the document
// commands, and the settings files that other programs change while the window is open.

#include "app/main_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/file_io.h"
#include "sessions/plist_codec.h"
#include "support/test_support.h"

namespace qv::app {
namespace {

namespace fs = std::filesystem;

class MainAppTest : public test::IsolatedHomeTest {
  protected:
    std::unique_ptr<MainApp> Started() {
        auto app = std::make_unique<MainApp>(QV_RESOURCES_DIR);
        const StartupResult started = app->Start();
        EXPECT_TRUE(started.ok) << started.alert;
        notices = started.notices;
        return app;
    }
    std::string supportParent() const { return home() + "/.local/share/Nimbrel"; }
    std::vector<std::string> notices;
};

TEST_F(MainAppTest, AnOlderSupportFolderIsCopiedWholeBeforeTheIndexFolderIsLookedAt) {
    const std::string old = supportParent() + "/Quorvel 3";
    fs::create_directories(old + "/ExactSync Indexes/deep");
    test::WriteText(old + "/ExactSync Indexes/deep/index", "kept");
    ::chmod((old + "/ExactSync Indexes/deep/index").c_str(), 0640);
    fs::create_symlink("deep/index", old + "/ExactSync Indexes/link");

    auto app = Started();
    const std::string copied = app->paths().pathExactSyncIndexFolder;
    EXPECT_EQ(test::ReadText(copied + "/deep/index"), "kept");
    EXPECT_EQ(fs::status(copied + "/deep/index").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(fs::read_symlink(copied + "/link"), "deep/index");  // a link stays a link
    EXPECT_TRUE(fs::exists(old + "/ExactSync Indexes/deep/index"));  // the old one is kept
    // Once there, the new folder is never replaced by the old one again.
    test::WriteText(copied + "/deep/index", "newer");
    Started();
    EXPECT_EQ(test::ReadText(copied + "/deep/index"), "newer");
}

TEST_F(MainAppTest, DocumentsGoFromNewThroughSaveAsAndCloseToOpen) {
    auto app = Started();
    auto& doc = app->document();
    EXPECT_TRUE(doc.isDocumentTemplate);
    EXPECT_FALSE(app->NewAsksTemplateQuestion());  // a fresh template has nothing to lose
    doc.GetSessionDict(0)->dictAt("consoleDict")->set("topFolder", "/srv/a");
    EXPECT_TRUE(app->NewAsksTemplateQuestion());
    EXPECT_TRUE(app->SaveNeedsPath());  // the template is saved through Save As

    app->NewDocument();
    EXPECT_EQ(app->DocumentTitle(), "Untitled");
    EXPECT_FALSE(doc.isDocumentToBeSaved());  // nothing to ask about an untouched document
    EXPECT_TRUE(app->SaveNeedsPath());
    doc.GetSessionDict(1)->dictAt("consoleDict")->set("sessionName", "Photos");
    EXPECT_TRUE(doc.isDocumentToBeSaved());

    std::string written;
    ASSERT_TRUE(app->SaveDocumentAs(home() + "/mine", &written));
    EXPECT_EQ(written, home() + "/mine.qvd");
    EXPECT_EQ(app->DocumentTitle(), "mine");
    EXPECT_FALSE(app->SaveNeedsPath());
    EXPECT_FALSE(doc.isDocumentToBeSaved());
    app->CloseDocument();
    EXPECT_FALSE(doc.isDocumentOpen);

    // A file that is not a document leaves the open one as it was and leaves the recent list.
    test::WriteText(home() + "/broken.qvd", "not a property list");
    app->recentDocuments().Add(home() + "/broken.qvd");
    EXPECT_FALSE(app->OpenDocument(home() + "/broken.qvd"));
    EXPECT_EQ(doc.GetSessionName(1), "Photos");

    ASSERT_TRUE(app->OpenDocument(written));
    EXPECT_EQ(doc.GetSessionName(1), "Photos");
    EXPECT_TRUE(doc.isDocumentSaved);
    EXPECT_FALSE(doc.isDocumentTemplate);
    // The recent list survives a restart, newest first, without the broken file.
    auto again = Started();
    EXPECT_EQ(again->recentDocuments().paths(), std::vector<std::string>{written});
}

TEST_F(MainAppTest, TheTemplateIsReloadedAfterOthersChangeItButNeverAfterOurOwnWrites) {
    auto app = Started();
    auto& doc = app->document();
    ASSERT_TRUE(app->WriteTemplateAndPreferences().empty());
    EXPECT_FALSE(app->ReloadChangedSettingsFiles().templateReloaded);  // our own write

    // Another program (the command) renames a session in the template.
    sessions::SessionDocument other(doc.pathFileDocTemplate());
    other.ReadFileTemplate();
    other.GetSessionDict(0)->dictAt("consoleDict")->set("sessionName", "Edited outside");
    ASSERT_TRUE(other.WriteFileSession(doc.pathFileDocTemplate()));
    SettingsFilesReload r = app->ReloadChangedSettingsFiles();
    EXPECT_TRUE(r.templateReloaded);
    EXPECT_EQ(doc.GetSessionName(0), "Edited outside");
    EXPECT_FALSE(app->ReloadChangedSettingsFiles().templateReloaded);  // read once only

    // A damaged template keeps the sessions on screen.
    test::WriteText(doc.pathFileDocTemplate(), "<plist><dict>");
    r = app->ReloadChangedSettingsFiles();
    EXPECT_FALSE(r.templateReloaded);
    EXPECT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(doc.GetSessionName(0), "Edited outside");

    // Edits made in the window reach the file before another program's can meet them, and
    // writing them is no outside change.
    doc.GetSessionDict(1)->dictAt("consoleDict")->set("topFolder", "/srv/picked");
    ASSERT_TRUE(doc.SaveTemplateIfChanged());
    EXPECT_FALSE(app->ReloadChangedSettingsFiles().templateReloaded);
    EXPECT_EQ(other.ReloadTemplate().ok, true);
    EXPECT_EQ(other.GetSessionDict(1)->dictAt("consoleDict")->stringAt("topFolder"), "/srv/picked");

    // A named document on screen is never replaced by the template.
    ASSERT_TRUE(app->SaveDocumentAs(home() + "/named.qvd"));
    ASSERT_TRUE(other.WriteFileSession(doc.pathFileDocTemplate()));
    doc.GetSessionDict(0)->dictAt("consoleDict")->set("sessionName", "Named");
    EXPECT_FALSE(app->ReloadChangedSettingsFiles().templateReloaded);
    EXPECT_EQ(doc.GetSessionName(0), "Named");
}

TEST_F(MainAppTest, PreferencesChangedOutsideAreReadAndDamagedSettingsFilesAreKeptAside) {
    auto app = Started();
    sessions::Preferences outside(app->paths());
    outside.ReadFilePreferences();
    outside.mPrefDict.set("prefBeepWhenDone", 1);
    ASSERT_TRUE(outside.WriteFilePreferences(false));
    EXPECT_TRUE(app->ReloadChangedSettingsFiles().preferencesReloaded);
    EXPECT_EQ(app->preferences().mPrefDict.intAt("prefBeepWhenDone"), 1);
    EXPECT_FALSE(app->ReloadChangedSettingsFiles().preferencesReloaded);

    // At start-up, damaged files are renamed aside (not overwritten) and the user is told.
    const std::string prefs = app->paths().pathFilePref;
    const std::string templ = app->paths().pathFileDocTemplate;
    test::WriteText(prefs, "garbage");
    test::WriteText(templ, "garbage too");
    auto again = Started();
    EXPECT_EQ(notices.size(), 2u);
    EXPECT_EQ(test::ReadText(prefs + sessions::kSetAsideSuffix), "garbage");
    EXPECT_EQ(test::ReadText(templ + sessions::kSetAsideSuffix), "garbage too");
    EXPECT_EQ(again->document().SessionCount(), 2);
}

TEST_F(MainAppTest, QuittingNeverUndoesOthersChangesNorPutsANamedDocumentInTheTemplate) {
    auto app = Started();
    auto& doc = app->document();
    ASSERT_TRUE(app->WriteTemplateAndPreferences().empty());
    // Another program changes both files a moment before the window quits: both changes stand.
    sessions::SessionDocument other(doc.pathFileDocTemplate());
    other.ReadFileTemplate();
    other.GetSessionDict(0)->dictAt("consoleDict")->set("sessionName", "Just added");
    ASSERT_TRUE(other.WriteFileSession(doc.pathFileDocTemplate()));
    sessions::Preferences prefs(app->paths());
    prefs.ReadFilePreferences();
    prefs.mPrefDict.set("prefBeepWhenDone", 1);
    ASSERT_TRUE(prefs.WriteFilePreferences(false));
    ASSERT_TRUE(app->WriteTemplateAndPreferences().empty());
    other.ReadFileTemplate();
    EXPECT_EQ(other.GetSessionName(0), "Just added");
    prefs.ReadFilePreferences();
    EXPECT_EQ(prefs.mPrefDict.intAt("prefBeepWhenDone"), 1);

    // A named document on screen stays out of the template.
    ASSERT_TRUE(app->SaveDocumentAs(home() + "/named.qvd"));
    doc.GetSessionDict(0)->dictAt("consoleDict")->set("sessionName", "Only in the document");
    ASSERT_TRUE(app->WriteTemplateAndPreferences().empty());
    other.ReadFileTemplate();
    EXPECT_EQ(other.GetSessionName(0), "Just added");
}

TEST_F(MainAppTest, UnreadableSettingsFilesAreKeptAsideEachTimeAndNeverOverwritten) {
    auto app = Started();
    const std::string templ = app->paths().pathFileDocTemplate;
    const std::string prefs = app->paths().pathFilePref;
    // Written while the window runs: kept aside when looked at, then the window's sessions
    // may be written in their place.
    test::WriteText(templ, "later version's bytes");
    test::WriteText(prefs, "not a property list");
    const SettingsFilesReload r = app->ReloadChangedSettingsFiles();
    EXPECT_FALSE(r.templateReloaded || r.preferencesReloaded);
    EXPECT_EQ(test::ReadText(templ + sessions::kSetAsideSuffix), "later version's bytes");
    EXPECT_EQ(test::ReadText(prefs + sessions::kSetAsideSuffix), "not a property list");
    ASSERT_TRUE(app->document().SaveTemplateIfChanged());

    // A second damaged template does not replace the first one kept.
    test::WriteText(templ, "second");
    Started();
    EXPECT_EQ(test::ReadText(templ + sessions::kSetAsideSuffix), "later version's bytes");
    EXPECT_EQ(test::ReadText(templ + sessions::kSetAsideSuffix + "-2"), "second");

    // Preferences of a later version give the defaults and are kept for that version.
    sessions::Preferences later(app->paths());
    later.InitPreferences();
    later.mPrefDict.set("versionPref", 9999);
    ASSERT_TRUE(later.WriteFilePreferences(false));
    Started();
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_TRUE(test::Contains(test::ReadText(prefs + sessions::kSetAsideSuffix + "-2"), "9999"));
}

}  // namespace
}  // namespace qv::app
