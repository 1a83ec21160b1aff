// The session document: defaults of new documents and sessions, reading (template, refusals,
// newer versions), the current session index, writing with restricted permissions when volume
// passwords are stored, and the test whether the document needs saving.

#include "sessions/session_document.h"

#include <errno.h>
#include <sys/stat.h>
#include <time.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/localization.h"
#include "platform/support_paths.h"
#include "platform/syscalls.h"
#include "sessions/plist_codec.h"
#include "sessions/plist_value.h"
#include "sessions/well.h"
#include "support/test_support.h"

namespace qv::sessions {
namespace {

using plist::Array;
using plist::Data;
using plist::Dict;
using plist::Value;

constexpr const char* kPasswordsReason =
    "because it contains passwords to connect to remote volumes, and I cannot set the file "
    "permissions to rw-------";

// 2004-01-01 00:00:00 UTC.
constexpr double kJan2004Utc = 1072915200.0;

class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

  private:
    mode_t old_;
};

// Fails fchmod or write on command; everything else reaches the kernel.
class FailingCalls : public platform::SysCalls {
  public:
    int chmodErrno = 0;
    int writeErrno = 0;
    int fchmod(int fd, mode_t mode) override {
        if (chmodErrno != 0) {
            errno = chmodErrno;
            return -1;
        }
        return SysCalls::fchmod(fd, mode);
    }
    ssize_t write(int fd, const void* buf, std::size_t count) override {
        if (writeErrno != 0) {
            errno = writeErrno;
            return -1;
        }
        return SysCalls::write(fd, buf, count);
    }
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::set<std::string> FolderEntries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

Value& SessionAt(Value& doc, std::size_t i) { return doc.arrayAt("sessionsArray")->array()[i]; }

void SetPassword(Value& doc, std::size_t session, std::size_t row, const std::string& password) {
    Value& rows = *SessionAt(doc, session).dictAt("autoMountDict")->arrayAt("autoMountVolumeArray");
    const std::optional<Data> data = SetWellData(password);
    ASSERT_TRUE(data.has_value());
    rows.array()[row].set("host", "nas.local");
    rows.array()[row].set("password", *data);
}

void Rename(Value& doc, std::size_t session, const std::string& name) {
    SessionAt(doc, session).dictAt("consoleDict")->set("sessionName", name);
}

Value ThreeSessions(std::int64_t sessionIndex) {
    Value doc = SessionDocument::NewTemplate();
    SessionDocument::AddSession(1, "Third", doc);
    doc.set("sessionIndex", sessionIndex);
    return doc;
}

class SessionDocumentTest : public test::IsolatedHomeTest {
  protected:
    void SetUp() override {
        platform::InstallLocalizer(platform::Localizer{});
        const platform::SupportPaths paths = platform::SupportPaths::FromEnvironment();
        ASSERT_TRUE(paths.EnsurePreferencesFolder());
        templatePath_ = paths.pathFileDocTemplate;
        ASSERT_EQ(templatePath_.rfind(home(), 0), 0u) << "the template must live in the test home";
        docFolder_ = home() + "/Documents";
        std::filesystem::create_directories(docFolder_);
    }

    std::string DocPath(const std::string& name) const { return docFolder_ + "/" + name; }
    std::string OldTemplatePath() const {
        return platform::JoinPath(platform::ParentFolder(templatePath_), kOldTemplateName);
    }

    static void WriteDoc(const std::string& path, const Value& doc) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        const platform::WriteResult written = plist::WriteXmlFile(path, doc);
        ASSERT_TRUE(written.ok) << written.reason;
    }

    std::string templatePath_;
    std::string docFolder_;
};

// ---- New documents and sessions ----

TEST_F(SessionDocumentTest, NewTemplateHoldsTheDefaultSyncAndBackupSessions) {
    const Value doc = SessionDocument::NewTemplate();
    std::set<std::string> keys;
    for (const auto& [key, value] : doc.dict()) keys.insert(key);
    EXPECT_EQ(keys, (std::set<std::string>{"fileVersion", "sessionIndex", "sessionsArray"}));
    EXPECT_EQ(doc.intAt("fileVersion"), 420);
    EXPECT_EQ(doc.intAt("sessionIndex", -1), 0);
    const auto& sessions = doc.arrayAt("sessionsArray")->array();
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].dictAt("consoleDict")->stringAt("sessionName"), "Default Sync Session");
    EXPECT_EQ(sessions[0].dictAt("settingsDict")->intAt("settTask"), 1);
    EXPECT_EQ(sessions[1].dictAt("consoleDict")->stringAt("sessionName"), "Default Backup Session");
    EXPECT_EQ(sessions[1].dictAt("settingsDict")->intAt("settTask"), 2);
}

