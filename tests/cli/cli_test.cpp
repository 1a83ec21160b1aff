// The `quorvel` command, run as a user would run it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <vector>

#include "engine/volume_mount.h"
#include "platform/file_io.h"
#include "schedule/rtf_text.h"
#include "sessions/plist_codec.h"
#include "sessions/session_document.h"
#include "support/test_support.h"
#include "support/tree_snapshot.h"

namespace qv {
namespace {

class CliTest : public test::IsolatedHomeTest {
  protected:
    // Runs quorvel with the arguments; returns the exit status, stdout in *out, stderr in *err.
    int Quorvel(const std::string& args, std::string* out = nullptr, std::string* err = nullptr,
                const std::string& env = "", const std::string& binary = QV_QUORVEL_BIN) {
        const std::string errFile = dir_ / "stderr.txt";
        const int rc = test::RunCommand(
            env + " " + test::ShellQuote(binary) + " " + args + " 2>" + test::ShellQuote(errFile),
            out);
        if (err) *err = test::ReadText(errFile);
        return rc;
    }
};

TEST_F(CliTest, NewDocumentThenListAndShow) {
    const std::string doc = dir_ / "My Sessions";
    std::string out, err;
    ASSERT_EQ(Quorvel("new-document " + test::ShellQuote(doc), &out, &err), 0) << err;
    EXPECT_EQ(out, doc + ".qvd\n");  // the extension is added
    ASSERT_TRUE(platform::IsExistingRegularFile(doc + ".qvd"));

    ASSERT_EQ(Quorvel("list --document " + test::ShellQuote(doc + ".qvd"), &out, &err), 0) << err;
    EXPECT_EQ(out,
              "0\tDefault Sync Session\tSynchronize\tNo\t\t\n"
              "1\tDefault Backup Session\tBackup\tNo\t\t\n");

    ASSERT_EQ(Quorvel("show --document=" + test::ShellQuote(doc + ".qvd"), &out, &err), 0) << err;
    EXPECT_EQ(out, test::ReadText(doc + ".qvd"));  // a current document shows as it is stored
    auto shown = plist::Parse(out, nullptr);
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->intAt("fileVersion"), 420);

    // An existing document is never overwritten by accident.
    test::WriteText(doc + ".qvd", "precious");
    EXPECT_EQ(Quorvel("new-document " + test::ShellQuote(doc + ".qvd"), &out, &err), 2);
    EXPECT_NE(err.find("already exists"), std::string::npos) << err;
    EXPECT_EQ(test::ReadText(doc + ".qvd"), "precious");
    EXPECT_EQ(Quorvel("new-document --force " + test::ShellQuote(doc + ".qvd"), &out, &err), 0);
    EXPECT_NE(test::ReadText(doc + ".qvd"), "precious");
}

TEST_F(CliTest, ListWithoutDocumentMakesTheTemplate) {
    const std::string tmpl = configDir() + "/app.quorvel.Quorvel.template.plist";
    std::string out, err;
    ASSERT_EQ(Quorvel("list", &out, &err), 0) << err;
    EXPECT_NE(out.find("0\tDefault Sync Session\tSynchronize\tNo"), std::string::npos) << out;
    EXPECT_NE(out.find("1\tDefault Backup Session\tBackup\tNo"), std::string::npos) << out;
    ASSERT_TRUE(platform::IsExistingRegularFile(tmpl));
    EXPECT_TRUE(platform::IsExistingRegularFile(configDir() + "/app.quorvel.Quorvel.plist"));

    // The template is what list reads next time: an edit shows.
    auto read = plist::ReadFile(tmpl);
    ASSERT_TRUE(read.value.has_value());
    read.value->find("sessionsArray")->array()[1].find("consoleDict")->set("topFolder", "/src");
    ASSERT_TRUE(plist::WriteXmlFile(tmpl, *read.value).ok);
    ASSERT_EQ(Quorvel("list", &out, &err), 0) << err;
    EXPECT_NE(out.find("1\tDefault Backup Session\tBackup\tNo\t/src\t\n"), std::string::npos)
        << out;
}

TEST_F(CliTest, TextsFollowTheUsersLanguage) {
    std::string out, err;
    ASSERT_EQ(Quorvel("list", &out, &err, "LANGUAGE=fr"), 0) << err;
    EXPECT_NE(out.find("Session de synchronisation par défaut\tSynchroniser\tNon"),
              std::string::npos)
        << out;
}

TEST_F(CliTest, RefusedDocumentsAndBadArgumentsExitWithTwo) {
    const std::string newer = dir_ / "newer.qvd";
    test::WriteText(newer,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                    "<key>fileVersion</key><integer>421</integer><key>sessionsArray</key><array>"
                    "<dict/></array></dict></plist>");
    test::WriteText(dir_ / "junk.qvd", "not a property list");
    std::string out, err;
    EXPECT_EQ(Quorvel("list --document " + test::ShellQuote(newer), &out, &err), 2);
    EXPECT_NE(err.find("Can't open the file\n\"" + newer +
                       "\"\nbecause it has been created by a higher version."),
              std::string::npos)
        << err;
    EXPECT_TRUE(out.empty());

    const struct {
        std::string args;
        const char* message;
    } cases[] = {
        {"show --document " + test::ShellQuote(dir_ / "junk.qvd"), "not a property list"},
        {"show --document " + test::ShellQuote(dir_ / "missing.qvd"), "does not exist"},
        {"show --document " + test::ShellQuote(dir_.path()), "not a file"},
        {"list --document", "--document needs a file"},
        {"frobnicate", "unknown command"},
        {"list --bogus", "unknown option"},
        {"", "no command given"},
        {"new-document", "needs one FILE.qvd"},
        {"list extra", "unexpected argument"},
        {"log", "log needs list or show"},
        {"log rotate", "unknown log command"},
        {"log list --errors", "--errors is only for log show"},
        {"list --last", "--last is only for log show"},
        {"log show a b", "unexpected argument 'b'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Quorvel(c.args, &out, &err), 2) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << " -> " << err;
    }
}

TEST_F(CliTest, HelpVersionAndMissingResources) {
    std::string out, err;
    EXPECT_EQ(Quorvel("--help", &out, &err), 0);
    EXPECT_NE(out.find("new-document FILE.qvd"), std::string::npos);
    EXPECT_EQ(Quorvel("list --version", &out, &err), 0);
    EXPECT_EQ(out, "quorvel " QV_PROJECT_VERSION "\n");

    // A copy of the program without its string tables refuses to run, and says why.
    const std::string lonely = dir_ / "elsewhere/bin/quorvel";
    std::filesystem::create_directories(dir_ / "elsewhere/bin");
    std::filesystem::copy_file(QV_QUORVEL_BIN, lonely);
    EXPECT_EQ(Quorvel("list", &out, &err, "", lonely), 2);
    EXPECT_NE(err.find("Can't find the file \"Localizable.strings\""), std::string::npos) << err;
}

// Points the sessions of a new document at folders: {name, source, destination}.
void WriteDocument(const std::string& path,
                   const std::vector<std::array<std::string, 3>>& sessions) {
    plist::Value doc = sessions::SessionDocument::NewTemplate();
    auto& list = doc.find("sessionsArray")->array();
    list.resize(sessions.size(), list.front());
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        plist::Value& console = *list[i].find("consoleDict");
        console.set("sessionName", sessions[i][0]);
        console.set("topFolder", sessions[i][1]);
        console.set("bottomFolder", sessions[i][2]);
        list[i].find("settingsDict")->set("settTask", 2);
    }
    ASSERT_TRUE(plist::WriteXmlFile(path, doc).ok);
}

// Sets a session's task in a document written by WriteDocument.
void SetTask(const std::string& doc, std::size_t session, int task, bool exact) {
    plist::Value document = *plist::ReadFile(doc).value;
    plist::Value& settings = *document.find("sessionsArray")->array()[session].find("settingsDict");
    settings.set("settTask", task);
    settings.set("settExact", exact ? 1 : 0);
    ASSERT_TRUE(plist::WriteXmlFile(doc, document).ok);
}

// Root backs a user's folder up into that user's home: the user could swap the destination for
// a link to a folder of root's (standing in for /etc) and have the run write and delete there.
TEST_F(CliTest, ARunAsRootNeverWritesWhereAnotherUserCanLeadIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: folders are given to another user";
    const uid_t user = 54321;  // an account of no one: ownership is all that matters
    const std::string home = dir_ / "home", etc = dir_ / "etc", doc = dir_ / "root.qvd";
    test::WriteText(home + "/A/sudoers.d/user", "user ALL=(ALL) NOPASSWD: ALL");
    std::filesystem::create_directories(home + "/Backup");
    test::WriteText(etc + "/passwd", "root:x:0:0");
    ASSERT_EQ(test::RunCommand("chown -R 54321 " + test::ShellQuote(home)), 0);
    const test::TreeSnapshot etcBefore = test::Snapshot(etc);
    WriteDocument(doc, {{"Home", home + "/A", home + "/Backup"},
                        {"Out", home + "/A", dir_ / "Safe"},
                        {"Linked", home + "/A", dir_ / "homelink/Backup"}});
    SetTask(doc, 0, 2, true);
    const auto run = [&](const std::string& session, std::string* out) {
        std::string err;
        const int rc = Quorvel(
            "run --unattended --session " + session + " --document " + test::ShellQuote(doc), out,
            &err);
        *out += err;
        return rc;
    };
    std::string out;
    EXPECT_EQ(run("Home", &out), 1) << out;
    EXPECT_NE(out.find("Its way passes through \"" + home + "\", owned by the user 54321"),
              std::string::npos)
        << out;
    EXPECT_TRUE(std::filesystem::is_empty(home + "/Backup"));
    // Swapped for a link to root's folder, with no race: refused all the same.
    std::filesystem::remove(home + "/Backup");
    std::filesystem::create_directory_symlink(etc, home + "/Backup");
    ::lchown((home + "/Backup").c_str(), user, user);
    EXPECT_EQ(run("Home", &out), 1) << out;
    EXPECT_EQ(test::Snapshot(etc), etcBefore);
    // Swapped back and forth during 20 runs, with a dated sub-folder to make there: nothing of
    // root's changes.
    const auto subFolder = [&doc](int on) {
        plist::Value document = *plist::ReadFile(doc).value;
        document.find("sessionsArray")
            ->array()[0]
            .find("settingsDict")
            ->set("settCreateDestFolder", on);
        ASSERT_TRUE(plist::WriteXmlFile(doc, document).ok);
    };
    subFolder(1);
    test::RunCommand("(n=0; while [ $n -lt 4000 ] && [ ! -e " + test::ShellQuote(dir_ / "stop") +
                     " ]; do rm -f " + test::ShellQuote(home + "/Backup") + "; mkdir " +
                     test::ShellQuote(home + "/Backup") + "; rmdir " +
                     test::ShellQuote(home + "/Backup") + "; ln -s " + test::ShellQuote(etc) + " " +
                     test::ShellQuote(home + "/Backup") + "; n=$((n+1)); done; touch " +
                     test::ShellQuote(dir_ / "stopped") + ") >/dev/null 2>&1 &");
    for (int i = 0; i < 20; ++i) EXPECT_EQ(run("Home", &out), 1) << out;
    test::WriteText(dir_ / "stop", "");
    for (int i = 0; i < 1000 && !std::filesystem::exists(dir_ / "stopped"); ++i) ::usleep(10000);
    EXPECT_EQ(test::Snapshot(etc), etcBefore);
    subFolder(0);

    // A source only read may lie in the user's home; a link of root's on the way is root's own
    // choice (/home leading to /data/home).
    std::filesystem::create_directories(dir_ / "Safe");
    EXPECT_EQ(run("Out", &out), 0) << out;
    EXPECT_EQ(test::ReadText(dir_ / "Safe/sudoers.d/user"), "user ALL=(ALL) NOPASSWD: ALL");
    std::filesystem::create_directories(dir_ / "data/Backup");
    std::filesystem::create_directory_symlink(dir_ / "data", dir_ / "homelink");
    EXPECT_EQ(run("Linked", &out), 0) << out;
    EXPECT_TRUE(std::filesystem::exists(dir_ / "data/Backup/sudoers.d/user"));
    // The user's own document may write into the user's home.
    std::filesystem::remove(home + "/Backup");
    std::filesystem::create_directory(home + "/Backup");
    ::chown(doc.c_str(), user, user);
    EXPECT_EQ(run("Home", &out), 0) << out;
    EXPECT_TRUE(std::filesystem::exists(home + "/Backup/sudoers.d/user"));
}

// cron runs without XDG_RUNTIME_DIR, the desktop with it: both take the one lock.
TEST_F(CliTest, OneRunAtATimeWhateverTheEnvironmentSays) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "lock.qvd";
    std::filesystem::create_directories(b);
    std::filesystem::create_directories(dir_ / "rt");
    ASSERT_EQ(test::RunCommand("mkdir -p " + test::ShellQuote(a) +
                               " && head -c 400000000 "
                               "/dev/zero > " +
                               test::ShellQuote(a + "/big.bin")),
              0);
    WriteDocument(doc, {{"Big", a, b}});
    const std::string run = test::ShellQuote(QV_QUORVEL_BIN) +
                            " run --unattended --session Big "
                            "--document " +
                            test::ShellQuote(doc);
    const std::string second = dir_ / "second";
    const std::string lock = home() + "/.local/share/Nimbrel/Quorvel 4/run.lock";
    // The first run is held still once it holds the lock (its name is in the file), while the
    // second tries.
    test::RunCommand("(XDG_RUNTIME_DIR=" + test::ShellQuote(dir_ / "rt") + " " + run +
                     " >/dev/null 2>&1 & pid=$!; while [ ! -s " + test::ShellQuote(lock) +
                     " ]; do :; done; kill -STOP $pid; env -u XDG_RUNTIME_DIR " + run + " > " +
                     test::ShellQuote(second) + " 2>&1; echo $? >> " + test::ShellQuote(second) +
                     "; kill -CONT $pid; wait $pid)");
    const std::string said = test::ReadText(second);
    EXPECT_NE(said.find("Another Quorvel run is in progress"), std::string::npos) << said;
    EXPECT_EQ(said.substr(said.size() - 2), "2\n") << said;
    EXPECT_EQ(std::filesystem::file_size(b + "/big.bin"), 400000000u);
}

