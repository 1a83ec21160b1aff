// Log files: when a log is saved and where, how old logs are pruned, and reading them back.
#include "schedule/log_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>

#include "platform/file_system.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace qv::schedule {
namespace {

namespace fs = std::filesystem;

constexpr double kNow = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr double kDay = 86400;

// Local time is UTC for the test's length, so that file names are known in advance.
class LogFilesTest : public ::testing::Test {
  protected:
    LogFilesTest() {
        env_.Set("TZ", "UTC");
        ::tzset();
    }

    // With pruning, logs older than a day are deleted after each save.
    plist::Value Prefs(std::int64_t save, std::int64_t when, std::int64_t format,
                       const std::string& folder, bool prune = false) const {
        return plist::Dict{{"prefSaveLogFile", save},
                           {"prefSaveLogFileWhen", when},
                           {"prefLogFileFormat", format},
                           {"prefPathLogFolder", folder},
                           {"prefDeleteLogsOn", prune},
                           {"prefDeleteLogsPop", prune ? 1 : 0},
                           {"prefDeleteLogsField", prune ? 1 : 7}};
    }
    LogSaveResult Save(const std::string& log, const plist::Value& prefs, std::int64_t errors = 1,
                       double start = kNow) const {
        return SaveLogFileToDisk(log, {.preferences = prefs,
                                       .defaultLogFolder = support() + "/Log Files",
                                       .errors = errors,
                                       .startTime = start,
                                       .now = kNow});
    }
    std::string support() const { return dir_ / "support"; }
    static std::vector<std::string> Names(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    static void SetModified(const std::string& path, double seconds) {
        const timespec t[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW), 0) << path;
    }