TEST_F(SessionDocumentTest, NewSessionHasTheNineSubDictionariesWithTheirDefaults) {
    const char* script = "-- Write or paste here your AppleScript";
    const Value volumeRow = Dict{
        {"onOff", 1},         {"scheme", ""},       {"user", ""},
        {"host", ""},         {"path", ""},         {"mountPoint", ""},
        {"password", Data{}}, {"unmountVolume", 1}, {"volumeType", 0},
    };
    const Value filterRow = Dict{
        {"onOff", 1},
        {"filterNameField", ""},
        {"filterFileNameOn", 0},
        {"filterFileNamePop", 0},
        {"filterFileNameField", ""},
        {"filterCreationDateOn", 0},
        {"filterCreationDatePop", 0},
        {"filterCreationDateMonth", 1},
        {"filterCreationDateDay", 1},
        {"filterCreationDateYear", 2011},
        {"filterModificationDateOn", 0},
        {"filterModificationDatePop", 0},
        {"filterModificationDateMonth", 1},
        {"filterModificationDateDay", 1},
        {"filterModificationDateYear", 2011},
        {"filterFileSizeOn", 0},
        {"filterFileSizePop", 0},
        {"filterFileSizeField", 0},
        {"filterFileSizeBytesPop", 0},
        {"filterTypeOn", 0},
        {"filterTypePop", 0},
        {"filterTypeField", ""},
        {"filterCreatorOn", 0},
        {"filterCreatorPop", 0},
        {"filterCreatorField", ""},
        {"filterKindOn", 0},
        {"filterKindPop", 0},
        {"filterOwnerOn", 0},
        {"filterOwnerPop", 0},
        {"filterOwnerField", ""},
        {"filterGroupOn", 0},
        {"filterGroupPop", 0},
        {"filterGroupField", ""},
    };
    auto settings = [](std::int64_t task) {
        return Value(Dict{
            {"settTask", task},
            {"settExact", 0},
            {"settInvisibleItems", 1},
            {"settLockedItems", 1},
            {"settResolveAlias", 0},
            {"settResolveSymLink", 0},
            {"settSkipEmptyFolders", 0},
            {"settNewItemsOnly", 0},
            {"settPackagesFolders", 0},
            {"settMoveToTrash", 0},
            {"settCheckAttrChanged", 0},
            {"settCreateDestFolder", 0},
            {"settCreateDestFolderNameKind", 1},
            {"settCreateDestFolderCustomNameFormat", "'Copy of' kSrc MM-dd-yyyy 'by Elwin'"},
            {"settSkipCheckPermissions", 0},
        });
    };

    for (std::int64_t task : {1, 2}) {
        SCOPED_TRACE(task);
        Value doc = Dict{{"sessionsArray", Array{}}};
        SessionDocument::AddSession(task, "Projects", doc);
        ASSERT_EQ(doc.arrayAt("sessionsArray")->array().size(), 1u);
        const Value& s = SessionAt(doc, 0);

        std::set<std::string> keys;
        for (const auto& [key, value] : s.dict()) keys.insert(key);
        EXPECT_EQ(keys, (std::set<std::string>{
                            "consoleDict", "settingsDict", "timerDict", "multiDict", "filterDict",
                            "excludeDict", "conflictsDict", "autoMountDict", "appleScriptDict"}));

        EXPECT_EQ(
            *s.dictAt("consoleDict"),
            Value(Dict{{"sessionName", "Projects"}, {"topFolder", ""}, {"bottomFolder", ""}}));
        EXPECT_EQ(*s.dictAt("settingsDict"), settings(task));
        EXPECT_EQ(
            *s.dictAt("multiDict"),
            Value(
                Dict{{"multiOn", 0},
                     {"multiArray",
                      Array(32, Value(Dict{{"onOff", 1}, {"source", ""}, {"destination", ""}}))}}));
        EXPECT_EQ(*s.dictAt("filterDict"), Value(Dict{{"filterOn", 0},
                                                      {"filterCopySkip", 2},
                                                      {"filterArray", Array(32, filterRow)}}));
        EXPECT_EQ(*s.dictAt("excludeDict"),
                  Value(Dict{{"excludeOn", 0},
                             {"excludeArray",
                              Array(32, Value(Dict{{"onOff", 1}, {"itemToExclude", ""}}))}}));
        EXPECT_EQ(*s.dictAt("conflictsDict"), Value(Dict{
                                                  {"conflictBackupRadio", 2},
                                                  {"conflictBackupAsk", 0},
                                                  {"conflictBackupRadio2", 1},
                                                  {"conflictBackupAsk2", 0},
                                                  {"conflictExactBackupRadio", 2},
                                                  {"conflictExactBackupAsk", 0},
                                                  {"conflictSyncRadio", 2},
                                                  {"conflictSyncAsk", 0},
                                                  {"conflictExactSyncRadio", 2},
                                                  {"conflictExactSyncAsk", 0},
                                                  {"conflictFileFolderRadio", 1},
                                                  {"conflictFileFolderAsk", 0},
                                              }));
        EXPECT_EQ(
            *s.dictAt("autoMountDict"),
            Value(Dict{{"autoMountVolumeOn", 0}, {"autoMountVolumeArray", Array(64, volumeRow)}}));
        EXPECT_EQ(
            *s.dictAt("appleScriptDict"),
            Value(Dict{
                {"asStartOn", 0}, {"asStartText", script}, {"asEndOn", 0}, {"asEndText", script}}));

        const Value& timers = *s.dictAt("timerDict");
        EXPECT_EQ(timers.intAt("timerOn", -1), 0);
        const auto& rows = timers.arrayAt("timerArray")->array();
        ASSERT_EQ(rows.size(), 32u);
        const plist::Date start = rows.front().find("start")->date();
        const Value timerRow = Dict{
            {"valid", 0},        {"onOff", 1},          {"start", start},
            {"intervalOn", 0},   {"intervalHours", 0},  {"intervalMinutes", 0},
            {"intervalDays", 0}, {"intervalMonths", 0}, {"intervalYears", 0},
            {"endOn", 0},        {"endDateOn", 0},      {"end", start},
            {"onlyMonday", 1},   {"onlyTuesday", 1},    {"onlyWednesday", 1},
            {"onlyThursday", 1}, {"onlyFriday", 1},     {"onlySaturday", 1},
            {"onlySunday", 1},
        };
        for (const auto& row : rows) EXPECT_EQ(row, timerRow);
    }
}

