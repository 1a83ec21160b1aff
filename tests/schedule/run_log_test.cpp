#include "schedule/run_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ctime>

#include "platform/localization.h"
#include "sessions/plist_value.h"
#include "support/test_support.h"

namespace qv::schedule {
namespace {

constexpr double kStart = 1796457600;  // Saturday 5 December 2026, 08:00:00 UTC

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t cr; (cr = text.find('\r', from)) != std::string::npos; from = cr + 1) {
        lines.push_back(text.substr(from, cr - from));
    }
    lines.push_back(text.substr(from));
    return lines;
}

void ExpectSameLines(const std::string& actual, const std::vector<std::string>& expected) {
    const std::vector<std::string> lines = Lines(actual);
    for (std::size_t i = 0; i < std::max(lines.size(), expected.size()); ++i) {
        EXPECT_EQ(i < lines.size() ? lines[i] : "<none>",
                  i < expected.size() ? expected[i] : "<none>")
            << "line " << i + 1;
    }
}

plist::Value TimerRow(bool valid, double start, const plist::Dict& more = {}) {
    plist::Value row = plist::Dict{{"valid", valid ? 1 : 0},
                                   {"onOff", 1},
                                   {"start", plist::Date{start}},
                                   {"end", plist::Date{start}}};
    for (const auto& [key, value] : more) row.set(key, value);
    return row;
}

// The lines that sum up one side of a task; counts are found folders and files, created,
// replaced, copied, visible, invisible, deleted folders and files. The second side has two
// spaces before "visible".
std::vector<std::string> Summary(const std::string& side, const std::string& path, bool second,
                                 std::array<int, 9> n = {}) {
    const auto s = [&n](int i) { return std::to_string(n[i]); };
    return {"",
            "• Summary " + side + ":",
            "\t" + path,
            "\tFolders Found: " + s(0),
            "\tFiles Found: " + s(1),
            "\t-",
            "\tFolders Created: " + s(2),
            "\tFiles Replaced: " + s(3),
            "\tFiles Copied (new additions): " + s(4),
            "\tTotal of items copied: " + s(5) + (second ? "  " : " ") + "visible + " + s(6) +
                " invisible = " + std::to_string(n[5] + n[6]),
            "\t-",
            "\tFolders Deleted: " + s(7),
            "\tFiles Deleted: " + s(8)};
}

class RunLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.Set("TZ", "UTC");
        ::tzset();
        platform::InstallLocalizer(platform::Localizer{});
        for (const char* sub : {"a", "b", "Photos.app"}) {
            ASSERT_EQ(::mkdir((dir_ / sub).c_str(), 0755), 0);
        }
        test::WriteText(dir_ / "notes.txt", "n");
        test::WriteText(dir_ / "b/notes.txt", "n");

        doc_.mMainDict = sessions::SessionDocument::NewTemplate();
        plist::Value& sync = *doc_.GetSessionDict(0);
        plist::Value& timers = *sync.dictAt("timerDict");
        timers.set("timerOn", 1);
        plist::Array& rows = timers.arrayAt("timerArray")->array();
        rows[0] = TimerRow(true, kStart + 5400,  // 09:30
                           {{"intervalOn", 1},
                            {"intervalYears", 1},
                            {"intervalDays", 2},
                            {"intervalHours", 1},
                            {"intervalMinutes", 5},
                            {"endOn", 1},
                            {"end", plist::Date{kStart + 12 * 3600 + 15 * 60}}});
        for (const char* day : {"onlyMonday", "onlyTuesday", "onlyWednesday", "onlyThursday",
                                "onlyFriday", "onlySaturday", "onlySunday"}) {
            rows[0].set(day, 1);
        }
        rows[1] = TimerRow(false, kStart);  // on but not valid: not listed
        rows[2] = TimerRow(true, kStart + 86400);
        rows[3] = TimerRow(true, kStart,
                           {{"intervalOn", 1},
                            {"intervalMonths", 1},
                            {"endOn", 1},
                            {"endDateOn", 1},
                            {"end", plist::Date{kStart + 31 * 86400}},
                            {"onlyMonday", 1},
                            {"onlyFriday", 1}});
        sync.dictAt("multiDict")->set("multiOn", 1);
        sync.dictAt("excludeDict")->set("excludeOn", 1);
        sync.dictAt("filterDict")->set("filterOn", 1);
        plist::Value& scripts = *sync.dictAt("appleScriptDict");
        scripts.set("asStartOn", 1);
        // 62 ASCII characters, two of two bytes each, then more: the cut falls after the second.
        scripts.set("asStartText",
                    std::string(62, 'x') + "\xC3\xA9\xC3\xA9" + std::string(36, 'y'));
        scripts.set("asEndOn", 1);
        scripts.set("asEndText", "echo done\nexit 0");
        doc_.GetSessionDict(1)->dictAt("settingsDict")->set("settInvisibleItems", 0);

        prefs_ = plist::Dict{
            {"prefSyncAndQuit", 0},     {"prefAskConfirmation", 1},
            {"prefPreview", true},      {"prefPreviewExpanded", 0},
            {"prefBeepWhenDone", 0},    {"prefShutDown", 0},
            {"prefOnError", 2},         {"prefSaveLogFile", 1},
            {"prefSaveLogFileWhen", 5}, {"prefLogFileFormat", 2},
            {"prefLogKind", 2},         {"prefSendEmail", 1},
            {"prefSendEmailWhen", 2},   {"prefPathLogFolder", "/home/ada/Log Files"},
        };
        facts_ = {"Debian GNU/Linux 12 (bookworm)",
                  "6.1.0-13-amd64",
                  "52.54.00.12.34.56",
                  "Ada Lovelace",
                  "ada",
                  1000,
                  100,
                  1001,
                  101};
    }

    // An all-sessions run: the sync session with two tasks of its multiple list (a folder pair
    // and a file pair), then the backup session from a package to a folder not made yet.
    void FillTwoSessionRun() {
        state_.config.mExecutedBy = run::kExecutedByCommandLine;
        state_.totals.gGlobalError = 3;
        state_.mUserPressedStop = true;
        state_.totals.gStartSyncDateTime = kStart;
        state_.totals.gEndSyncDateTime = kStart + 25 * 3600 + 65.4;

        run::SessionLog sync;
        sync.sessionIndex = 0;
        sync.executiveMultiArray = std::vector<run::MultiRow>{
            {dir_ / "a", dir_ / "b"}, {dir_ / "notes.txt", dir_ / "b/notes.txt"}};
        sync.executiveFilterArray =
            std::vector<std::string>{"FN ends with \".tmp\"", "Kind is a folder"};
        sync.executiveExcludeArray = std::vector<std::string>{"/x/Cache", "/x/tmp"};
        run::TaskLog folders;
        folders.gSourceFolder = dir_ / "a";
        folders.gDestFolder = dir_ / "b";
        folders.gAFoldersScanned = 4;
        folders.gAFilesScanned = 20;
        folders.gBFoldersScanned = 3;
        folders.gBFilesScanned = 18;
        folders.gTotError = 1;
        folders.gDetailedLogText = "Copied: a/one\r\xE2\x88\x9A a/two: Permission denied\r";
        run::CopyCounters c;
        c.gAFoldersCreated = 1;
        c.gAFilesReplaced = 2;
        c.gAFilesCopied = 3;
        c.gAItemVisible = 5;
        c.gAItemInvisible = 1;
        c.gAFoldersDeleted = 6;
        c.gAFilesDeleted = 7;
        c.gBFoldersCreated = 8;
        c.gBFilesReplaced = 9;
        c.gBFilesCopied = 10;
        c.gBItemVisible = 26;
        c.gBItemInvisible = 1;
        c.gBFoldersDeleted = 11;
        c.gBFilesDeleted = 12;
        folders.copyCounters = c;
        run::TaskLog files;
        files.taskIndex = 1;
        files.gSourceFolder = dir_.path();
        files.gSourceFileName = "notes.txt";
        files.gDestFolder = dir_ / "b";
        files.gDestFileName = "notes.txt";
        files.gTotError = 2;
        sync.logTaskArray = {folders, files};
        sync.gTotError = 99;  // replaced by the sum of the tasks

        run::SessionLog backup;
        backup.sessionIndex = 1;
        run::TaskLog package;
        package.gSourceFolder = dir_ / "Photos.app";
        package.gDestFolder = dir_ / "missing";
        package.gDetailedLogText = "Copied: Photos.app\r";
        backup.logTaskArray = {package};
        state_.logSessionArray = {sync, backup};
    }

    LogInputs Inputs(bool allSessions) {
        return LogInputs{doc_, prefs_, facts_, tw_, allSessions, "ada@example.org", {}, {}};
    }

    // Declared before env_, so that the zone is read again once TZ is restored.
    struct ZoneReset {
        ~ZoneReset() { ::tzset(); }
    } zoneReset_;
    test::ScopedEnv env_;
    test::TempDir dir_;
    sessions::SessionDocument doc_{""};
    plist::Value prefs_;
    platform::SystemFacts facts_;
    items::TWUtilities tw_;
    run::RunState state_;
};