    // Destroyed after env_ has put TZ back.
    struct TzsetOnExit {
        ~TzsetOnExit() { ::tzset(); }
    } tzset_;
    test::TempDir dir_;
    test::ScopedEnv env_;
};

const std::string kLog = "\xE2\x80\xA2 Errors: 2\r\r\xE2\x88\x9A bad \xFF name\r\tok\r";

TEST_F(LogFilesTest, FileNameIsTheStartInLocalTime) {
    EXPECT_EQ(LogFileName(kNow + 0.9, false), "QVLog_2023_11_14_22_13_20.txt");
    EXPECT_EQ(LogFileName(kNow, true), "QVLog_2023_11_14_22_13_20.rtf");
    env_.Set("TZ", "Asia/Tokyo");
    ::tzset();
    EXPECT_EQ(LogFileName(kNow, true), "QVLog_2023_11_15_07_13_20.rtf");
}

TEST_F(LogFilesTest, WhenRulesDecideWhetherALogIsWritten) {
    const struct {
        std::int64_t save, when, errors;
        bool saved;
    } cases[] = {
        {0, 0, 1, false}, {0, 2, 1, false}, {1, 0, 0, true},
        {1, 1, 0, true},  {1, 2, 0, false}, {1, 2, 1, true},
    };
    for (const auto& c : cases) {
        const std::string folder = dir_ / "logs";
        fs::remove_all(folder);
        const LogSaveResult r = Save(kLog, Prefs(c.save, c.when, 0, folder), c.errors);
        EXPECT_EQ(r.saved, c.saved) << c.save << " " << c.when << " " << c.errors;
        EXPECT_EQ(r.pathLogFile, folder + "/QVLog_2023_11_14_22_13_20.txt");
        EXPECT_EQ(fs::exists(r.pathLogFile), c.saved);
        EXPECT_TRUE(r.errorMessage.empty());
        if (c.saved) {
            // Line feeds, and the name that is not UTF-8 byte for byte.
            EXPECT_EQ(test::ReadText(r.pathLogFile),
                      "\xE2\x80\xA2 Errors: 2\n\n\xE2\x88\x9A bad \xFF name\n\tok\n");
        }
    }
}

TEST_F(LogFilesTest, SavedLogsReadBackAndNeverReplaceAnother) {
    const std::string folder = dir_ / "logs";
    const std::string outside = dir_ / "outside.txt";
    test::WriteText(outside, "keep");
    fs::create_directories(folder);
    fs::create_symlink(outside, folder + "/QVLog_2023_11_14_22_13_20.rtf");

    for (std::int64_t format : {1, 0}) {
        const std::string ext = format == 1 ? ".rtf" : ".txt";
        // Two runs in the same second: the second log gets a name of its own. The link at the
        // first name is neither followed nor replaced.
        const LogSaveResult first = Save("first\r", Prefs(1, 0, format, folder));
        const LogSaveResult second = Save(kLog, Prefs(1, 0, format, folder), 1, kNow + 0.5);
        ASSERT_TRUE(first.saved && second.saved);
        EXPECT_EQ(
            fs::path(second.pathLogFile).filename().string(),
            format == 1 ? "QVLog_2023_11_14_22_13_20_3.rtf" : "QVLog_2023_11_14_22_13_20_2.txt");
        std::string text, error;
        ASSERT_TRUE(ReadLogFile(second.pathLogFile, &text, &error)) << error;
        EXPECT_EQ(text, kLog);
        ASSERT_TRUE(ReadLogFile(first.pathLogFile, &text, &error)) << error;
        EXPECT_EQ(text, "first\r") << ext;
    }
    EXPECT_TRUE(fs::is_symlink(folder + "/QVLog_2023_11_14_22_13_20.rtf"));
    EXPECT_EQ(test::ReadText(outside), "keep");
}

TEST_F(LogFilesTest, FullDiskKeepsTheOldLogAndPrunesNothing) {
    const std::string folder = dir_ / "logs";
    ASSERT_TRUE(Save("old\r", Prefs(1, 0, 0, folder)).saved);
    test::WriteText(folder + "/QVLog_older.txt", "older");

    test::FaultyFileSystem full({{test::Sys::write, ENOSPC}});  // every write: disk full
    const platform::ScopedFileSystem installed(full);
    const LogSaveResult r = Save(kLog, Prefs(1, 0, 0, folder, true));
    EXPECT_FALSE(r.saved);
    // Said, for the chosen folder and for the default one tried after it.
    EXPECT_EQ(r.errorMessage.rfind("Can't save the log file \"" + folder + "/QVLog_", 0), 0u)
        << r.errorMessage;
    EXPECT_NE(r.errorMessage.find("\rCan't save the log file \"" + support()), std::string::npos);
    EXPECT_EQ(test::ReadText(folder + "/QVLog_2023_11_14_22_13_20.txt"), "old\n");
    EXPECT_EQ(Names(folder),
              (std::vector<std::string>{"QVLog_2023_11_14_22_13_20.txt", "QVLog_older.txt"}));
}

TEST_F(LogFilesTest, UnusableLogFolderGivesWayToTheDefault) {
    const std::string fallback = support() + "/Log Files";
    const std::string undeletable =
        "Can't save the log file inside the log folder because the log folder \"";
    const std::string notCreated = "Can't save the log file because I can't create the folder \"";
    const struct {
        std::string folder;  // prefPathLogFolder
        std::string fileAt;  // a plain file made here first
        bool fileRemains;
        std::string usedFolder;  // empty: nothing written
        std::string message;
    } cases[] = {
        // Only a file standing where the default log folder belongs is ours to remove; one
        // anywhere else, even in the support folder (an index, the run lock), is kept.
        {fallback, fallback, false, fallback, ""},
        {support() + "/run.lock", support() + "/run.lock", true, fallback,
         undeletable + support() + "/run.lock\" really is undeletable file"},
        {dir_ / "mine/Logs", dir_ / "mine/Logs", true, fallback,
         undeletable + (dir_ / "mine/Logs") + "\" really is undeletable file"},
        {dir_ / "mine/Logs", dir_ / "mine", true, fallback,
         notCreated + (dir_ / "mine/Logs") + "\""},
        {"logs", dir_ / "mine", true, fallback, "The log folder must be a full path, not \"logs\""},
        {"", dir_ / "mine", true, fallback, ""},
        {support() + "/Logs", support(), true, "",
         notCreated + support() + "/Logs\"\r" + notCreated + fallback + "\""},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir_ / "mine");
        fs::remove_all(support());
        if (c.fileAt != support()) fs::create_directories(support());
        test::WriteText(c.fileAt, "user's own");
        const LogSaveResult r = Save(kLog, Prefs(1, 0, 0, c.folder));
        SCOPED_TRACE(c.folder + " with a file at " + c.fileAt);
        EXPECT_EQ(r.saved, !c.usedFolder.empty());
        EXPECT_EQ(r.errorMessage, c.message);
        EXPECT_EQ(fs::is_regular_file(c.fileAt) && test::ReadText(c.fileAt) == "user's own",
                  c.fileRemains);
        if (c.usedFolder.empty()) continue;
        EXPECT_EQ(r.pathLogFile, c.usedFolder + "/QVLog_2023_11_14_22_13_20.txt");
        EXPECT_EQ(test::ReadText(r.pathLogFile).size(), kLog.size());
        // The preference is moved to the default folder only when that one was used instead.
        EXPECT_EQ(r.newPathLogFolder,
                  c.usedFolder != c.folder ? std::optional{fallback} : std::nullopt);
    }
}