TEST_F(SessionDocumentTest, TimerRowsOfANewSessionStartAtMidnightFirstJanuary2004LocalTime) {
    struct Case {
        const char* tz;
        double expected;
    };
    const std::vector<Case> cases = {
        {"UTC0", kJan2004Utc},
        {"EST5", kJan2004Utc + 5 * 3600},   // five hours behind UTC
        {"JST-9", kJan2004Utc - 9 * 3600},  // nine hours ahead
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tz);
        {
            test::ScopedEnv tz;
            tz.Set("TZ", c.tz);
            ::tzset();
            Value doc = Dict{{"sessionsArray", Array{}}};
            SessionDocument::AddSession(2, "S", doc);
            const auto& rows =
                SessionAt(doc, 0).dictAt("timerDict")->arrayAt("timerArray")->array();
            for (const auto& row : rows) {
                EXPECT_EQ(row.find("start")->date().seconds, c.expected);
                EXPECT_EQ(row.find("end")->date().seconds, c.expected);
            }
        }
        ::tzset();
    }
}

TEST_F(SessionDocumentTest, AddSessionAppendsAtTheEndAndCreatesAMissingList) {
    Value doc = SessionDocument::NewTemplate();
    SessionDocument::AddSession(2, "Added", doc);
    ASSERT_EQ(doc.arrayAt("sessionsArray")->array().size(), 3u);
    EXPECT_EQ(SessionAt(doc, 0).dictAt("consoleDict")->stringAt("sessionName"),
              "Default Sync Session");
    EXPECT_EQ(SessionAt(doc, 2).dictAt("consoleDict")->stringAt("sessionName"), "Added");
    EXPECT_EQ(SessionAt(doc, 2).dictAt("settingsDict")->intAt("settTask"), 2);

    Value bare = Dict{{"fileVersion", 420}};
    SessionDocument::AddSession(1, "Only", bare);
    ASSERT_NE(bare.arrayAt("sessionsArray"), nullptr);
    ASSERT_EQ(bare.arrayAt("sessionsArray")->array().size(), 1u);
    EXPECT_EQ(SessionAt(bare, 0).dictAt("consoleDict")->stringAt("sessionName"), "Only");
}

// ---- Reading the template ----