TEST_F(RunLogTest, AllSessionsRunWritesEverySection) {
    FillTwoSessionRun();
    const std::string log = MakeLog(state_, Inputs(true));
    const std::string rule(85, '='), bar(85, '|'), timerRule = "\t" + std::string(98, '-');
    std::string taskRule;
    for (int i = 0; i < 35; ++i) taskRule += "\xE2\x80\xA6";
    const std::string a = dir_ / "a", b = dir_ / "b", photos = dir_ / "Photos.app",
                      missing = dir_ / "missing";
    const std::string sourceNotes = dir_ / "notes.txt", destNotes = dir_ / "b/notes.txt";
    std::vector<std::string> expected;
    const auto add = [&expected](const std::vector<std::string>& lines) {
        expected.insert(expected.end(), lines.begin(), lines.end());
    };
    // A session's settings, all off but the ones named, then its conflict choices.
    const auto settings = [&](const std::string& task, const std::string& exact,
                              const char* invisible) {
        add({"• Settings: ", "\tTask: " + task, "\t" + exact + ": No",
             std::string("\tSkip invisible items: ") + invisible});
        for (const char* off :
             {"Don't unlock locked items", "Resolve aliases", "Resolve symbolic links",
              "Skip empty folders", "Copy new items only", "Treat packages as folders",
              "Move deleted items to the trash", "Skip the permission check"}) {
            add({"\t" + std::string(off) + ": No"});
        }
        add({"", "• Conflict: ", "\tBackup 1: Replace the destination item - Ask each time: No",
             "\tBackup 2: Keep the newer destination item - Ask each time: No",
             "\tExact Backup: Delete the destination item - Ask each time: No",
             "\tSync: Replace the older item - Ask each time: No",
             "\tExact Sync: Copy the item back - Ask each time: No",
             "\tFile Versus Folder: Replace the folder by the file - Ask each time: No", "", ""});
    };
    // A task's heading, its two items and its detailed part.
    const auto task = [&](const std::string& title, const std::string& first,
                          const std::string& second, const std::vector<std::string>& detail) {
        add({taskRule, "• Task " + title, taskRule, first, second, "", "Start", "--"});
        add(detail);
        add({"--", "End"});
    };
    add({
        rule,
        "• Quorvel Hidden v. 0.1.0 (Build 1) - 64bit - https://quorvel.app - Hidden Mode",
        rule,
        "• OS Info:",
        "\tSystem version: Debian GNU/Linux 12 (bookworm) (Build 6.1.0-13-amd64)",
        "\tMacAddress: 52.54.00.12.34.56",
        "\tCurrent User: Ada Lovelace (ada) - User id: 1000 - Group id: 100",
        "\tEffective User id: 1001 - Effective Group id: 101",
        "",
        bar,
        "• Task: executed by the command line",
        "",
        "• Errors: 3",
        "",
        "• User Action: user pressed the Stop button.",
        "",
        "• Timing: ",
        "\tStart at: Saturday, December 05, 2026 - 08:00:00",
        "\tEnd at:  Sunday, December 06, 2026 - 09:01:05",
        "\tElapsed Time (HMS): 25:01:05",
        "",
        "• Sessions: (2)",
        "\t1: Default Sync Session - Errors: 3",
        "\t2: Default Backup Session - Errors: 0",
        "",
        "• Preferences: ",
        "\t• General: ",
        "\t\tSync and Quit: No",
        "\t\tAsk for confirmation before a run: Yes",
        "\t\tPreview the actions before performing them: Yes",
        "\t\tOpen the preview expanded: No",
        "\t\tBeep when done: No",
        "\t\tShut down the computer when done: No",
        "\t\tOn error: Skip and continue",
        "\t• Log: ",
        "\t\tSave the log to a file: Yes (Unknown Value)",
        "\t\tLog file format: Plain text",
        "\t\tLog kind: Detailed",
        "\t\tLog folder: /home/ada/Log Files",
        "\t\tSend the log by e-mail: Yes (Only when errors occur)",
        "\t\tE-mail address: ada@example.org",
        "\t• Copy Mode: ",
        "\t\tRun with root permissions: No",
        "\t\tTolerate modification date differences (seconds): No",
        "",
        bar,
        "• Session: \"Default Sync Session\" - Errors: 3",
        bar,
        "• Timers: ",
        "\t1:\tStart at:\t\t05 Dec 2026, 09:30",
        "\t\tInterval:\t\t1 year, 2 days, 01:05",
        "\t\tEnd at:\t\t20:15",
        "\t\tExecute On:\tEveryday",
        timerRule,
        "\t3:\tStart at:\t\t06 Dec 2026, 08:00",
        timerRule,
        "\t4:\tStart at:\t\t05 Dec 2026, 08:00",
        "\t\tInterval:\t\t1 month",
        "\t\tEnd at:\t\t05 Jan 2027, 08:00",
        "\t\tExecute On:\tMon, Fri",
        timerRule,
        "",
        "• Multiple List: ",
        "\t1: Errors: 1",
        "\t1st Folder: " + a,
        "\t2nd Folder: " + b,
        "\t--",
        "\t2: Errors: 2",
        "\t1st File: " + sourceNotes,
        "\t2nd File: " + destNotes,
        "",
        "• Filters: ",
        "\t1: FN ends with \".tmp\"",
        "\t2: Kind is a folder",
        "",
        "• Exclude: ",
        "\t1: /x/Cache",
        "\t2: /x/tmp",
        "",
    });
    settings("Synchronize", "Exact Sync", "No");
    add({"• AppleScript: ", "\tBefore Session: " + std::string(62, 'x') + "\xC3\xA9\xC3\xA9...",
         "\tAfter Session:    echo done...", ""});
    task("1 of 2 (Session: \"Default Sync Session\") - Errors: 1", "1st Folder: \"" + a + "\"",
         "2nd Folder: \"" + b + "\"", {"Copied: a/one", "\xE2\x88\x9A a/two: Permission denied"});
    add(Summary("1st Folder", a, false, {4, 20, 1, 2, 3, 5, 1, 6, 7}));
    add(Summary("2nd Folder", b, true, {3, 18, 8, 9, 10, 26, 1, 11, 12}));
    add({""});
    task("2 of 2 (Session: \"Default Sync Session\") - Errors: 2",
         "1st File: \"" + sourceNotes + "\"", "2nd File: \"" + destNotes + "\"", {});
    add(Summary("1st File", sourceNotes, false));
    add(Summary("2nd File", destNotes, true));
    add({"", bar, "• Session: \"Default Backup Session\" - Errors: 0", bar});
    settings("Backup", "Exact Backup", "Yes");
    task("1 of 1 (Session: \"Default Backup Session\") - Errors: 0",
         "Source File: \"" + photos + "\"", "Destination Folder: \"" + missing + "\"",
         {"Copied: Photos.app"});
    add(Summary("Source File", photos, false));
    add(Summary("Destination Folder", missing, true));
    add({"", ""});
    ExpectSameLines(log, expected);

    EXPECT_EQ(state_.logSessionArray[0].gTotError, 3);
    for (const run::SessionLog& record : state_.logSessionArray) {
        for (const run::TaskLog& task : record.logTaskArray) {
            EXPECT_TRUE(task.gDetailedLogText.empty()) << "written once, then let go";
        }
    }
}