// Rows that copy a folder into each other nest one level deeper at every run: refused in any
// order, through chains of rows, and at the run of a document that never passed the panel.
TEST_F(CliTest, MultipleListRowsThatNestIntoEachOtherAreRefused) {
    const std::string doc = dir_ / "rows.qvd";
    for (const char* folder : {"A/sub", "C", "D", "B"}) {
        std::filesystem::create_directories(dir_ / folder);
    }
    test::WriteText(dir_ / "C/c.txt", "c");
    WriteDocument(doc, {{"Rows", dir_ / "x", dir_ / "y"}});
    SetTask(doc, 0, 1, true);
    const std::string session = " --session Rows --document " + test::ShellQuote(doc);
    const auto set = [&](int row, const std::string& src, const std::string& dst,
                         std::string* err) {
        return Quorvel("multi set " + std::to_string(row) + " " + test::ShellQuote(dir_ / src) +
                           " " + test::ShellQuote(dir_ / dst) + session,
                       nullptr, err);
    };
    std::string err;
    for (const auto& [first, second] :
         {std::pair{std::array<const char*, 2>{"C", "A"}, std::array<const char*, 2>{"A/sub", "C"}},
          {std::array<const char*, 2>{"A/sub", "C"}, std::array<const char*, 2>{"C", "A"}}}) {
        ASSERT_EQ(Quorvel("multi clear 1" + session), 0);
        ASSERT_EQ(set(1, first[0], first[1], &err), 0) << err;
        EXPECT_EQ(set(2, second[0], second[1], &err), 2);
        EXPECT_NE(err.find("Rows can't copy a folder into itself through each other"),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("at the rows 1 and 2."), std::string::npos) << err;
    }
    // Through a third row: C with A, A with D, D's sub-folder with C.
    ASSERT_EQ(set(1, "C", "A", &err), 0) << err;
    ASSERT_EQ(set(2, "A", "D", &err), 0) << err;
    EXPECT_EQ(set(3, "D/sub", "C", &err), 2);
    // A chain that never comes back is fine.
    ASSERT_EQ(Quorvel("multi clear 2" + session), 0);
    EXPECT_EQ(set(3, "A/sub", "B", &err), 0) << err;

    // Written by another program, the rows reach the run: nothing of them is done.
    plist::Value document = *plist::ReadFile(doc).value;
    plist::Array& rows = document.find("sessionsArray")
                             ->array()[0]
                             .dictAt("multiDict")
                             ->arrayAt("multiArray")
                             ->array();
    rows[1].set("source", dir_ / "A/sub");
    rows[1].set("destination", dir_ / "C");
    rows[1].set("onOff", 1);
    ASSERT_TRUE(plist::WriteXmlFile(doc, document).ok);
    std::string out;
    EXPECT_EQ(Quorvel("run --unattended" + session, &out, &err), 1);
    out += err;
    EXPECT_NE(out.find("Rows can't copy a folder into itself through each other"),
              std::string::npos)
        << out;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "A/c.txt"));
}

// FIFOs, sockets and devices are never copied: each is counted and logged, and a folder the
// other side deleted that still holds one stays, as an error naming it.
TEST_F(CliTest, SpecialFilesAreCountedAndAFolderTheyKeepIsAnError) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "special.qvd";
    test::WriteText(a + "/d/f", "f");
    ASSERT_EQ(::mkfifo((a + "/d/pipe").c_str(), 0600), 0);
    test::WriteText(b + "/keep", "so that B is never empty");
    WriteDocument(doc, {{"Pipes", a, b}});
    SetTask(doc, 0, 1, true);
    const std::string run = "run --unattended --session Pipes --document " + test::ShellQuote(doc);
    std::string out, err;
    ASSERT_EQ(Quorvel(run + " --print-log", &out, &err), 0) << out << err;
    EXPECT_NE(out.find("• Skipped 1 special files"), std::string::npos) << out;
    EXPECT_NE(out.find("Skipped the special file (FIFO, socket or device) \"" + a + "/d/pipe\""),
              std::string::npos)
        << out;
    EXPECT_EQ(test::ReadText(b + "/d/f"), "f");
    EXPECT_FALSE(platform::ItemExists(b + "/d/pipe"));

    std::filesystem::remove_all(b + "/d");
    EXPECT_EQ(Quorvel(run, &out, &err), 1) << out << err;
    EXPECT_NE((out + err).find("The folder is not deleted: it holds a special file"),
              std::string::npos)
        << out << err;
    EXPECT_NE((out + err).find(a + "/d/pipe"), std::string::npos) << out << err;
    EXPECT_FALSE(platform::ItemExists(a + "/d/f"));
    EXPECT_TRUE(platform::ItemExists(a + "/d/pipe"));
}

// An unplugged drive leaves its empty mount-point folder: an exact run must not fill the
// system's disk with a copy of the other side.
TEST_F(CliTest, AnEmptyFolderThatIsNotTheOneTheIndexKnewGetsNoCopy) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "drive.qvd";
    test::WriteText(a + "/photo.jpg", "photo");
    std::filesystem::create_directories(b);
    WriteDocument(doc, {{"Drive", a, b}});
    SetTask(doc, 0, 1, true);
    const std::string run = "run --unattended --session Drive --document " + test::ShellQuote(doc);
    std::string out;
    ASSERT_EQ(Quorvel(run, &out), 0) << out;
    ASSERT_EQ(Quorvel(run, &out), 0) << out;
    // The index is kept where the window keeps it too.
    EXPECT_TRUE(platform::IsExistingRegularFile(
        home() + "/.local/share/Nimbrel/Quorvel 4/ExactSync Indexes/QV3ExactSyncMainIndex.plist"));
    // Another folder at the same path, empty (the drive's files kept aside, so that the new
    // folder cannot take the old one's inode).
    std::filesystem::rename(b, dir_ / "unplugged");
    std::filesystem::create_directories(b);
    std::string err;
    EXPECT_EQ(Quorvel(run, &out, &err), 1);
    out += err;
    EXPECT_NE(out.find("is not the one the last run knew: is its drive unmounted?"),
              std::string::npos)
        << out;
    EXPECT_TRUE(std::filesystem::is_empty(b));
    EXPECT_EQ(test::ReadText(a + "/photo.jpg"), "photo");
    // Once it holds something, it is a folder like another: the index is not used, nothing is
    // deleted, the two sides are brought together.
    test::WriteText(b + "/note.txt", "note");
    EXPECT_EQ(Quorvel(run, &out), 0) << out;
    EXPECT_EQ(test::ReadText(b + "/photo.jpg"), "photo");
    EXPECT_EQ(test::ReadText(a + "/note.txt"), "note");
}