TEST_F(LogFilesTest, PruningTouchesOnlyOldLogFiles) {
    const std::string folder = dir_ / "logs";
    const std::string outside = dir_ / "QVLog_target.txt";
    const std::vector<std::string> logs = {"QVLog_a.txt", "QVLog_b.rtf", "QVLog_c.txt",
                                           "QVLog_d.txt", "QVLog_e.txt"};
    const struct {
        std::int64_t mode, count;
        std::vector<std::string> deleted;
        std::string keep = {};  // the log just written
    } cases[] = {
        {0, 1, {"QVLog_a.txt", "QVLog_b.rtf", "QVLog_c.txt"}},
        // The log just written stays and counts as the newest, whatever its date.
        {1, 2, {"QVLog_b.rtf", "QVLog_c.txt", "QVLog_d.txt"}, "QVLog_a.txt"},
        {0, 3, {}, "QVLog_a.txt"},
        {0, 3, {"QVLog_a.txt"}},
        {1, 3, {"QVLog_a.txt", "QVLog_b.rtf"}},
        {1, 5, {}},
        {1, 0, {}},
        {0, 0, {}},
        {2, 1, {}},
    };
    for (const auto& c : cases) {
        fs::remove_all(folder);
        fs::create_directories(folder + "/QVLog_folder");
        test::WriteText(outside, "not ours");
        test::WriteText(folder + "/notes.txt", "foreign");
        fs::create_symlink(outside, folder + "/QVLog_x");
        for (std::size_t i = 0; i < logs.size(); ++i) {
            test::WriteText(folder + "/" + logs[i], "log");
            // a: 4 days old, b: 3, c: 2, d: half a day, e: now.
            const double ages[] = {4, 3, 2, 0.5, 0};
            SetModified(folder + "/" + logs[i], kNow - ages[i] * kDay);
        }
        for (const char* old : {"/notes.txt", "/QVLog_x", "/QVLog_folder"}) {
            SetModified(folder + old, kNow - 30 * kDay);
        }
        RemoveLastLogFiles(folder, c.mode, c.count, kNow, c.keep);

        std::vector<std::string> expected = {"QVLog_folder", "QVLog_x", "notes.txt"};
        for (const std::string& log : logs) {
            if (std::find(c.deleted.begin(), c.deleted.end(), log) == c.deleted.end()) {
                expected.push_back(log);
            }
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Names(folder), expected) << "mode " << c.mode << ", count " << c.count;
        EXPECT_EQ(test::ReadText(outside), "not ours");
    }

    // Saving prunes after the write, and the log just written stays.
    ASSERT_TRUE(Save(kLog, Prefs(1, 0, 0, folder, true)).saved);
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"QVLog_2023_11_14_22_13_20.txt",
                                                       "QVLog_folder", "QVLog_x", "notes.txt"}));
}

TEST_F(LogFilesTest, ListedNewestFirstWithTheirErrorCounts) {
    const std::string folder = dir_ / "logs";
    const struct {
        std::string name, text;
        double age;
        std::int64_t errors;
    } files[] = {
        {"QVLog_1.txt", "\xE2\x80\xA2 Errors: 12\n\n\xE2\x88\x9A one\n  \xE2\x88\x9A no\n", 2, 12},
        {"QVLog_2.rtf", "{\\rtf1 head\\par \\u8226? Errors: 3\\par\n\\u8730? two\\par}", 1, 3},
        {"QVLog_3.txt", "no header; - Errors: 4\n", 3, -1},
        {"QVLog_4.rtf", "{\\rtf1 \\u8226? Errors: 7\\par cut", 0, 7},
    };
    fs::create_directories(folder);
    for (const auto& f : files) {
        test::WriteText(folder + "/" + f.name, f.text);
        SetModified(folder + "/" + f.name, kNow - f.age * kDay);
    }
    fs::create_symlink(folder + "/QVLog_1.txt", folder + "/QVLog_link.txt");
    test::WriteText(folder + "/other.txt", "\xE2\x80\xA2 Errors: 1\n");

    const std::vector<LogFileInfo> list = ListLogFiles(folder);
    ASSERT_EQ(list.size(), 4u);
    const char* order[] = {"QVLog_4.rtf", "QVLog_2.rtf", "QVLog_1.txt", "QVLog_3.txt"};
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].path, folder + "/" + order[i]);
        const auto& f = *std::find_if(std::begin(files), std::end(files),
                                      [&](const auto& x) { return x.name == order[i]; });
        EXPECT_EQ(list[i].errors, f.errors) << order[i];
        EXPECT_EQ(list[i].modified, kNow - f.age * kDay);
    }
    EXPECT_TRUE(ListLogFiles(dir_ / "missing").empty());

    std::string text, error;
    for (const auto& [name, line] : {std::pair{"/QVLog_1.txt", "\xE2\x88\x9A one"},
                                     std::pair{"/QVLog_2.rtf", "\xE2\x88\x9A two"}}) {
        ASSERT_TRUE(ReadLogFile(folder + name, &text, &error)) << error;
        EXPECT_EQ(ErrorLines(text), std::vector<std::string>{line});
    }
    for (const std::string& bad : {folder + "/QVLog_4.rtf", folder + "/none.txt", folder}) {
        error.clear();
        EXPECT_FALSE(ReadLogFile(bad, &text, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace qv::schedule