TEST_F(RunLogTest, SummaryLogOfOneSessionHasNoDetailedPartNorSessionsList) {
    FillTwoSessionRun();
    state_.logSessionArray.erase(state_.logSessionArray.begin());
    state_.config.mExecutedBy = run::kExecutedByUser;
    // Quitting stops the run: the log tells the quit, not the Stop.
    state_.mUserPressedStop = true;
    state_.gTerminateAfterSync = true;
    state_.config.gModificationDelta = 2;
    state_.config.gMakeDetailedLog = false;
    state_.config.gMakeErrorsLog = false;
    facts_.euid = 0;
    facts_.systemBuild.clear();
    LogInputs inputs = Inputs(false);
    inputs.machineNotice = "The computer may sleep during the run: no system bus";
    const std::string log = MakeLog(state_, inputs);
    const std::vector<std::string> lines = Lines(log);
    auto has = [&lines](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("\tSystem version: Debian GNU/Linux 12 (bookworm)"));
    EXPECT_TRUE(has("• The computer may sleep during the run: no system bus"));
    EXPECT_FALSE(has("• User Action: user pressed the Stop button."));
    EXPECT_TRUE(has("• Task: executed by clicking on the button"));
    EXPECT_TRUE(has("• User Action: user did quit the application during the task."));
    EXPECT_TRUE(has("\t\tRun with root permissions: Yes"));
    EXPECT_TRUE(has("\t\tTolerate modification date differences (seconds): 2"));
    EXPECT_TRUE(has("Destination Folder: \"" + (dir_ / "missing") + "\""));
    EXPECT_FALSE(has("• Sessions: (1)"));
    EXPECT_FALSE(has("Start"));
    EXPECT_FALSE(has("Copied: Photos.app"));
    EXPECT_TRUE(state_.logSessionArray[0].logTaskArray[0].gDetailedLogText.empty());
}