TEST_F(SessionDocumentTest, TemplateOfAHigherVersionSilentlyYieldsANewDocument) {
    Value newer = ThreeSessions(1);
    newer.set("fileVersion", 421);
    WriteDoc(templatePath_, newer);

    SessionDocument doc(templatePath_);
    const DocResult direct = doc.ReadDocumentFile(templatePath_);
    EXPECT_FALSE(direct.ok);
    EXPECT_EQ(direct.alert, "");

    doc.ReadFileTemplate();
    EXPECT_TRUE(doc.isDocumentTemplate);
    EXPECT_TRUE(doc.isDocumentOpen);
    EXPECT_EQ(doc.mSessionIndex, 0);
    ASSERT_EQ(doc.SessionCount(), 2);
    EXPECT_EQ(doc.GetSessionName(0), "Default Sync Session");
    EXPECT_EQ(doc.GetSessionDict(0)->dictAt("settingsDict")->intAt("settTask"), 1);
    EXPECT_EQ(doc.GetSessionName(1), "Default Backup Session");
    EXPECT_EQ(doc.GetSessionDict(1)->dictAt("settingsDict")->intAt("settTask"), 2);
    EXPECT_EQ(doc.mMainDict, SessionDocument::NewTemplate());
}

TEST_F(SessionDocumentTest, TemplateFallsBackToANewDocumentWhenUnreadable) {
    struct Case {
        const char* name;
        std::optional<std::string> content;  // nullopt: no template file at all
    };
    const std::vector<Case> cases = {
        {"missing", std::nullopt},
        {"not a property list", std::string("sessions: none\n")},
        {"empty sessionsArray",
         std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                     "<dict><key>fileVersion</key><integer>420</integer>"
                     "<key>sessionsArray</key><array/></dict></plist>\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(templatePath_);
        if (c.content) test::WriteText(templatePath_, *c.content);
        SessionDocument doc(templatePath_);
        doc.mMainDict = ThreeSessions(2);
        doc.mSessionIndex = 2;
        doc.isDocumentTemplate = false;
        doc.ReadFileTemplate();
        EXPECT_TRUE(doc.isDocumentTemplate);
        EXPECT_TRUE(doc.isDocumentOpen);
        EXPECT_EQ(doc.mMainDict, SessionDocument::NewTemplate());
        EXPECT_EQ(doc.mSessionIndex, 0);
        // Reading never creates or repairs the template file.
        EXPECT_EQ(platform::ItemExists(templatePath_), c.content.has_value());
        if (c.content) {
            EXPECT_EQ(test::ReadText(templatePath_), *c.content);
        }
    }
}

TEST_F(SessionDocumentTest, MissingTemplateIsCopiedFromThePreviousGenerationsTemplate) {
    Value old = ThreeSessions(1);
    old.set("fileVersion", 419);
    WriteDoc(OldTemplatePath(), old);
    const std::string oldBytes = test::ReadText(OldTemplatePath());
    ASSERT_FALSE(platform::ItemExists(templatePath_));

    SessionDocument doc(templatePath_);
    doc.ReadFileTemplate();
    EXPECT_EQ(test::ReadText(templatePath_), oldBytes);
    EXPECT_TRUE(platform::ItemExists(OldTemplatePath()));
    EXPECT_TRUE(doc.isDocumentTemplate);
    ASSERT_EQ(doc.SessionCount(), 3);
    EXPECT_EQ(doc.GetSessionName(2), "Third");
    EXPECT_EQ(doc.mSessionIndex, 1);
    // Read through migration: version 419 gets the file-versus-folder policy 2.
    EXPECT_EQ(doc.GetSessionDict(0)->dictAt("conflictsDict")->intAt("conflictFileFolderRadio"), 2);
}

TEST_F(SessionDocumentTest, ExistingTemplateIsNotReplacedByThePreviousGenerationsTemplate) {
    Value current = ThreeSessions(0);
    WriteDoc(templatePath_, current);
    WriteDoc(OldTemplatePath(), SessionDocument::NewTemplate());
    const std::string templateBytes = test::ReadText(templatePath_);

    SessionDocument doc(templatePath_);
    doc.ReadFileTemplate();
    EXPECT_EQ(doc.SessionCount(), 3);
    EXPECT_EQ(test::ReadText(templatePath_), templateBytes);
}

// ---- Reading documents ----

TEST_F(SessionDocumentTest, RefusedDocumentsLeaveTheOpenDocumentUntouched) {
    const std::string xmlHead =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    struct Case {
        const char* name;
        std::optional<std::string> content;  // nullopt: see `folder`
        bool folder = false;
    };
    const std::vector<Case> cases = {
        {"missing file", std::nullopt},
        {"a folder", std::nullopt, true},
        {"not a property list", std::string("this is not a property list\n")},
        {"empty file", std::string()},
        {"array root", xmlHead + "<array><integer>420</integer></array></plist>"},
        {"no fileVersion",
         xmlHead + "<dict><key>sessionsArray</key><array><dict/></array></dict></plist>"},
        {"empty sessionsArray", xmlHead + "<dict><key>fileVersion</key><integer>420</integer>"
                                          "<key>sessionsArray</key><array/></dict></plist>"},
        {"no sessionsArray",
         xmlHead + "<dict><key>fileVersion</key><integer>300</integer></dict></plist>"},
        {"session that is not a dictionary",
         xmlHead + "<dict><key>fileVersion</key><integer>420</integer>"
                   "<key>sessionsArray</key><array><dict/><string>x</string></array>"
                   "<key>sessionIndex</key><integer>0</integer></dict></plist>"},
    };
    const std::string open = DocPath("open.qvd");
    WriteDoc(open, ThreeSessions(1));

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = DocPath(std::string("refused-") + c.name + ".qvd");
        if (c.folder) std::filesystem::create_directories(path);
        if (c.content) test::WriteText(path, *c.content);

        SessionDocument doc(templatePath_);
        ASSERT_TRUE(doc.ReadDocumentFile(open).ok);
        const Value before = doc.mMainDict;
        ASSERT_EQ(doc.mSessionIndex, 1);

        const DocResult result = doc.ReadDocumentFile(path);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(static_cast<bool>(result));
        EXPECT_EQ(result.alert, "");
        EXPECT_FALSE(result.reason.empty());
        EXPECT_EQ(doc.mMainDict, before);
        EXPECT_EQ(doc.mSessionIndex, 1);
    }
}