TEST_F(CliTest, PlanPrintsTheTreeAndChangesNothing) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "plan.qvd";
    test::WriteText(a + "/sub/new.txt", "new");
    test::WriteText(a + "/caf\xe9.txt", "bytes");  // not valid UTF-8
    std::filesystem::create_directories(b);
    WriteDocument(doc, {{"Mirror", a, b}, {"Broken", dir_ / "missing", b}});

    std::string out, err;
    ASSERT_EQ(Quorvel("plan --session Mirror --document " + test::ShellQuote(doc), &out, &err), 0)
        << err;
    EXPECT_NE(out.find("  CopyAtoB\t" + a + "/sub\t" + b + "/sub\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    CopyAtoB\t" + a + "/sub/new.txt\t" + b + "/sub/new.txt\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Items to do: 3"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(b + "/sub"));  // a plan copies nothing

    // The JSON form, read back by Python as a script would.
    ASSERT_EQ(Quorvel("plan --json --session Mirror --document " + test::ShellQuote(doc), &out), 0);
    test::WriteText(dir_ / "plan.json", out);
    const std::string check =
        "import json,sys\n"
        "p=json.load(open(sys.argv[1]))\n"
        "t=p['tasks'][0]\n"
        "assert t['sessionIndex']==0 and t['taskIndex']==0 and t['copyMode']==1, t\n"
        "items={i['source'].rsplit('/',1)[1]:i for i in t['subItems']}\n"
        "odd=items['caf\\u00e9.txt']\n"
        "assert odd['bytes'] is True and odd['copyMode']==2, odd\n"
        "assert odd['source'].encode('latin-1').endswith(b'caf\\xe9.txt'), odd\n"
        "sub=items['sub']\n"
        "assert sub['copyMode']==2 and sub['subItems'][0]['dest']==sys.argv[2]+'/sub/new.txt'\n"
        "c=p['counters']\n"
        "assert c['gItemsToDoTotal']==3 and c['gItemsAtoB']==3 and c['gGlobalError']==0, c\n"
        "assert c['gFoldersToDescend']==1 and c['gGlobalItemsScanned']==3, c\n"
        "assert p['scanSucceeded'] is True\n";
    test::WriteText(dir_ / "check.py", check);
    std::string pyOut;
    EXPECT_EQ(test::RunCommand("python3 " + test::ShellQuote(dir_ / "check.py") + " " +
                                   test::ShellQuote(dir_ / "plan.json") + " " +
                                   test::ShellQuote(b) + " 2>&1",
                               &pyOut),
              0)
        << pyOut << out;

    // A task that cannot run is reported and makes the status 1; --all plans the others.
    EXPECT_EQ(Quorvel("plan --all --document " + test::ShellQuote(doc), &out, &err), 1);
    EXPECT_NE(err.find("Cannot find the source folder:\n\"" + dir_ / "missing" + "\""),
              std::string::npos)
        << err;
    EXPECT_NE(out.find("Session \"Mirror\", task 0"), std::string::npos) << out;
    // The session that can be scanned is still done, whichever order the two come in.
    EXPECT_EQ(out.find("a run would copy nothing"), std::string::npos) << out;

    const struct {
        std::string args;
        const char* message;
    } refused[] = {
        {"plan --document " + test::ShellQuote(doc), "either --session NAME or --all"},
        {"plan --all --session Mirror --document " + test::ShellQuote(doc), "either"},
        {"plan --session Nobody --document " + test::ShellQuote(doc), "no session named"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(Quorvel(c.args, &out, &err), 2) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
}

TEST_F(CliTest, FilterRowsSetThroughTheEditorLeaveItemsOutOfThePlan) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "filters.qvd";
    for (const char* name : {"keep.txt", "a.TMP", "sub/b.tmp", "tmp"}) {
        test::WriteText(a + "/" + name, "x");
    }
    std::filesystem::create_directories(b);
    WriteDocument(doc, {{"Mirror", a, b}});
    const std::string session = " --session Mirror --document " + test::ShellQuote(doc);
    std::string out, err;

    // Refusals say the row editor's words and change nothing.
    const std::string before = test::ReadText(doc);
    const struct {
        std::string words;
        const char* message;
    } refused[] = {
        {"set 1 filterFileNameOn=1", "Please insert a valid file name."},
        {"set 1 filterOwnerOn=1 filterOwnerPop=2 filterOwnerField=root",
         "Please insert a valid Owner name or ID."},
        {"set 1 filterFileNamePop=6", "takes a position from 0 to 5"},
        {"set 33 filterKindOn=1", "numbered 1 to 32"},
        {"on", "no filter row is valid"},
        {"set 1 filterFileNameOn=1 filterFileNameField=\"$(printf '\\377')\"",
         "must be UTF-8 text"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(Quorvel("filter " + c.words + session, &out, &err), 2) << c.words;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    EXPECT_EQ(test::ReadText(doc), before);

    ASSERT_EQ(Quorvel("filter set 2 filterFileNameOn=1 filterFileNamePop=2 "
                      "filterFileNameField=.tmp" +
                          session,
                      &out, &err),
              0)
        << err;
    EXPECT_EQ(out, "2\tFN ends with \".tmp\"\n");
    ASSERT_EQ(Quorvel("filter list" + session, &out, &err), 0) << err;
    EXPECT_EQ(
        out.substr(0, out.find("3\t")),
        "filterOn\t1\nmode\tskip\n1\t\xE2\x80\xA2\t\n2\t\xE2\x80\xA2\tFN ends with \".tmp\"\n");
    ASSERT_EQ(Quorvel("filter test " + test::ShellQuote(a + "/a.TMP") + session, &out, &err), 0);
    EXPECT_EQ(out, "filters\ton\nrow\t2\nleftOut\tyes\n");

    // The plan lists the sources it would copy: skip mode leaves the .tmp names out, copy mode
    // keeps only them (and the folder that holds one).
    const auto planned = [&]() {
        EXPECT_EQ(Quorvel("plan --json" + session, &out, &err), 0) << err;
        std::string names;
        for (const char* name : {"keep.txt", "a.TMP", "/sub\"", "b.tmp", "/tmp\""}) {
            if (out.find(name) != std::string::npos) names += std::string(name) + " ";
        }
        return names;
    };
    EXPECT_EQ(planned(), "keep.txt /sub\" /tmp\" ");
    ASSERT_EQ(Quorvel("filter mode copy" + session, &out, &err), 0) << err;
    EXPECT_EQ(planned(), "a.TMP ");
    // A folder matches no row here, so copy mode leaves it out with its content; a second row
    // taking folders lets it in.
    ASSERT_EQ(Quorvel("filter set 3 filterKindOn=1 filterKindPop=1" + session, &out, &err), 0);
    EXPECT_EQ(planned(), "a.TMP /sub\" b.tmp ");
    ASSERT_EQ(Quorvel("filter off" + session, &out, &err), 0) << err;
    EXPECT_EQ(planned(), "keep.txt a.TMP /sub\" b.tmp /tmp\" ");
    // Confirming a row switches the filters on again; a row switched off says it takes no part.
    ASSERT_EQ(Quorvel("filter set 3 onOff=0" + session, &out, &err), 0) << err;
    EXPECT_NE(err.find("row 3 is off and takes no part"), std::string::npos) << err;
    EXPECT_EQ(planned(), "a.TMP ");
}

TEST_F(CliTest, RunPerformsThenFindsNothingToDoAndSurvivesAKill) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "run.qvd";
    test::WriteText(a + "/notes/todo.txt", "new");
    test::WriteText(b + "/notes/todo.txt", "old");
    ::utimensat(AT_FDCWD, (b + "/notes/todo.txt").c_str(),
                std::array<timespec, 2>{timespec{1000, 0}, timespec{1000, 0}}.data(), 0);
    WriteDocument(doc, {{"Mirror", a, b}});
    const std::string run = "run --unattended --session Mirror --document " + test::ShellQuote(doc);
    std::string out, err;
    ASSERT_EQ(Quorvel(run + " --print-log", &out, &err), 0) << out << err;
    EXPECT_NE(out.find("Replaced file: \"" + b + "/notes/todo.txt\""), std::string::npos) << out;
    EXPECT_NE(out.find("• Task: executed by the command line\n"), std::string::npos) << out;
    EXPECT_EQ(test::ReadText(b + "/notes/todo.txt"), "new");
    // The short report: what reached each side, then the errors.
    ASSERT_EQ(Quorvel(run, &out, &err), 0) << err;
    EXPECT_EQ(out, "• " + a + ": 0\n• " + b + ": 0\n• Errors: 0\n");
    EXPECT_EQ(Quorvel("run --unattended --session Nobody --document " + test::ShellQuote(doc), &out,
                      &err),
              2);

    // Standard error is a file here: no status line, whatever was copied. --quiet leaves the
    // report and the errors only, not the path of the saved log that --save-log alone prints.
    test::WriteText(a + "/notes/more.txt", "more");
    ASSERT_EQ(Quorvel(run + " --save-log", &out, &err), 0) << err;
    EXPECT_NE(out.find("\nLog saved: "), std::string::npos) << out;
    EXPECT_EQ(err, "");
    test::WriteText(a + "/notes/again.txt", "again");
    ASSERT_EQ(Quorvel(run + " --save-log --quiet", &out, &err), 0) << err;
    EXPECT_EQ(out, "• " + a + ": 0\n• " + b + ": 1\n• Errors: 0\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(Quorvel(run + " --quiet --print-log", &out, &err), 2);
    EXPECT_NE(err.find("--quiet and --print-log cannot go together"), std::string::npos) << err;

    // Killed in the middle of replacing a large file: B keeps the old file or gets the whole
    // new one, and the next run ends clean with nothing of the interrupted copy left.
    const std::string big = a + "/big.bin", old = b + "/big.bin";
    ASSERT_EQ(test::RunCommand("head -c 300000000 /dev/zero > " + test::ShellQuote(big)), 0);
    test::WriteText(old, "the old file");
    ::utimensat(AT_FDCWD, old.c_str(),
                std::array<timespec, 2>{timespec{1000, 0}, timespec{1000, 0}}.data(), 0);
    test::RunCommand("(" + test::ShellQuote(QV_QUORVEL_BIN) + " " + run +
                     " >/dev/null 2>&1 & pid=$!; sleep 0.15; kill -9 $pid; wait $pid) 2>/dev/null");
    const auto size = std::filesystem::file_size(old);
    EXPECT_TRUE(size == 12 || size == 300000000) << size;
    ASSERT_EQ(Quorvel(run, &out, &err), 0) << out << err;
    EXPECT_EQ(std::filesystem::file_size(old), 300000000u);
    for (const auto& e : std::filesystem::directory_iterator(b)) {
        EXPECT_EQ(e.path().filename().string().rfind("QVTempFile", 0), std::string::npos)
            << e.path();
    }
}

TEST_F(CliTest, TermStopsARunAfterTheCurrentActionWithStatusThree) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "stop.qvd";
    std::filesystem::create_directories(a);
    std::filesystem::create_directories(b);
    for (const char* name : {"1.bin", "2.bin", "3.bin", "4.bin"}) {
        ASSERT_EQ(
            test::RunCommand("head -c 150000000 /dev/zero > " + test::ShellQuote(a + "/" + name)),
            0);
    }
    WriteDocument(doc, {{"Big", a, b}});
    const std::string status = dir_ / "status";
    test::RunCommand(
        "(" + test::ShellQuote(QV_QUORVEL_BIN) + " run --unattended --session Big --document " +
        test::ShellQuote(doc) +
        // The signal goes once the first copy has begun: the run is then surely under way.
        " >/dev/null 2>&1 & pid=$!; n=0; while [ -z \"$(ls -A " + test::ShellQuote(b) +
        ")\" ] && [ $n -lt 1000 ]; do sleep 0.01; n=$((n+1)); done; kill -TERM $pid; wait $pid;"
        " echo $? > " +
        test::ShellQuote(status) + ")");
    const std::string code = test::ReadText(status);
    if (code == "0\n") GTEST_SKIP() << "the run ended before the signal reached it";
    EXPECT_EQ(code, "3\n");
    // The copy in progress was finished or not started, never left half done.
    for (const auto& e : std::filesystem::directory_iterator(b)) {
        EXPECT_EQ(std::filesystem::file_size(e.path()), 150000000u) << e.path();
    }
}

// A name can hold any byte but "/" and NUL. What the command prints of it must not drive the
// terminal (clear it, move the cursor) nor forge lines of the report, while the copy keeps the
// name and the content byte for byte.
TEST_F(CliTest, NamesWithControlCharactersReachTheTerminalEscaped) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "names.qvd";
    const std::string name =
        "evil\x1b[2J\nerrors: 0\tand\x7f\xc2\x9b"
        "6n.txt";
    const std::string shown = "evil\\x1b[2J\\nerrors: 0\\tand\\x7f\\u009b6n.txt";
    // In a log the tab is kept: tabs are its layout.
    const std::string shownInLog = "evil\\x1b[2J\\nerrors: 0\tand\\x7f\\u009b6n.txt";
    // Not UTF-8: a lone 0x9B starts a control sequence on a terminal in 8-bit mode.
    const std::string lone = std::string("lone\x9b") + "2J.txt";
    const std::string loneShown = "lone\\x9b2J.txt";
    const std::string content = std::string("body\x1b[2J\0end", 12);
    std::filesystem::create_directories(a);
    std::filesystem::create_directories(b);
    test::WriteText(a + "/" + name, content);
    test::WriteText(a + "/" + lone, content);
    WriteDocument(doc, {{"Names", a, b}});
    const std::string document = " --session Names --document " + test::ShellQuote(doc);

    // The JSON form escapes too, and gives the name back exactly.
    std::string json;
    ASSERT_EQ(Quorvel("plan --json" + document, &json), 0);
    EXPECT_EQ(json.find('\n'), json.size() - 1) << json;
    test::WriteText(dir_ / "name.bin", name);
    test::WriteText(dir_ / "names.json", json);
    test::WriteText(dir_ / "names.py",
                    "import json,sys\n"
                    "items=json.load(open(sys.argv[1]))['tasks'][0]['subItems']\n"
                    "t=[i for i in items if 'evil' in i['dest']][0]\n"
                    "assert 'bytes' not in t, t\n"
                    "name=t['dest'].rsplit('/',1)[1].encode('utf-8')\n"
                    "assert name==open(sys.argv[2],'rb').read(), name\n");
    std::string pyOut;
    EXPECT_EQ(test::RunCommand("python3 " + test::ShellQuote(dir_ / "names.py") + " " +
                                   test::ShellQuote(dir_ / "names.json") + " " +
                                   test::ShellQuote(dir_ / "name.bin") + " 2>&1",
                               &pyOut),
              0)
        << pyOut << json;

    const struct {
        std::string args;
        bool showsTheName;  // in the text form
    } cases[] = {
        {"plan" + document, true},
        {"plan --json" + document, false},
        {"run --yes --print-log" + document, true},
        {"run --yes --print-log" + document, false},  // nothing left to do: no name printed
    };
    for (const auto& c : cases) {
        std::string out, err;
        EXPECT_EQ(Quorvel(c.args, &out, &err), 0) << c.args << "\n" << out << err;
        const std::string printed = out + err;
        EXPECT_EQ(printed.find('\x1b'), std::string::npos) << c.args << "\n" << printed;
        EXPECT_EQ(printed.find('\x7f'), std::string::npos) << c.args;
        EXPECT_EQ(printed.find("\nerrors: 0"), std::string::npos) << c.args << "\n" << printed;
        EXPECT_NE(printed.rfind("errors: 0", 0), 0u) << c.args;
        EXPECT_EQ(printed.find('\x9b'), std::string::npos) << c.args;  // raw, in UTF-8 or not
        const bool shows = (printed.find(shown) != std::string::npos ||
                            printed.find(shownInLog) != std::string::npos) &&
                           printed.find(loneShown) != std::string::npos;
        EXPECT_EQ(shows, c.showsTheName) << c.args << "\n" << printed;
    }
    EXPECT_EQ(test::ReadText(b + "/" + name), content);
    EXPECT_TRUE(test::SameTrees(a, b, {.withRoot = false}));
}

// A carriage return ends the log's lines: one in a name must not start a line of its own that
// reads as an error. Errors reach standard error whole, also the messages of several lines.
TEST_F(CliTest, NamesCannotForgeLogLinesAndErrorsReachStandardErrorWhole) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "forge.qvd";
    const std::string name = "fake\r\xE2\x88\x9A Can't read the item \"SECRET\"";
    test::WriteText(a + "/" + name, "x");
    std::filesystem::create_directories(b);
    WriteDocument(doc, {{"Forge", a, b}, {"Missing", dir_ / "nowhere", b}});
    const std::string document = " --unattended --save-log --document " + test::ShellQuote(doc);
    std::string out, err;
    ASSERT_EQ(Quorvel("run --session Forge" + document, &out, &err), 0) << out << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(test::ReadText(b + "/" + name), "x");
    ASSERT_EQ(Quorvel("log show --last --errors", &out, &err), 0) << err;
    EXPECT_EQ(out, "");
    ASSERT_EQ(Quorvel("log show --last", &out, &err), 0) << err;
    EXPECT_NE(out.find("fake\\r\xE2\x88\x9A Can't read the item"), std::string::npos) << out;

    EXPECT_EQ(Quorvel("run --session Missing" + document, &out, &err), 1);
    EXPECT_NE(err.find("quorvel: Cannot find the source folder: \"" + (dir_ / "nowhere") + "\"\n"),
              std::string::npos)
        << err;
}