TEST_F(RunLogTest, ReportTellsWhatReachedEachFolderOrWhatWasDone) {
    FillTwoSessionRun();
    state_.session.gTotMultiDone = 2;
    state_.session.gTotMulti = 2;
    state_.session.gTotSessionsDone = 1;
    state_.session.gTotSessions = 2;
    const std::string stopped = "• Stopped by the user.";
    // All sessions, started by hand or by the command.
    EXPECT_EQ(ReportLines(state_, doc_, true, state_.totals.gGlobalError),
              (std::vector<std::string>{"• 1 Sessions Done of 2", "• Items deleted: 36",
                                        "• Errors: 3", stopped}));
    // One session with its multiple list; a timer run counts as one session too.
    state_.config.mExecutedBy = run::kExecutedByTimer;
    EXPECT_EQ(ReportLines(state_, doc_, true, state_.totals.gGlobalError),
              (std::vector<std::string>{"• Tasks of the multiple list done: 2 of 2",
                                        "• Items deleted: 36", "• Errors: 3", stopped}));
    // One session without it: what reached each folder, over every task.
    doc_.GetSessionDict(0)->dictAt("multiDict")->set("multiOn", 0);
    doc_.GetSessionDict(0)->dictAt("consoleDict")->set("topFolder", "/data/a");
    state_.mUserPressedStop = false;
    state_.logSessionArray[1].logTaskArray[0].copyCounters = run::CopyCounters{};
    state_.logSessionArray[1].logTaskArray[0].copyCounters->gAFilesCopied = 100;
    // The errors of the conclusion (a log not saved) count with the run's; what was deleted
    // (or moved to the trash), special files the walk passed by, and conflicts left as they
    // were, are told.
    state_.totals.gSpecialFilesSkipped = 2;
    state_.totals.gGlobalConflictsSkipped = 1;
    EXPECT_EQ(ReportLines(state_, doc_, false, state_.totals.gGlobalError + 1),
              (std::vector<std::string>{
                  "• /data/a: 106", "• Destination Folder not defined: 27",
                  "• Deleted in /data/a: 13", "• Deleted in Destination Folder not defined: 23",
                  "• Skipped 2 special files", "• Conflicts left as they were: 1", "• Errors: 4"}));
}

}  // namespace
}  // namespace qv::schedule