TEST_F(SessionDocumentTest, DocumentOfAHigherVersionIsRefusedWithAnAlert) {
    for (std::int64_t version : {421, 500}) {
        SCOPED_TRACE(version);
        const std::string path = DocPath("newer " + std::to_string(version) + ".qvd");
        Value newer = ThreeSessions(0);
        newer.set("fileVersion", version);
        WriteDoc(path, newer);

        SessionDocument doc(templatePath_);
        doc.mMainDict = SessionDocument::NewTemplate();
        const DocResult result = doc.ReadDocumentFile(path);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.alert, "Can't open the file\r\"" + path +
                                    "\"\rbecause it has been created by a higher version.");
        EXPECT_EQ(doc.mMainDict, SessionDocument::NewTemplate());
    }

    // 420 itself is read.
    const std::string current = DocPath("current.qvd");
    WriteDoc(current, ThreeSessions(0));
    SessionDocument doc(templatePath_);
    EXPECT_TRUE(doc.ReadDocumentFile(current).ok);
    EXPECT_EQ(doc.SessionCount(), 3);
}

TEST_F(SessionDocumentTest, HandWrittenFlatDocumentIsReadAndMigrated) {
    const std::string path = DocPath("old.qvd");
    test::WriteText(path, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>fileVersion</key><integer>300</integer>
  <key>sessionIndex</key><integer>9</integer>
  <key>sessionsArray</key>
  <array>
    <dict>
      <key>sessionName</key><string>Old Photos</string>
      <key>topFolder</key><string>/data/photos</string>
      <key>bottomFolder</key><string>/backup/photos</string>
      <key>settTask</key><integer>2</integer>
      <key>settCheckBackupDate</key><false/>
      <key>settOverride</key><true/>
      <key>settCPOn</key><integer>1</integer>
    </dict>
    <dict>
      <key>sessionName</key><string>Old Music</string>
      <key>settCheckBackupDate</key><integer>1</integer>
    </dict>
  </array>
</dict>
</plist>
)");
    SessionDocument doc(templatePath_);
    const DocResult result = doc.ReadDocumentFile(path);
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(doc.mSessionIndex, 1);
    EXPECT_EQ(doc.mMainDict.intAt("sessionIndex"), 1);
    EXPECT_EQ(doc.GetSessionName(0), "Old Photos");
    EXPECT_EQ(doc.GetSessionName(1), "Old Music");

    const Value& photos = *doc.GetSessionDict(0);
    EXPECT_EQ(photos.dictAt("consoleDict")->stringAt("bottomFolder"), "/backup/photos");
    EXPECT_EQ(photos.dictAt("settingsDict")->intAt("settTask"), 2);
    EXPECT_EQ(photos.dictAt("conflictsDict")->intAt("conflictSyncRadio"), 1);
    EXPECT_EQ(photos.dictAt("conflictsDict")->intAt("conflictBackupRadio2"), 2);
    EXPECT_FALSE(photos.contains("settCheckBackupDate"));
    EXPECT_FALSE(photos.contains("settOverride"));
    EXPECT_FALSE(photos.contains("settCPOn"));
    const Value& music = *doc.GetSessionDict(1);
    EXPECT_EQ(music.dictAt("conflictsDict")->intAt("conflictSyncRadio"), 2);
    EXPECT_EQ(music.dictAt("conflictsDict")->intAt("conflictBackupRadio2"), 1);
    EXPECT_EQ(music.dictAt("timerDict")->arrayAt("timerArray")->array().size(), 32u);
}