TEST_F(CliTest, LogListsTheLogFolderNewestFirstAndShowsErrorLines) {
    std::string out, err;
    ASSERT_EQ(Quorvel("log list", &out, &err), 0) << err;
    EXPECT_EQ(out, "");
    EXPECT_EQ(Quorvel("log show --last", &out, &err), 2);
    EXPECT_NE(err.find("no log file in the log folder"), std::string::npos) << err;

    // The log folder is the one the preferences name.
    const std::string folder = dir_ / "my logs";
    const std::string prefsPath = configDir() + "/app.quorvel.Quorvel.plist";
    auto prefs = plist::ReadFile(prefsPath);
    ASSERT_TRUE(prefs.value.has_value());
    prefs.value->find("QVPrivatePreferences")->set("prefPathLogFolder", folder);
    ASSERT_TRUE(plist::WriteXmlFile(prefsPath, *prefs.value).ok);

    const double now = 1700000000;  // 2023-11-14 22:13:20 UTC
    const struct {
        std::string name, bytes;
        double modified;
    } logs[] = {
        {"QVLog_b.txt",
         "\xE2\x80\xA2 Errors: 2\n\n\xE2\x88\x9A first\x1b[2J\n\tfine\n\xE2\x88\x9A second\n",
         now - 7200},
        {"QVLog_c.rtf", schedule::LogToRtf("\xE2\x80\xA2 Errors: 1\r\r\xE2\x88\x9A in \xFF rtf\r"),
         now},
        {"QVLog_a.txt", "no header\n", now - 86400},
        {"QVLog_d.rtf", "not RTF at all", now - 3 * 86400},
    };
    for (const auto& log : logs) {
        test::WriteText(folder + "/" + log.name, log.bytes);
        const timespec t[2] = {{static_cast<time_t>(log.modified), 0},
                               {static_cast<time_t>(log.modified), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/" + log.name).c_str(), t, 0), 0);
    }
    test::WriteText(folder + "/notes.txt", "not a log");

    ASSERT_EQ(Quorvel("log list", &out, &err, "TZ=UTC"), 0) << err;
    EXPECT_EQ(out, "2023-11-14 22:13:20\t1\t" + folder +
                       "/QVLog_c.rtf\n"
                       "2023-11-14 20:13:20\t2\t" +
                       folder +
                       "/QVLog_b.txt\n"
                       "2023-11-13 22:13:20\t-\t" +
                       folder +
                       "/QVLog_a.txt\n"
                       "2023-11-11 22:13:20\t-\t" +
                       folder + "/QVLog_d.rtf\n");

    const std::string b = test::ShellQuote(folder + "/QVLog_b.txt");
    const struct {
        std::string args;
        int status;
        std::string out;
    } shows[] = {
        {"log show --errors --last", 0, "\xE2\x88\x9A in \\xff rtf\n"},
        {"log show", 0, "\xE2\x80\xA2 Errors: 1\n\n\xE2\x88\x9A in \\xff rtf\n"},
        {"log show --errors " + b, 0, "\xE2\x88\x9A first\\x1b[2J\n\xE2\x88\x9A second\n"},
        {"log show " + b, 0,
         "\xE2\x80\xA2 Errors: 2\n\n\xE2\x88\x9A first\\x1b[2J\n\tfine\n\xE2\x88\x9A second\n"},
        {"log show " + test::ShellQuote(folder + "/QVLog_d.rtf"), 2, ""},
        {"log show --last " + b, 2, ""},
    };
    for (const auto& c : shows) {
        EXPECT_EQ(Quorvel(c.args, &out, &err), c.status) << c.args << "\n" << err;
        EXPECT_EQ(out, c.out) << c.args;
    }
    EXPECT_EQ(Quorvel("log show " + test::ShellQuote(folder + "/QVLog_d.rtf"), &out, &err), 2);
    EXPECT_NE(err.find("Can't open this Log file."), std::string::npos) << err;
}

TEST_F(CliTest, SettingsAndConflictsSetThenShowRoundTrip) {
    const std::string doc = dir_ / "options.qvd";
    WriteDocument(doc, {{"Photos", dir_ / "Photos", dir_ / "Copies"}, {"Other", "", ""}});
    const std::string session = " --session Photos --document " + test::ShellQuote(doc);
    std::string out, err;
    ASSERT_EQ(Quorvel("settings set" + session +
                          " task=sync exact=yes skip-invisible=on settLockedItems=0"
                          " move-to-trash=true subfolder=on subfolder-kind=0"
                          " 'subfolder-pattern=kSrc yyyy' versions=yes versions-keep=3"
                          " versions-folder=/srv/versions settVersionsDays=30",
                      &out, &err),
              0)
        << err;
    ASSERT_EQ(Quorvel("settings show" + session, &out, &err), 0) << err;
    EXPECT_EQ(out,
              "settTask\t1\nsettExact\t1\n"
              "settInvisibleItems\t0\nsettLockedItems\t0\n"  // both checkboxes shown on
              "settResolveAlias\t0\nsettResolveSymLink\t0\nsettSkipEmptyFolders\t0\n"
              "settNewItemsOnly\t0\nsettPackagesFolders\t0\nsettMoveToTrash\t1\n"
              "settSkipCheckPermissions\t0\nsettCheckAttrChanged\t0\n"
              "settCreateDestFolder\t1\nsettCreateDestFolderNameKind\t0\n"
              "settCreateDestFolderCustomNameFormat\tkSrc yyyy\n"
              "settVersionsOn\t1\nsettVersionsFolder\t/srv/versions\nsettVersionsKeep\t3\n"
              "settVersionsDays\t30\nmarker\t1\n");
    // A versions folder that would lead out of the side, or a count out of range, is refused
    // and nothing is written.
    for (const char* bad : {" versions-folder=/a/../b", " versions-folder=relative",
                            " versions-keep=-1", " versions-days=x"}) {
        EXPECT_EQ(Quorvel("settings set" + session + bad + " exact=no", &out, &err), 2) << bad;
    }
    ASSERT_EQ(Quorvel("settings show --json --session-index 1 --document " + test::ShellQuote(doc),
                      &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("{\"session\": \"Other\", \"sessionIndex\": 1, \"settingsDict\": "
                       "{\"settTask\": 2, \"settExact\": 0, \"settInvisibleItems\": 1,"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"settCreateDestFolderCustomNameFormat\": \"'Copy of' kSrc "
                       "yyyy-MM-dd\", \"settVersionsOn\": 0, \"settVersionsFolder\": \"\", "
                       "\"settVersionsKeep\": 10, \"settVersionsDays\": 0}, \"marker\": false}\n"),
              std::string::npos)
        << out;

    // Back to what a new session has: the marker goes off, whatever the sub-folder's kind.
    ASSERT_EQ(Quorvel("settings set" + session +
                          " exact=no skip-invisible=off dont-unlock=no settMoveToTrash=0"
                          " subfolder=off versions=no versions-keep=10 versions-folder="
                          " versions-days=0",
                      &out, &err),
              0)
        << err;
    ASSERT_EQ(Quorvel("settings show" + session, &out, &err), 0) << err;
    EXPECT_NE(out.find("settInvisibleItems\t1\nsettLockedItems\t1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nmarker\t0\n"), std::string::npos) << out;

    ASSERT_EQ(Quorvel("conflicts set" + session + " sync=skip fileFolder-ask=on", &out, &err), 0)
        << err;
    ASSERT_EQ(Quorvel("conflicts show" + session, &out, &err), 0) << err;
    EXPECT_NE(out.find("sync\tskip\nsync-ask\toff\n"), std::string::npos) << out;
    EXPECT_NE(out.find("fileFolder\tproceed\nfileFolder-ask\ton\nmarker\t1\n"), std::string::npos)
        << out;
    ASSERT_EQ(Quorvel("conflicts show --json" + session, &out, &err), 0) << err;
    EXPECT_NE(out.find("\"sync\": {\"policy\": \"skip\", \"ask\": false, \"radio\": 1}"),
              std::string::npos)
        << out;
    ASSERT_EQ(Quorvel("conflicts set" + session + " sync=proceed fileFolder-ask=off", &out, &err),
              0);
    ASSERT_EQ(Quorvel("conflicts show" + session, &out, &err), 0) << err;
    EXPECT_NE(out.find("\nmarker\t0\n"), std::string::npos) << out;

    // Without --document the template is edited, as list reads it.
    ASSERT_EQ(Quorvel("settings set --session-index 1 exact=on", &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("list", &out, &err), 0) << err;
    EXPECT_NE(out.find("1\tDefault Backup Session\tBackup\tYes"), std::string::npos) << out;
}

TEST_F(CliTest, ExcludeAndMultipleListsChangeAsTheirPanelsDo) {
    const std::string doc = dir_ / "lists.qvd";
    WriteDocument(doc, {{"Photos", dir_ / "Photos", dir_ / "Copies"}});
    const std::string session = " --session Photos --document " + test::ShellQuote(doc);
    std::filesystem::create_directories(dir_ / "Photos/Temp");
    std::string out, err;
    ASSERT_EQ(
        Quorvel("exclude add " + test::ShellQuote(dir_ / "Photos/Temp/") + session, &out, &err), 0)
        << err;
    EXPECT_EQ(out, "row 1\n");
    ASSERT_EQ(Quorvel("exclude add /gone" + session, &out, &err), 0) << err;
    EXPECT_NE(err.find("\"/gone\" is not there now; stored all the same"), std::string::npos);
    ASSERT_EQ(Quorvel("exclude toggle 2" + session, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("exclude list" + session, &out, &err), 0) << err;
    EXPECT_EQ(out, "exclude\ton\n1\ton\t" + dir_ / "Photos/Temp" + "\n2\toff\t/gone\nvalid\t1\n");
    // Emptied, the list has no valid row and is switched off as the panel is left.
    ASSERT_EQ(Quorvel("exclude remove 1" + session, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("exclude list" + session, &out, &err), 0) << err;
    EXPECT_EQ(out, "exclude\toff\n2\toff\t/gone\nvalid\t0\n");

    ASSERT_EQ(Quorvel("multi set 2 /src /dst" + session, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("multi set 3 /same /same" + session, &out, &err), 2);
    EXPECT_NE(err.find("at the row 3."), std::string::npos) << err;
    ASSERT_EQ(
        Quorvel("multi list --session-index 0 --document " + test::ShellQuote(doc), &out, &err), 0)
        << err;
    EXPECT_EQ(out, "multi\ton\n2\ton\t/src\t/dst\nvalid\t1\n");
    ASSERT_EQ(Quorvel("multi clear 2" + session, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("multi list" + session, &out, &err), 0) << err;
    EXPECT_EQ(out, "multi\toff\nvalid\t0\n");
    // Switching on a list with nothing in it is refused, as for the filters.
    EXPECT_EQ(Quorvel("multi on" + session, &out, &err), 2);
    EXPECT_EQ(Quorvel("exclude on" + session, &out, &err), 2);

    // A row whose source is missing is that row's error; the other row is still done.
    std::filesystem::create_directories(dir_ / "In");
    test::WriteText(dir_ / "In/f", "x");
    ASSERT_EQ(Quorvel("multi set 1 " + test::ShellQuote(dir_ / "In") + " " +
                          test::ShellQuote(dir_ / "Out") + session,
                      &out, &err),
              0)
        << err;
    ASSERT_EQ(Quorvel("multi set 2 " + test::ShellQuote(dir_ / "Gone") + " " +
                          test::ShellQuote(dir_ / "Out2") + session,
                      &out, &err),
              0)
        << err;
    std::filesystem::create_directories(dir_ / "Out");
    EXPECT_EQ(Quorvel("run --yes" + session, &out, &err), 1);
    EXPECT_NE(out.find("Tasks of the multiple list done: 1 of 2"), std::string::npos) << out;
    EXPECT_EQ(test::ReadText(dir_ / "Out/f"), "x");
}

TEST_F(CliTest, RefusedOptionChangesLeaveTheDocumentAsItWas) {
    const std::string doc = dir_ / "refusals.qvd";
    WriteDocument(doc, {{"Twin", "", ""}, {"Twin", "", ""}, {"Solo", "", ""}});
    const std::string before = test::ReadText(doc);
    const std::string document = " --document " + test::ShellQuote(doc);
    struct Case {
        const char* args;
        const char* message;
    };
    const Case cases[] = {
        {"settings set --session Solo colour=blue", "unknown settings key 'colour'"},
        {"settings set --session Solo exact=yes exact=maybe", "'exact' takes yes or no"},
        {"settings set --session Solo task=both", "'task' takes sync or backup"},
        {"settings set --session Solo subfolder-kind=7", "'subfolder-kind' takes one of 0, 1"},
        {"settings set --session Solo subfolder=on subfolder-pattern=",
         "Format not valid. Please look at samples here below."},
        {"settings set --session Solo subfolder-pattern=\"'..'\"", "Format not valid."},
        {"settings set --session Solo exact", "'exact' is not KEY=VALUE"},
        {"settings show --session Twin",
         "2 sessions are named \"Twin\" (indexes 0 1); name one "
         "with --session-index N"},
        {"settings set --session Nobody exact=on", "no session named \"Nobody\""},
        {"settings set --session-index 3 exact=on", "no session with index '3'"},
        {"conflicts set --session-index -1 sync=skip", "no session with index '-1'"},
        {"conflicts set --session-index x sync=skip", "no session with index 'x'"},
        {"conflicts set --session Solo sync=maybe", "'sync' takes proceed or skip"},
        {"conflicts set --session Solo merge=skip", "unknown conflicts key 'merge'"},
        {"settings set --session Solo --session-index 2 exact=on", "either --session NAME or"},
        {"settings set --session Solo", "settings set needs KEY=VALUE"},
        {"conflicts subfolder-name --session Solo", "unknown conflicts verb 'subfolder-name'"},
        {"settings show --session-index 0 --all", "takes one session, not --all"},
        {"list --session-index 0",
         "--session-index is only for settings, conflicts, scripts, volumes, filter, exclude"},
        {"exclude remove 0 --session Solo", "no row '0': the rows are numbered 1 to 32"},
        {"exclude add --session Solo", "exclude add needs PATH"},
        {"multi set 1 /a --session Solo", "multi set needs N SOURCE DESTINATION"},
        {"multi set 1 /a /a --session Solo",
         "Can't set the same folder:\n\"/a\"\nas source and destination at the row 1."},
        {"multi swap --session Solo", "unknown multi verb 'swap'"},
    };
    for (const Case& c : cases) {
        std::string out, err;
        EXPECT_EQ(Quorvel(c.args + document, &out, &err), 2) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << "\n" << err;
        EXPECT_EQ(test::ReadText(doc), before) << c.args;
    }
    // A document made read-only is not replaced behind its back, not even by root.
    std::filesystem::permissions(doc, std::filesystem::perms::owner_read);
    std::string out, err;
    EXPECT_EQ(Quorvel("settings set --session Solo exact=on" + document, &out, &err), 2);
    EXPECT_NE(err.find("it is read-only"), std::string::npos) << err;
    EXPECT_EQ(test::ReadText(doc), before);
}

TEST_F(CliTest, SubFolderNameAndARunWhoseSubFolderHasNoName) {
    const std::string a = dir_ / "Photos", b = dir_ / "Copies", doc = dir_ / "sub.qvd";
    test::WriteText(a + "/p.jpg", "p");
    std::filesystem::create_directories(b);
    WriteDocument(doc, {{"Photos", a, b}});
    const std::string session = " --session Photos --document " + test::ShellQuote(doc);
    std::string out, err;
    ASSERT_EQ(Quorvel("settings set" + session + " subfolder=on subfolder-kind=1", &out, &err), 0)
        << err;
    ASSERT_EQ(Quorvel("settings subfolder-name" + session, &out, &err), 0) << err;
    EXPECT_EQ(out, "Photos\n");

    // A document edited elsewhere can hold an empty custom pattern, which the command and the
    // panel never write.
    auto read = plist::ReadFile(doc);
    ASSERT_TRUE(read.value.has_value());
    plist::Value& settings = *read.value->find("sessionsArray")->array()[0].find("settingsDict");
    settings.set("settCreateDestFolderNameKind", 0);
    settings.set("settCreateDestFolderCustomNameFormat", "");
    ASSERT_TRUE(plist::WriteXmlFile(doc, *read.value).ok);
    EXPECT_EQ(Quorvel("settings subfolder-name" + session, &out, &err), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "quorvel: The name of the destination sub-folder is empty.\n");

    EXPECT_EQ(Quorvel("run --unattended" + session, &out, &err), 1) << out << err;
    EXPECT_NE(err.find("quorvel: Can't make the sub-folder of the destination \"" + b +
                       "\". The name of the destination sub-folder is empty."),
              std::string::npos)
        << err;
    EXPECT_TRUE(std::filesystem::is_empty(b));
}

// The sub-folder a run writes into is a folder of the destination, never a way out of it.
TEST_F(CliTest, ASubFolderNeverLeadsOutOfTheDestination) {
    const std::string a = dir_ / "Photos/b/..", b = dir_ / "Copies", doc = dir_ / "out.qvd";
    const std::string outside = dir_ / "outside";
    test::WriteText(dir_ / "Photos/p.jpg", "p");
    test::WriteText(outside + "/victim.txt", "keep");
    std::filesystem::create_directories(dir_ / "Photos/b");
    std::filesystem::create_directories(b);
    WriteDocument(doc, {{"Photos", a, b}});
    const std::string session = " --session Photos --document " + test::ShellQuote(doc);
    std::string out, err;
    // The source "Photos/b/.." is Photos: the sub-folder takes that name.
    ASSERT_EQ(
        Quorvel("settings set" + session + " exact=on subfolder=on subfolder-kind=1", &out, &err),
        0)
        << err;
    const std::string name = "Photos";
    ASSERT_EQ(Quorvel("settings subfolder-name" + session, &out, &err), 0) << err;
    EXPECT_EQ(out, name + "\n");

    // A link put at the sub-folder's name: the exact run refuses it, nothing outside changes.
    std::filesystem::create_directory_symlink(outside, b + "/" + name);
    EXPECT_EQ(Quorvel("run --unattended" + session, &out, &err), 1) << out << err;
    EXPECT_NE(err.find("the run does not follow it"), std::string::npos) << err;
    EXPECT_EQ(test::ReadText(outside + "/victim.txt"), "keep");
    EXPECT_FALSE(std::filesystem::exists(outside + "/p.jpg"));
    std::filesystem::remove(b + "/" + name);

    // The plan of a first run plans the new sub-folder; a missing destination is not made.
    ASSERT_EQ(Quorvel("plan" + session, &out, &err), 0) << out << err;
    EXPECT_NE(out.find("CopyAtoB"), std::string::npos) << out;
    std::filesystem::remove_all(b);
    EXPECT_EQ(Quorvel("run --unattended" + session, &out, &err), 1) << out << err;
    EXPECT_NE(err.find("Cannot find the destination folder"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(b));

    // A name longer than a file system takes is refused before any run.
    EXPECT_EQ(Quorvel("settings set" + session + " subfolder-kind=0 subfolder-pattern=\"'" +
                          std::string(300, 'A') + "'\"",
                      &out, &err),
              2);
    EXPECT_NE(err.find("Format not valid"), std::string::npos) << err;
}

TEST_F(CliTest, SessionVerbsChangeTheDocumentAsTheWindowDoes) {
    const std::string doc = dir_ / "s.qvd";
    const std::string d = " --document " + test::ShellQuote(doc);
    std::filesystem::create_directories(dir_ / "src");
    std::string out, err;
    ASSERT_EQ(Quorvel("new-document " + test::ShellQuote(doc), &out, &err), 0) << err;
    // Relative folders are stored absolute; a missing one with a warning.
    ASSERT_EQ(Quorvel("session add Nightly --task backup --source src --dest /no/such" + d, &out,
                      &err, "cd " + test::ShellQuote(dir_.path()) + " &&"),
              0)
        << err;
    EXPECT_TRUE(test::Contains(err, "warning: \"/no/such\" is not a folder"));
    ASSERT_EQ(Quorvel("session duplicate Nightly" + d, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("session move 'Copy 1 of Nightly' --to 0" + d, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("session rename 'Default Sync Session' Daily" + d, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("session remove 'Default Backup Session' --yes" + d, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("list" + d, &out, &err), 0) << err;
    const std::string src = dir_ / "src";
    EXPECT_EQ(out, "0\tCopy 1 of Nightly\tBackup\tNo\t" + src +
                       "\t/no/such\n"
                       "1\tDaily\tSynchronize\tNo\t\t\n"
                       "2\tNightly\tBackup\tNo\t" +
                       src + "\t/no/such\n");
    EXPECT_EQ(plist::ReadFile(doc).value->intAt("sessionIndex"), 0);  // the moved copy

    // Refusals say what the window says, exit with 2 and leave the file as it was.
    const std::string before = test::ReadText(doc);
    const struct {
        std::string args;
        const char* message;
    } refusals[] = {
        {"session rename Daily Nightly", "quorvel: Name duplicated.\n"},
        {"session add 'All Sessions'", "quorvel: Can't use this name.\n"},
        {"session add ''", "quorvel: Please insert a valid name.\n"},
        {"session add " + test::ShellQuote("a\tb"), "control characters"},
        {"session remove Daily", "without a terminal, give --yes"},  // stdin is no terminal
        {"session set-folders Daily --source ''", "--source needs a folder"},
        {"session set-folders Daily --source \"$(printf '/n\\377b')\"", "not UTF-8 text"},
        {"session move Daily --to 3", "--to takes an index from 0 to 2"},
        {"session rename Nobody x", "no session named \"Nobody\""},
        {"session add x --to 1", "--to is not for session add"},
        {"session frob", "unknown session verb"},
        {"session add -dash", "unknown option '-dash'"},
        {"--dest session", "the command word was taken as an option's value"},
    };
    for (const auto& r : refusals) {
        EXPECT_EQ(Quorvel(r.args + d, &out, &err), 2) << r.args;
        EXPECT_TRUE(test::Contains(err, r.message)) << r.args;
        EXPECT_EQ(test::ReadText(doc), before) << r.args;
    }
    // After "--", a name beginning with "-" is a name, for the session verbs and the others.
    ASSERT_EQ(Quorvel("session add" + d + " -- -dash", &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("session rename" + d + " -- -dash --dashed", &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("settings show --session --dashed" + d, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("list" + d + " --", &out, &err), 0) << err;
    EXPECT_TRUE(test::Contains(out, "\t--dashed\t")) << out;
}

TEST_F(CliTest, CommandsRunTogetherKeepEveryChangeAndADamagedTemplateIsReported) {
    // Each command reads the template, changes it and writes it: run side by side, none may
    // write over another's change.
    const std::string bin = test::ShellQuote(QV_QUORVEL_BIN);
    std::string script = "for i in 1 2 3 4 5 6; do " + bin +
                         " session add P$i 2>/dev/null & done; " + bin +
                         " prefs set prefBeepWhenDone yes >/dev/null & wait";
    ASSERT_EQ(test::RunCommand(script), 0);
    std::string out, err;
    ASSERT_EQ(Quorvel("list", &out, &err), 0) << err;
    for (int i = 1; i <= 6; ++i) {
        EXPECT_TRUE(test::Contains(out, "\tP" + std::to_string(i) + "\t")) << i;
    }
    ASSERT_EQ(Quorvel("prefs get prefBeepWhenDone", &out, &err), 0) << err;
    EXPECT_TRUE(test::Contains(out, "1"));

    // A template that cannot be read is kept aside, and the command says so.
    const std::string templ = configDir() + "/app.quorvel.Quorvel.template.plist";
    test::WriteText(templ, "garbage");
    ASSERT_EQ(Quorvel("list", &out, &err), 0);
    EXPECT_TRUE(test::Contains(err, "quorvel: warning: The file"));
    EXPECT_EQ(test::ReadText(templ + ".unreadable"), "garbage");
}

TEST_F(CliTest, TwinSessionsAreNamedByIndexAndSaveAsKeepsFiles) {
    const std::string doc = dir_ / "twins.qvd";
    WriteDocument(doc, {{"twin", "/a", "/b"}, {"twin", "/c", "/d"}, {"last", "/e", "/f"}});
    const std::string d = " --document " + test::ShellQuote(doc);
    std::string out, err;
    EXPECT_EQ(Quorvel("session remove twin --yes" + d, &out, &err), 2);
    EXPECT_TRUE(test::Contains(err, "2 sessions are named \"twin\" (indexes 0 1)"));
    ASSERT_EQ(Quorvel("session rename --session-index 1 other" + d, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("session remove twin --yes" + d, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("list" + d, &out, &err), 0) << err;
    EXPECT_EQ(out, "0\tother\tBackup\tNo\t/c\t/d\n1\tlast\tBackup\tNo\t/e\t/f\n");

    // Save As writes the template, or the --document, elsewhere; an existing file is kept.
    const std::string copy = dir_ / "copy";
    ASSERT_EQ(Quorvel("document save-as " + test::ShellQuote(copy) + d, &out, &err), 0) << err;
    EXPECT_EQ(out, copy + ".qvd\n");
    EXPECT_EQ(test::ReadText(copy + ".qvd"), test::ReadText(doc));
    ASSERT_EQ(Quorvel("session add Fresh", &out, &err), 0) << err;  // the template
    EXPECT_EQ(Quorvel("document save-as " + test::ShellQuote(copy), &out, &err), 2);
    EXPECT_TRUE(test::Contains(err, "already exists"));
    ASSERT_EQ(Quorvel("document save-as --force " + test::ShellQuote(copy), &out, &err), 0);
    ASSERT_EQ(Quorvel("list --document " + test::ShellQuote(copy + ".qvd"), &out, &err), 0);
    EXPECT_TRUE(test::Contains(out, "2\tFresh\tSynchronize\tNo\t\t\n"));
}

TEST_F(CliTest, PrefsSetThenListGetAndResetRoundTrip) {
    std::string out, err;
    ASSERT_EQ(Quorvel("prefs set prefSaveLogFile yes prefLogFileFormat 'Plain text' "
                      "prefDeleteLogsOn on prefDeleteLogsField 3 prefSendEmail 1 "
                      "mSendEmailTo ann@example.org mSendEmailFrom qv@example.org "
                      "mSendEmailAccountID qv mSendEmailSMTP smtp.example.org "
                      "prefPathLogFolder /srv/logs",
                      &out, &err),
              0)
        << err;
    ASSERT_EQ(Quorvel("prefs list", &out, &err), 0) << err;
    EXPECT_TRUE(test::Contains(out, "prefSyncAndQuit\t0\tSync and Quit\n"));
    EXPECT_TRUE(test::Contains(out,
                               "prefSaveLogFile\t1\tSave the log to a file\n"
                               "prefSaveLogFileWhen\t2\tSave it:\n"
                               "prefLogFileFormat\t2\tLog file format:\n"
                               "prefDeleteLogsOn\t1\tDelete old log files\n"
                               "prefDeleteLogsPop\t0\tWhich logs:\n"
                               "prefDeleteLogsField\t3\tDays or logs:\n"));
    EXPECT_TRUE(test::Contains(out, "prefPathLogFolder\t/srv/logs\tLog folder:\n"));
    EXPECT_TRUE(test::Contains(out, "mSendEmailTo\tann@example.org\tE-mail address:\n"));
    ASSERT_EQ(Quorvel("prefs list --json", &out, &err), 0) << err;
    EXPECT_TRUE(test::Contains(out, "{\"prefSyncAndQuit\": 0, "));
    EXPECT_TRUE(test::Contains(out, "\"mSendEmailTo\": \"ann@example.org\", "));
    EXPECT_TRUE(test::Contains(out, "\"mSendEmailPassword\": \"(none)\"}\n"));
    ASSERT_EQ(Quorvel("prefs get prefDeleteLogsField", &out, &err), 0) << err;
    EXPECT_EQ(out, "3\n");

    ASSERT_EQ(Quorvel("prefs reset", &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("prefs get prefLogFileFormat", &out, &err), 0) << err;
    EXPECT_EQ(out, "1\n");
    ASSERT_EQ(Quorvel("prefs get mSendEmailTo", &out, &err), 0) << err;
    EXPECT_EQ(out, "\n");
}

TEST_F(CliTest, PrefsRefusalsWriteNothing) {
    std::string out, err;
    ASSERT_EQ(Quorvel("prefs set prefBeepWhenDone on", &out, &err), 0) << err;
    const std::string before = test::ReadText(configDir() + "/app.quorvel.Quorvel.plist");
    struct Case {
        const char* args;
        const char* message;
    };
    const Case cases[] = {
        {"prefs set prefShutDown yes prefBeepWhenDone maybe", "'prefBeepWhenDone' takes yes or no"},
        {"prefs set prefDeleteLogsField 0",
         "The Delete Logs text field must contain a value greater than zero."},
        {"prefs set prefSendEmail on",
         "Missing parameter \"Email From\" on the Send Log via email panel."},
        {"prefs set prefRoot 1", "use sudo or pkexec to run Quorvel as root"},
        {"prefs set mSendEmailTo \"$(printf 'a@b.c\\nBcc: x@y')\"",
         "The e-mail setting mSendEmailTo can't hold a line break"},
        {"prefs set prefOnError Never", "'prefOnError' takes one of 1 (Stop the task)"},
        {"prefs set colour blue", "unknown preference 'colour'"},
        {"prefs set prefShutDown", "prefs set needs KEY VALUE pairs"},
        {"prefs get colour", "unknown preference 'colour'"},
        {"prefs frobnicate", "unknown prefs verb 'frobnicate'"},
        {"prefs get prefShutDown --json", "--json is only for prefs list"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Quorvel(c.args, &out, &err), 2) << c.args;
        EXPECT_TRUE(test::Contains(err, c.message)) << c.args;
        EXPECT_EQ(test::ReadText(configDir() + "/app.quorvel.Quorvel.plist"), before) << c.args;
    }
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST_F(CliTest, ScriptsAreCheckedWhenSetAndARunStartsThemAroundItsSession) {
    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "s.qvd";
    test::WriteText(a + "/f", "f");
    ::mkdir(b.c_str(), 0755);
    WriteDocument(doc, {{"Mirror", a, b}});
    const std::string on = " --session Mirror --document " + test::ShellQuote(doc);
    std::string out, err;
    const std::string before = test::ReadText(doc);
    EXPECT_EQ(Quorvel("scripts set before --text 'if then'" + on, &out, &err), 2);
    EXPECT_EQ(err,
              "quorvel: Error checking the before-script.\nline 1: Syntax error: \"then\" "
              "unexpected\n");
    EXPECT_EQ(test::ReadText(doc), before);

    // The before-script runs before the scan: what it makes in A is copied.
    const std::string made = "echo made > \"$QUORVEL_SOURCE/made-before\"";
    ASSERT_EQ(Quorvel("scripts set before --text " + test::ShellQuote(made) + on, &out, &err), 0)
        << err;
    ASSERT_EQ(Quorvel("scripts set after --text 'echo went wrong.; exit 3'" + on), 0);
    ASSERT_EQ(Quorvel("scripts on before" + on), 0);
    ASSERT_EQ(Quorvel("scripts on after" + on), 0);
    ASSERT_EQ(Quorvel("scripts show" + on, &out), 0);
    EXPECT_EQ(out, "asStartOn\t1\nasEndOn\t1\nasStartText\n\t" + made +
                       "\nasEndText\n\techo went wrong.; exit 3\n");
    EXPECT_EQ(Quorvel("scripts check" + on), 0);
    EXPECT_EQ(Quorvel("scripts try after" + on, &out, &err), 3);
    EXPECT_EQ(out, "went wrong.\n");
    // A time limit no clock can count is no limit.
    ASSERT_EQ(Quorvel("prefs set prefScriptTimeout 9223372036854775"), 0);
    ASSERT_EQ(Quorvel("scripts set before --text 'sleep 0.3; echo slept'" + on), 0);
    EXPECT_EQ(Quorvel("scripts try before" + on, &out, &err), 0) << err;
    EXPECT_EQ(out, "slept\n");
    ASSERT_EQ(Quorvel("scripts set before --text " + test::ShellQuote(made) + on), 0);

    EXPECT_EQ(Quorvel("run --unattended --print-log" + on, &out, &err), 1) << err;
    EXPECT_EQ(test::ReadText(b + "/made-before"), "made\n");
    EXPECT_NE(out.find("• Session: \"Mirror\" - Errors: 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("√ Error running the script after the session \"Mirror\".\nError: 3.\n"
                       "\twent wrong\n"),
              std::string::npos)
        << out;

    // A switched-on script left empty does not pass the check, nor the run's.
    ASSERT_EQ(Quorvel("scripts set after --text ''" + on), 0);
    EXPECT_EQ(Quorvel("scripts check" + on, &out, &err), 1);
    EXPECT_EQ(err, "quorvel: Error checking the after-script.\nThe script is empty.\n");
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// Whether this machine lets the test make and mount an ext4 image (root, loop devices).
bool CanMountImages() {
    return ::geteuid() == 0 && test::RunCommand("command -v mkfs.ext4 >/dev/null") == 0 &&
           platform::ItemExists("/dev/loop-control");
}

TEST_F(CliTest, ARunMountsItsDiskImageCopiesAndUnmountsItAndAFailedMountCopiesNothing) {
    if (!CanMountImages()) GTEST_SKIP() << "needs root, mkfs.ext4 and loop devices";
    const std::string a = dir_ / "A", image = dir_ / "disk.ext4", doc = dir_ / "v.qvd";
    const std::string point = "/mnt/quorvel-test-" + std::to_string(::getpid());
    const std::string dest = point + "/backup";
    test::WriteText(a + "/f.txt", "f");
    ASSERT_EQ(test::RunCommand("truncate -s 16M " + image + " && mkfs.ext4 -q " + image +
                               " && mkdir -p " + point + " && mount -o loop " + image + " " +
                               point + " && mkdir " + dest),
              0);
    WriteDocument(doc, {{"Disk", a, dest}});
    const std::string on = " --session Disk --document " + test::ShellQuote(doc);
    std::string out, err;
    ASSERT_EQ(Quorvel("volumes add " + dest + on, &out, &err), 0) << err;
    EXPECT_EQ(out, "1\tfile://localhost" + point + "\n");
    EXPECT_EQ(Quorvel("volumes add /" + on, &out, &err), 2);  // the system's own volume
    ASSERT_EQ(Quorvel("volumes on" + on), 0);
    ASSERT_EQ(Quorvel("volumes list" + on, &out), 0);
    EXPECT_EQ(out, "autoMountVolumeOn\t1\n1\t\xE2\x80\xA2\tfile://localhost" + point + "\t" +
                       point + "\t1\tno\n");
    // Mounted before the run: it stays mounted after it.
    ASSERT_EQ(Quorvel("run --unattended" + on, &out, &err), 0) << err;
    EXPECT_TRUE(engine::IsMountPoint(point));
    ASSERT_EQ(test::RunCommand("umount " + point), 0);

    // A plan mounts nothing: the volume is reported as not mounted.
    EXPECT_EQ(Quorvel("plan" + on, &out, &err), 1);
    EXPECT_NE(err.find("because I cannot mount the volume it resides on"), std::string::npos);
    EXPECT_FALSE(engine::IsMountPoint(point));
    // Not mounted: the run mounts it, copies, unmounts it and frees its loop device.
    test::WriteText(a + "/g.txt", "g");
    ASSERT_EQ(Quorvel("run --unattended --print-log" + on, &out, &err), 0) << err;
    EXPECT_NE(out.find("Mounted the volume\n\"file://localhost" + point + "\""), std::string::npos)
        << out;
    EXPECT_FALSE(engine::IsMountPoint(point));
    std::string loops;
    test::RunCommand("losetup -j " + image, &loops);
    EXPECT_EQ(loops, "");
    ASSERT_EQ(Quorvel("volumes mount 1" + on, &out, &err), 0) << err;
    EXPECT_EQ(test::ReadText(dest + "/g.txt"), "g");
    ASSERT_EQ(Quorvel("volumes unmount 1" + on, &out, &err), 0) << err;
    EXPECT_FALSE(engine::IsMountPoint(point));

    // An image that no longer mounts, a folder made where it should be: the run copies
    // nothing into that folder, and says why; nothing is mounted over a folder that holds
    // something.
    ASSERT_EQ(test::RunCommand("dd if=/dev/zero of=" + image +
                               " bs=1k count=2048 conv=notrunc 2>/dev/null && mkdir " + dest),
              0);
    EXPECT_EQ(Quorvel("run --unattended" + on, &out, &err), 1);
    EXPECT_NE(err.find("Can't mount the volumes:"), std::string::npos) << err;
    EXPECT_NE(err.find("because I cannot mount the volume it resides on"), std::string::npos);
    std::string left;
    test::RunCommand("ls -A " + dest, &left);
    EXPECT_EQ(left, "");
    EXPECT_NE(err.find("mount point is not empty"), std::string::npos) << err;
    ASSERT_EQ(test::RunCommand("rmdir " + dest), 0);
    EXPECT_EQ(Quorvel("volumes mount 1" + on, &out, &err), 1);
    EXPECT_NE(err.find("Can't mount the dmg volume."), std::string::npos) << err;
    test::RunCommand("rmdir " + point);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST_F(CliTest, TheLogIsMailedToEachRecipientAndThePasswordStaysOutOfEveryFile) {
    if (test::RunCommand("/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs python3-aiosmtpd";
    }
    platform::ChildProcess server;
    std::string error;
    const std::string mail = dir_ / "mail";
    ::mkdir(mail.c_str(), 0700);
    ASSERT_TRUE(server.Start({"/usr/bin/python3", QV_TEST_SUPPORT_DIR "/smtp_server.py", "--folder",
                              mail, "--user", "qv", "--password", "right horse"},
                             &error));
    for (int i = 0; i < 500 && server.output().find('\n') == std::string::npos; ++i)
        server.Wait(20);
    const std::string port = server.output().substr(0, server.output().find('\n'));
    ASSERT_FALSE(port.empty());
    std::string out, err;
    // Refused when applied: a line break in a field, a port out of range, eleven recipients.
    EXPECT_EQ(
        Quorvel("prefs set mSendEmailSMTP \"$(printf 'host\\r\\nRCPT TO:<x@y.z>')\"", &out, &err),
        2);
    EXPECT_EQ(Quorvel("prefs set mSendEmailPort 70000", &out, &err), 2);
    EXPECT_EQ(Quorvel("prefs set mSendEmailSMTP 127.0.0.1:25/helo", &out, &err), 2);
    EXPECT_EQ(Quorvel("prefs set mSendEmailTo '\"a b\"@example.org'", &out, &err), 2);
    EXPECT_EQ(Quorvel("prefs set mSendEmailAccountID \"$(printf 'qv\\302\\205x')\"", &out, &err),
              2);
    EXPECT_EQ(Quorvel("prefs set mSendEmailTo 'a@b.cd,b@b.cd,c@b.cd,d@b.cd,e@b.cd,f@b.cd,g@b.cd,"
                      "h@b.cd,i@b.cd,j@b.cd,k@b.cd'",
                      &out, &err),
              2);
    EXPECT_NE(err.find("at most 10 recipients"), std::string::npos) << err;
    ASSERT_EQ(Quorvel("prefs set prefSendEmail yes prefSendEmailWhen 1 mSendEmailTo "
                      "'ann@example.org, bob@example.org' mSendEmailFrom qv@example.org "
                      "mSendEmailSMTP 127.0.0.1 mSendEmailPort " +
                          port + " mSendEmailAccountID qv mSendEmailUseSSL 0",
                      &out, &err),
              0)
        << err;
    EXPECT_EQ(Quorvel("prefs set-email-password 'right horse'", &out, &err), 2);
    EXPECT_EQ(Quorvel("prefs set-email-password", &out, &err, "printf 'a\\nb\\n' |"), 2);
    ASSERT_EQ(Quorvel("prefs set-email-password", &out, &err, "echo 'right horse' |"), 0) << err;
    ASSERT_EQ(Quorvel("prefs get mSendEmailPassword", &out), 0);
    EXPECT_EQ(out, "(set)\n");
    EXPECT_EQ(Quorvel("mail test", &out, &err), 0) << err;

    const std::string a = dir_ / "A", b = dir_ / "B", doc = dir_ / "m.qvd";
    test::WriteText(a + "/f", "f");
    ::mkdir(b.c_str(), 0755);
    WriteDocument(doc, {{"Mail", a, b}});
    ASSERT_EQ(Quorvel("run --unattended --session Mail --document " + doc, &out, &err), 0) << err;
    EXPECT_NE(out.find("E-mail sent to ann@example.org, bob@example.org\n"), std::string::npos)
        << out;
    std::string listed;
    test::RunCommand("ls " + mail, &listed);
    EXPECT_EQ(listed, "000.eml\n001.eml\n002.eml\n003.eml\n");  // the test mail, then the log
    EXPECT_NE(test::ReadText(mail + "/002.eml").find("Subject: Quorvel Log Message: OK"),
              std::string::npos);
    // The password is in no file of the home but the preferences (scrambled), which only their
    // owner may read.
    std::string found;
    test::RunCommand("grep -rl 'right horse' " + dir_.path() + " || true", &found);
    EXPECT_EQ(found, "");

    // A refused login: the run's mail fails, counted, exit status 1.
    ASSERT_EQ(Quorvel("prefs set-email-password", &out, &err, "echo 'wrong horse' |"), 0);
    test::WriteText(a + "/g", "g");
    EXPECT_EQ(Quorvel("run --unattended --session Mail --document " + doc, &out, &err), 1);
    EXPECT_NE(err.find("Can't send email (ann@example.org)"), std::string::npos) << err;
    EXPECT_EQ(Quorvel("mail test", &out, &err), 1);
    EXPECT_NE(err.find("The test email has not been sent."), std::string::npos) << err;
    server.Kill();
}

TEST_F(CliTest, VersionsAreListedAndOneIsPutBackWithoutOverwriting) {
    const std::string doc = dir_ / "versions.qvd", a = dir_ / "A", b = dir_ / "B";
    test::WriteText(a + "/report.txt", "new");
    test::WriteText(b + "/.quorvel-versions/sub/report 2026-12-07 181200.txt", "tuesday");
    test::WriteText(b + "/.quorvel-versions/sub/report 2026-12-01 090000.txt", "older");
    // Only what the record names is a version: not the lookalike beside them.
    test::WriteText(b + "/.quorvel-versions/sub/report 2026-12-09 090000.txt", "planted");
    test::WriteText(b + "/.quorvel-versions/.quorvel-versions.list",
                    "1765131120\tf\tsub/report 2026-12-07 181200.txt\n"
                    "1764576000\tf\tsub/report 2026-12-01 090000.txt\n");
    WriteDocument(doc, {{"Docs", a, b}});
    const std::string session = " --session Docs --document " + test::ShellQuote(doc);
    std::string out, err;
    ASSERT_EQ(Quorvel("settings set versions=yes" + session, &out, &err), 0) << err;
    ASSERT_EQ(Quorvel("versions list" + session, &out, &err), 0) << err;
    EXPECT_EQ(out,
              "2026-12-07 181200\t7\tB\tsub/report.txt\n2026-12-01 090000\t5\tB\tsub/report.txt\n");
    EXPECT_EQ(
        Quorvel("versions restore sub/report.txt --at '2026-12-02 000000'" + session, &out, &err),
        2);
    ASSERT_EQ(Quorvel("versions restore " + test::ShellQuote(a + "/sub/report.txt") +
                          " --at '2026-12-01 090000'" + session,
                      &out, &err),
              0)
        << err;
    EXPECT_EQ(test::ReadText(a + "/sub/report.txt"), "older");
    EXPECT_EQ(test::ReadText(b + "/sub/report.txt"), "older");
    EXPECT_EQ(
        Quorvel("versions restore sub/report.txt --to " + test::ShellQuote(a + "/sub") + session,
                &out, &err),
        1);
    EXPECT_NE(err.find("already exists: nothing was overwritten"), std::string::npos) << err;
    EXPECT_EQ(Quorvel("versions list --at x" + session, &out, &err), 2);
}

}  // namespace
}  // namespace qv