TEST_F(SessionDocumentTest, UpdateDocumentFileMigratesTheOpenDocumentInPlace) {
    SessionDocument doc(templatePath_);
    doc.mMainDict =
        Dict{{"sessionsArray", Array{Dict{{"sessionName", "Flat"}}}}, {"sessionIndex", 5}};
    ASSERT_TRUE(doc.UpdateDocumentFile(300));
    EXPECT_EQ(doc.mSessionIndex, 0);
    EXPECT_EQ(doc.GetSessionName(0), "Flat");
    EXPECT_NE(doc.GetSessionDict(0)->dictAt("settingsDict"), nullptr);

    doc.mMainDict = Dict{{"sessionsArray", Array{}}, {"sessionIndex", 3}};
    doc.mSessionIndex = 3;
    EXPECT_FALSE(doc.UpdateDocumentFile(420));
    EXPECT_EQ(doc.mSessionIndex, 3);
}

// ---- The current session and session access ----

TEST_F(SessionDocumentTest, SessionIndexIsClampedWhenTheDocumentIsRead) {
    struct Case {
        std::int64_t stored;
        std::int64_t expected;
        bool all;
    };
    const std::vector<Case> cases = {
        {7, 2, false}, {3, 2, false},  {4, 4, true},  // 4: "All" for three sessions
        {1, 1, false}, {-1, 0, false}, {-40, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        const std::string path = DocPath("index.qvd");
        WriteDoc(path, ThreeSessions(c.stored));
        SessionDocument doc(templatePath_);
        ASSERT_TRUE(doc.ReadDocumentFile(path).ok);
        EXPECT_EQ(doc.mSessionIndex, c.expected);
        EXPECT_EQ(doc.mMainDict.intAt("sessionIndex"), c.expected);
        EXPECT_EQ(doc.IsCurrentSessionAllSessions(), c.all);
        EXPECT_EQ(doc.IsAllSessions(doc.mSessionIndex), c.all);
        EXPECT_EQ(doc.GetSessionDict(doc.mSessionIndex) == nullptr, c.all);
    }
}

TEST_F(SessionDocumentTest, SessionAccessByIndex) {
    SessionDocument doc(templatePath_);
    doc.mMainDict = ThreeSessions(0);
    EXPECT_EQ(doc.SessionCount(), 3);

    struct Case {
        std::int64_t index;
        const char* name;  // nullptr: no session
        bool all;
    };
    const std::vector<Case> cases = {
        {-1, nullptr, false},
        {0, "Default Sync Session", false},
        {1, "Default Backup Session", false},
        {2, "Third", false},
        {3, nullptr, false},
        {4, nullptr, true},
        {5, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        const SessionDocument& constDoc = doc;
        if (c.name == nullptr) {
            EXPECT_EQ(constDoc.GetSessionDict(c.index), nullptr);
            EXPECT_EQ(doc.GetSessionDict(c.index), nullptr);
            EXPECT_EQ(doc.GetSessionName(c.index), "");
        } else {
            ASSERT_NE(doc.GetSessionDict(c.index), nullptr);
            EXPECT_EQ(doc.GetSessionDict(c.index),
                      &doc.mMainDict.arrayAt("sessionsArray")
                           ->array()[static_cast<std::size_t>(c.index)]);
            EXPECT_EQ(doc.GetSessionName(c.index), c.name);
        }
        EXPECT_EQ(doc.IsAllSessions(c.index), c.all);
    }

    doc.mSessionIndex = 4;
    EXPECT_TRUE(doc.IsCurrentSessionAllSessions());
    doc.mSessionIndex = 2;
    EXPECT_FALSE(doc.IsCurrentSessionAllSessions());
}

// ---- Writing ----

TEST_F(SessionDocumentTest, WrittenDocumentHasTheCurrentVersionAndReadsBackEqual) {
    const std::string source = DocPath("old.qvd");
    Value old = ThreeSessions(2);
    old.set("fileVersion", 404);
    SetPassword(old, 1, 3, "secret");
    WriteDoc(source, old);

    SessionDocument doc(templatePath_);
    ASSERT_TRUE(doc.ReadDocumentFile(source).ok);
    EXPECT_EQ(doc.mMainDict.intAt("fileVersion"), 404);

    const std::string copy = DocPath("copy.qvd");
    const DocResult written = doc.WriteFileSession(copy);
    ASSERT_TRUE(written.ok) << written.reason;
    EXPECT_EQ(written.alert, "");
    EXPECT_EQ(doc.mMainDict.intAt("fileVersion"), 420);

    plist::ReadResult onDisk = plist::ReadFile(copy);
    ASSERT_TRUE(onDisk.value.has_value());
    EXPECT_EQ(onDisk.value->intAt("fileVersion"), 420);

    SessionDocument reread(templatePath_);
    ASSERT_TRUE(reread.ReadDocumentFile(copy).ok);
    EXPECT_EQ(reread.mMainDict, doc.mMainDict);
    EXPECT_EQ(reread.mSessionIndex, 2);
    const Value& row = reread.GetSessionDict(1)
                           ->dictAt("autoMountDict")
                           ->arrayAt("autoMountVolumeArray")
                           ->array()[3];
    EXPECT_EQ(GetWellData(row.find("password")), "secret");
}

TEST_F(SessionDocumentTest, DocumentWithVolumePasswordsIsWrittenOwnerOnly) {
    struct Case {
        const char* name;
        std::optional<std::string> password;  // stored in session 1, row 40
        bool toTemplate;
        std::optional<mode_t> existingMode;
        mode_t expected;
    };
    const std::vector<Case> cases = {
        {"no password", std::nullopt, false, std::nullopt, 0644},
        {"password", std::string("secret"), false, std::nullopt, 0700},
        {"password over a readable file", std::string("secret"), false, 0644, 0700},
        {"empty password", std::string(""), false, std::nullopt, 0644},
        {"password in the template", std::string("secret"), true, std::nullopt, 0644},
        {"no password in the template", std::nullopt, true, std::nullopt, 0644},
    };
    ScopedUmask umask(022);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.toTemplate ? templatePath_ : DocPath("modes.qvd");
        std::filesystem::remove(path);
        if (c.existingMode) {
            test::WriteText(path, "old");
            ASSERT_EQ(::chmod(path.c_str(), *c.existingMode), 0);
        }
        SessionDocument doc(templatePath_);
        doc.mMainDict = SessionDocument::NewTemplate();
        if (c.password) SetPassword(doc.mMainDict, 1, 40, *c.password);

        const DocResult result = doc.WriteFileSession(path);
        ASSERT_TRUE(result.ok) << result.reason;
        EXPECT_EQ(ModeOf(path), c.expected);
        EXPECT_EQ(FolderEntries(platform::ParentFolder(path)),
                  std::set<std::string>{platform::LastPathComponent(path)});
    }
}

TEST_F(SessionDocumentTest, FailedWriteKeepsTheOldFileAndExplainsWhy) {
    struct Case {
        const char* name;
        bool password;
        int chmodErrno;
        int writeErrno;
        const char* reason;  // nullptr: no reason in the alert
    };
    const std::vector<Case> cases = {
        {"mode refused, passwords", true, EPERM, 0, kPasswordsReason},
        {"mode refused, no passwords", false, EPERM, 0, nullptr},
        {"disk full", false, 0, ENOSPC, nullptr},
        {"disk full, passwords", true, 0, ENOSPC, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = DocPath("kept.qvd");
        test::WriteText(path, "the old bytes");
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

        SessionDocument doc(templatePath_);
        doc.mMainDict = ThreeSessions(1);
        doc.mMainDict.set("fileVersion", 410);
        if (c.password) SetPassword(doc.mMainDict, 0, 0, "secret");
        Value expectedInMemory = doc.mMainDict;
        expectedInMemory.set("fileVersion", 420);

        FailingCalls failing;
        failing.chmodErrno = c.chmodErrno;
        failing.writeErrno = c.writeErrno;
        DocResult result;
        {
            platform::ScopedSysCalls installed(failing);
            result = doc.WriteFileSession(path);
        }
        EXPECT_FALSE(result.ok);
        const std::string expectedAlert =
            c.reason ? "Can't write the file \"" + path + "\" to the disk " + c.reason + "."
                     : "Can't write the file \"" + path + "\" to the disk.";
        EXPECT_EQ(result.alert, expectedAlert);
        EXPECT_FALSE(result.reason.empty());
        EXPECT_EQ(test::ReadText(path), "the old bytes");
        EXPECT_EQ(ModeOf(path), 0640);
        EXPECT_EQ(FolderEntries(docFolder_), std::set<std::string>{"kept.qvd"});
        EXPECT_EQ(doc.mMainDict, expectedInMemory);
    }
}

TEST_F(SessionDocumentTest, FailedWriteOfANewDocumentLeavesNoFile) {
    SessionDocument doc(templatePath_);
    doc.mMainDict = SessionDocument::NewTemplate();
    SetPassword(doc.mMainDict, 0, 0, "secret");
    FailingCalls failing;
    failing.chmodErrno = EACCES;
    const std::string path = DocPath("never.qvd");
    DocResult result;
    {
        platform::ScopedSysCalls installed(failing);
        result = doc.WriteFileSession(path);
    }
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.alert,
              "Can't write the file \"" + path + "\" to the disk " + kPasswordsReason + ".");
    EXPECT_TRUE(FolderEntries(docFolder_).empty());
}

// ---- Has the document changed ----

TEST_F(SessionDocumentTest, TemplateAndClosedDocumentsNeverNeedSaving) {
    SessionDocument doc(templatePath_);
    doc.ReadFileTemplate();
    Rename(doc.mMainDict, 0, "Changed");
    EXPECT_TRUE(doc.isDocumentTemplate);
    EXPECT_FALSE(doc.isDocumentToBeSaved());

    doc.isDocumentTemplate = false;
    EXPECT_TRUE(doc.isDocumentToBeSaved());
    doc.isDocumentOpen = false;
    EXPECT_FALSE(doc.isDocumentToBeSaved());
    doc.isDocumentOpen = true;
    doc.mMainDict = Value(Array{});
    EXPECT_FALSE(doc.isDocumentToBeSaved());
}

TEST_F(SessionDocumentTest, UntitledDocumentIsComparedWithANewDocument) {
    SessionDocument doc(templatePath_);
    doc.isDocumentOpen = true;
    doc.isDocumentTemplate = false;
    doc.isDocumentSaved = false;
    doc.mMainDict = SessionDocument::NewTemplate();
    EXPECT_FALSE(doc.isDocumentToBeSaved());

    struct Change {
        const char* name;
        void (*apply)(Value&);
    };
    const std::vector<Change> changes = {
        {"renamed session", [](Value& d) { Rename(d, 1, "Mine"); }},
        {"other current session", [](Value& d) { d.set("sessionIndex", 1); }},
        {"added session", [](Value& d) { SessionDocument::AddSession(1, "New", d); }},
        {"same value, other type",
         [](Value& d) { SessionAt(d, 0).dictAt("settingsDict")->set("settExact", false); }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.name);
        doc.mMainDict = SessionDocument::NewTemplate();
        c.apply(doc.mMainDict);
        EXPECT_TRUE(doc.isDocumentToBeSaved());
    }
}

TEST_F(SessionDocumentTest, SavedDocumentIsComparedWithItsFile) {
    const std::string path = DocPath("saved.qvd");
    SessionDocument doc(templatePath_);
    doc.isDocumentOpen = true;
    doc.isDocumentTemplate = false;
    doc.mMainDict = ThreeSessions(1);
    ASSERT_TRUE(doc.WriteFileSession(path).ok);
    doc.isDocumentSaved = true;
    doc.pathDocumentFile = path;
    EXPECT_FALSE(doc.isDocumentToBeSaved());

    Rename(doc.mMainDict, 2, "Renamed");
    EXPECT_TRUE(doc.isDocumentToBeSaved());
    Rename(doc.mMainDict, 2, "Third");
    EXPECT_FALSE(doc.isDocumentToBeSaved());

    // The file, not a copy kept in memory, is the reference.
    Value other = doc.mMainDict;
    Rename(other, 0, "Edited elsewhere");
    WriteDoc(path, other);
    EXPECT_TRUE(doc.isDocumentToBeSaved());
    ASSERT_TRUE(doc.WriteFileSession(path).ok);
    EXPECT_FALSE(doc.isDocumentToBeSaved());
    std::filesystem::remove(path);
    EXPECT_TRUE(doc.isDocumentToBeSaved());
}

TEST_F(SessionDocumentTest, DocumentReadFromAnOlderVersionNeedsSaving) {
    struct Case {
        std::int64_t version;
        bool toBeSaved;
    };
    for (const auto& c : std::vector<Case>{{419, true}, {404, true}, {420, false}}) {
        SCOPED_TRACE(c.version);
        const std::string path = DocPath("versioned.qvd");
        Value file = ThreeSessions(0);
        file.set("fileVersion", c.version);
        WriteDoc(path, file);
        SessionDocument doc(templatePath_);
        ASSERT_TRUE(doc.ReadDocumentFile(path).ok);
        doc.isDocumentOpen = true;
        doc.isDocumentTemplate = false;
        doc.isDocumentSaved = true;
        doc.pathDocumentFile = path;
        EXPECT_EQ(doc.isDocumentToBeSaved(), c.toBeSaved);
    }
}

}  // namespace
}  // namespace qv::sessions
