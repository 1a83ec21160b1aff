// The session document: migration from older versions, new sessions, reading and its refusals,
// the session index, writing (owner-only with volume passwords) and the need to save.

#include "sessions/session_document.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/localization.h"
#include "platform/support_paths.h"
#include "sessions/plist_codec.h"
#include "sessions/settings_options.h"
#include "sessions/well.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace qv::sessions {
namespace {

using plist::Array;
using plist::Date;
using plist::Dict;
using plist::Value;
using Ints = std::vector<std::int64_t>;

constexpr const char* kScriptText = "# Write or paste here your shell script";
const std::set<std::string> kNineGroups = {"consoleDict",   "settingsDict",  "timerDict",
                                           "multiDict",     "filterDict",    "excludeDict",
                                           "conflictsDict", "autoMountDict", "appleScriptDict"};

std::set<std::string> KeysOf(const Value& dict) {
    std::set<std::string> keys;
    for (const auto& [key, value] : dict.dict()) keys.insert(key);
    return keys;
}

long Entries(const std::string& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

Value& SessionAt(Value& doc, std::size_t i) { return doc.arrayAt("sessionsArray")->array()[i]; }

// A sub-dictionary of a session, or (with a failure) an empty one.
const Value& Group(const Value& session, const char* group) {
    static const Value empty = Dict{};
    const Value* dict = session.dictAt(group);
    EXPECT_NE(dict, nullptr) << group;
    return dict ? *dict : empty;
}

// The rows of a table in a sub-dictionary; none when it is missing.
const Array& Rows(const Value& session, const char* group, const char* key) {
    static const Array none;
    const Value* rows = Group(session, group).arrayAt(key);
    return rows ? rows->array() : none;
}

// Migrates a one-session document written by the given version; returns the session.
Value MigratedSession(const Value& session, std::int64_t version) {
    Value doc = Dict{{"sessionsArray", Array{session}}, {"sessionIndex", 0}};
    EXPECT_TRUE(MigrateDocument(doc, version).ok);
    return SessionAt(doc, 0);
}

void Rename(Value& doc, std::size_t session, const std::string& name) {
    SessionAt(doc, session).dictAt("consoleDict")->set("sessionName", name);
}

Value ThreeSessions(std::int64_t sessionIndex, std::int64_t version = 420) {
    Value doc = SessionDocument::NewTemplate();
    SessionDocument::AddSession(1, "Third", doc);
    doc.set("sessionIndex", sessionIndex);
    doc.set("fileVersion", version);
    return doc;
}

void WriteDoc(const std::string& path, const Value& doc) {
    ASSERT_TRUE(plist::WriteXmlFile(path, doc).ok) << path;
}

// ---- Migration ----

TEST(DocumentMigration, TimersRowSwitchesAndConflictPoliciesAreResetBelow320Only) {
    Array multiRows;
    for (const Value& onOff : {Value(1), Value(0), Value(5), Value(true), Value(-1)}) {
        multiRows.push_back(Dict{{"onOff", onOff}});
    }
    multiRows.push_back(Dict{});  // no switch at all
    multiRows.resize(32, Dict{{"onOff", 1}});
    Value flat = Dict{{"multiArray", multiRows}, {"timerArray", Array{Dict{{"start", Date{1e9}}}}}};
    for (const char* key : {"timerOn", "conflictBackupRadio", "conflictSyncAsk", "settOverride"}) {
        flat.set(key, 1);
    }
    flat.set("settCheckBackupDate", 0);
    flat.set("conflictBackupRadio2", 3);
    for (const std::int64_t version : {319, 320}) {
        SCOPED_TRACE(version);
        const bool reset = version < 320;
        const double before = static_cast<double>(::time(nullptr)) - 60;
        const Value s = MigratedSession(flat, version);
        EXPECT_EQ(Group(s, "timerDict").intAt("timerOn", -1), reset ? 0 : 1);
        const Array& timers = Rows(s, "timerDict", "timerArray");
        ASSERT_EQ(timers.size(), reset ? 32u : 1u);
        const double start = timers[0].find("start")->date().seconds;
        // Fresh rows start now, to the minute.
        EXPECT_TRUE(reset ? start >= before && start <= ::time(nullptr) : start == 1e9) << start;
        Ints onOff, expected = reset ? Ints{1, 0, 0, 1, 0, 0} : Ints{1, 0, 5, 1, -1, -9};
        for (const auto& row : Rows(s, "multiDict", "multiArray")) {
            onOff.push_back(row.intAt("onOff", -9));
        }
        expected.resize(32, 1);
        EXPECT_EQ(onOff, expected);

        // Policies reset; settCheckBackupDate 0 becomes sync policy 1, and goes; a second
        // backup policy already there wins over settOverride.
        const Value& c = Group(s, "conflictsDict");
        EXPECT_EQ(Ints({c.intAt("conflictBackupRadio"), c.intAt("conflictSyncAsk"),
                        c.intAt("conflictSyncRadio", -1), c.intAt("conflictBackupRadio2")}),
                  (reset ? Ints{2, 0, 1, 3} : Ints{1, 1, -1, 3}));
        EXPECT_EQ(s.contains("settCheckBackupDate"), !reset);
    }
}

TEST(DocumentMigration, RulesOfLaterVersionsApplyBelowTheirVersionOnly) {
    const auto volume = [](const char* user, const char* scheme, const char* host) {
        Value row = Dict{{"user", user}, {"scheme", scheme}, {"host", host}};
        if (std::string(user).rfind("no point", 0) != 0) row.set("mountPoint", "/mnt");
        return row;
    };
    const Array volumes = {
        volume("first", "smb", "nas"),      volume("other scheme", "afp", "nas"),
        volume("later", "smb", "nas"),      volume("no host a", "smb", ""),
        volume("no host b", "smb", ""),     volume("no point a", "smb", "nas"),
        volume("no point b", "smb", "nas"),
    };
    // A session of the regrouped layout, missing what later versions added.
    const Value session = Dict{
        {"consoleDict", Dict{{"sessionName", "Mail"}}},
        {"settingsDict", Dict{{"settTask", 1}, {"settCreateDestFolderNameKind", 3}}},
        {"timerDict", Dict{{"timerOn", 1}}},
        {"conflictsDict", Dict{{"conflictFileFolderRadio", 1}, {"conflictFileFolderAsk", 1}}},
        {"autoMountDict", Dict{{"autoMountVolumeArray", volumes}}},
        {"settOverride", 1},
    };
    EXPECT_EQ(MigratedSession(session, 420), session);  // the current version is left as it is
    for (const std::int64_t version : {403, 404, 409, 410, 411, 419}) {
        SCOPED_TRACE(version);
        const Value s = MigratedSession(session, version);
        const Value& settings = Group(s, "settingsDict");
        EXPECT_EQ(settings.intAt("settCreateDestFolder", -1), version < 404 ? 0 : -1);
        EXPECT_EQ(settings.intAt("settCreateDestFolderNameKind"), 3);  // kept
        // The pattern those versions wrote with, not a new session's.
        EXPECT_EQ(settings.stringAt("settCreateDestFolderCustomNameFormat"),
                  version < 404 ? std::string(kMigratedCustomNameFormat) : "");
        EXPECT_EQ(settings.intAt("settSkipCheckPermissions", -1), version < 410 ? 0 : -1);
        // Of rows naming the same volume, only the later one stays below 411.
        const Array& kept = Rows(s, "autoMountDict", "autoMountVolumeArray");
        EXPECT_EQ(kept, Array(volumes.begin() + (version < 411 ? 1 : 0), volumes.end()));
        // Below 420 the file-versus-folder policy is 2 (an integer), asking false (a boolean).
        EXPECT_EQ(*Group(s, "conflictsDict").find("conflictFileFolderRadio"), Value(2));
        EXPECT_EQ(*Group(s, "conflictsDict").find("conflictFileFolderAsk"), Value(false));
        // The rules of the flat layout are not applied again.
        EXPECT_EQ(s.intAt("settOverride"), 1);
        EXPECT_EQ(Group(s, "timerDict").intAt("timerOn"), 1);
    }
}

// ---- The document ----

class SessionDocumentTest : public test::IsolatedHomeTest {
  protected:
    void SetUp() override {
        platform::InstallLocalizer(platform::Localizer{});
        const platform::SupportPaths paths = platform::SupportPaths::FromEnvironment();
        ASSERT_TRUE(paths.EnsurePreferencesFolder());
        templatePath_ = paths.pathFileDocTemplate;
        ASSERT_EQ(templatePath_.rfind(home(), 0), 0u) << "the template must live in the test home";
        std::filesystem::create_directories(docFolder_);
    }
    std::string DocPath(const std::string& name) const { return docFolder_ + "/" + name; }
    std::string templatePath_;
    std::string docFolder_ = home() + "/Documents";
};

TEST_F(SessionDocumentTest, HandWrittenVersion300DocumentIsRegroupedAndMigrated) {
    const std::string path = DocPath("old.qvd");
    test::WriteText(path, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>fileVersion</key><integer>300</integer>
<key>sessionIndex</key><integer>9</integer><key>sessionsArray</key><array>
  <dict><key>sessionName</key><string>Photos</string><key>multiOn</key><integer>1</integer>
    <key>consoleDict</key><dict><key>topIcon</key><string>kept</string></dict>
    <key>filterArray</key><array><dict><key>filterKindOn</key><true/></dict></array>
    <key>autoMountVolumeArray</key><array><dict><key>user</key><string>u</string></dict></array>
    <key>asStartText</key><string>beep</string><key>settTask</key><integer>2</integer>
    <key>settPackagesFolders</key><integer>1</integer><key>settCheckBackupDate</key><false/>
    <key>settOverride</key><true/><key>settCPOn</key><integer>1</integer>
    <key>settCPPopOwner</key><integer>4</integer><key>unknown</key><string>left alone</string>
  </dict>
  <dict><key>sessionName</key><string>Music</string>
    <key>settCheckBackupDate</key><integer>1</integer></dict>
</array></dict></plist>
)");
    SessionDocument doc(templatePath_);
    const DocResult result = doc.ReadDocumentFile(path);
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(doc.mSessionIndex, 1);
    ASSERT_EQ(doc.SessionCount(), 2);
    const Value& photos = *doc.GetSessionDict(0);
    const Value& music = *doc.GetSessionDict(1);

    std::set<std::string> keys = kNineGroups;
    keys.insert("unknown");  // keys nobody knows stay where they are
    EXPECT_EQ(KeysOf(photos), keys);
    EXPECT_EQ(Group(photos, "consoleDict"),
              Value(Dict{{"sessionName", "Photos"}, {"topIcon", "kept"}}));
    EXPECT_EQ(Group(photos, "multiDict"), Value(Dict{{"multiOn", 1}}));
    const Value& filterRow = Rows(photos, "filterDict", "filterArray").at(0);
    EXPECT_EQ(filterRow.intAt("filterKindOn", -1), 0);  // half a criterion is reset
    EXPECT_TRUE(filterRow.contains("filterOwnerField") && filterRow.contains("filterFileSizeOn"));
    // Volume rows whose first row names no host are replaced by the 64 default rows.
    EXPECT_EQ(Rows(photos, "autoMountDict", "autoMountVolumeArray").size(), 64u);
    EXPECT_EQ(Group(photos, "appleScriptDict").stringAt("asStartText"), kScriptText);
    const Value& settings = Group(photos, "settingsDict");
    EXPECT_EQ(settings.intAt("settPackagesFolders"), 1);
    for (const char* added : {"settSkipEmptyFolders", "settMoveToTrash", "settCheckAttrChanged",
                              "settCreateDestFolder", "settSkipCheckPermissions"}) {
        EXPECT_EQ(settings.intAt(added, -1), 0) << added;
    }
    for (const char* gone : {"settCheckBackupDate", "settOverride", "settCPOn", "settCPPopOwner"}) {
        EXPECT_FALSE(photos.contains(gone) || settings.contains(gone) || music.contains(gone));
    }
    const auto policy = [](const Value& s, const char* key) {
        return Group(s, "conflictsDict").intAt(key);
    };
    EXPECT_EQ(policy(photos, "conflictSyncRadio"), 1);     // settCheckBackupDate false
    EXPECT_EQ(policy(music, "conflictSyncRadio"), 2);      // settCheckBackupDate 1
    EXPECT_EQ(policy(photos, "conflictBackupRadio2"), 2);  // settOverride true
    EXPECT_EQ(policy(music, "conflictBackupRadio2"), 1);   // no settOverride
}

TEST_F(SessionDocumentTest, NewSessionHasNineSubDictionariesAndTimersFromJanuary2004Local) {
    Value doc = Dict{};  // AddSession makes the missing list
    {
        test::ScopedEnv tz;
        tz.Set("TZ", "JST-9");
        ::tzset();
        SessionDocument::AddSession(1, "Projects", doc);
        SessionDocument::AddSession(2, "Backup", doc);
    }
    ::tzset();
    for (const std::int64_t task : {1, 2}) {
        const Value& s = SessionAt(doc, static_cast<std::size_t>(task - 1));
        EXPECT_EQ(KeysOf(s), kNineGroups);
        EXPECT_EQ(Group(s, "settingsDict").intAt("settTask"), task);
        EXPECT_EQ(Group(s, "settingsDict").intAt("settInvisibleItems"), 1);
        EXPECT_EQ(Group(s, "filterDict").intAt("filterCopySkip"), 2);
        EXPECT_EQ(Group(s, "conflictsDict").intAt("conflictFileFolderRadio"), 1);
        EXPECT_EQ(Group(s, "appleScriptDict").stringAt("asEndText"), kScriptText);
        const auto n = [&](const char* group, const char* key) {
            return Rows(s, group, key).size();
        };
        EXPECT_EQ(std::vector({n("timerDict", "timerArray"), n("multiDict", "multiArray"),
                               n("filterDict", "filterArray"), n("excludeDict", "excludeArray"),
                               n("autoMountDict", "autoMountVolumeArray")}),
                  std::vector<std::size_t>({32, 32, 32, 32, 64}));
        for (const auto& row : Rows(s, "timerDict", "timerArray")) {
            // 2004-01-01 00:00 in Japan, nine hours ahead of UTC.
            EXPECT_EQ(row.find("start")->date().seconds, 1072915200.0 - 9 * 3600);
            EXPECT_EQ(row.find("end")->date().seconds, 1072915200.0 - 9 * 3600);
        }
    }
}

TEST_F(SessionDocumentTest, UnusableOr421TemplateGivesTheTwoDefaultSessions) {
    for (const bool written : {false, true}) {
        SCOPED_TRACE(written ? "written by version 421" : "missing");
        if (written) WriteDoc(templatePath_, ThreeSessions(1, 421));
        SessionDocument doc(templatePath_);
        doc.mMainDict = ThreeSessions(2);
        doc.mSessionIndex = 2;
        EXPECT_EQ(doc.ReadDocumentFile(templatePath_).alert, "");  // silent, even for 421
        doc.ReadFileTemplate();
        EXPECT_TRUE(doc.isDocumentTemplate && doc.isDocumentOpen);
        EXPECT_EQ(doc.mMainDict, SessionDocument::NewTemplate());
        EXPECT_EQ(doc.mSessionIndex, 0);
        EXPECT_EQ(doc.GetSessionName(0), "Default Sync Session");
        EXPECT_EQ(doc.GetSessionDict(0)->dictAt("settingsDict")->intAt("settTask"), 1);
        EXPECT_EQ(doc.GetSessionName(1), "Default Backup Session");
        EXPECT_EQ(doc.GetSessionDict(1)->dictAt("settingsDict")->intAt("settTask"), 2);
        // An unusable template is kept aside for the user, never overwritten, and they are told.
        EXPECT_FALSE(platform::ItemExists(templatePath_));
        EXPECT_EQ(platform::ItemExists(templatePath_ + kSetAsideSuffix), written);
        EXPECT_EQ(doc.templateNotice().empty(), !written);
    }
}

TEST_F(SessionDocumentTest, RefusedDocumentsLeaveTheOpenDocumentUntouched) {
    const struct {
        const char* name;
        std::optional<Value> doc;
        const char* text = nullptr;  // written instead of a document
        bool folder = false;
    } cases[] = {
        {"missing file", std::nullopt},
        {"a folder", std::nullopt, nullptr, true},
        {"not a property list", std::nullopt, "sessions: none\n"},
        {"no fileVersion", Dict{{"sessionsArray", Array{Dict{}}}}},
        {"empty sessionsArray", Dict{{"fileVersion", 420}, {"sessionsArray", Array{}}}},
        {"a session that is not a dictionary",
         Dict{{"fileVersion", 420}, {"sessionsArray", Array{Dict{}, "x"}}}},
        {"version 421", Dict{{"fileVersion", 421}, {"sessionsArray", Array{Dict{}}}}},
    };
    WriteDoc(DocPath("open.qvd"), ThreeSessions(1));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = DocPath(std::string("refused ") + c.name + ".qvd");
        if (c.folder) std::filesystem::create_directories(path);
        if (c.text) test::WriteText(path, c.text);
        if (c.doc) WriteDoc(path, *c.doc);
        SessionDocument doc(templatePath_);
        ASSERT_TRUE(doc.ReadDocumentFile(DocPath("open.qvd")).ok);
        const Value before = doc.mMainDict;

        const DocResult result = doc.ReadDocumentFile(path);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.reason.empty());
        const bool higher = c.doc && c.doc->intAt("fileVersion") == 421;
        EXPECT_EQ(result.alert, higher ? "Can't open the file\r\"" + path +
                                             "\"\rbecause it has been created by a higher version."
                                       : "");
        EXPECT_EQ(doc.mMainDict, before);
        EXPECT_EQ(doc.mSessionIndex, 1);
    }
}

TEST_F(SessionDocumentTest, SessionIndexIsClampedToASessionOrTheAllIndex) {
    const struct {
        std::int64_t stored, expected;
        bool all;
    } cases[] = {{7, 2, false}, {3, 2, false}, {4, 4, true}, {1, 1, false}, {-1, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        WriteDoc(DocPath("index.qvd"), ThreeSessions(c.stored));
        SessionDocument doc(templatePath_);
        ASSERT_TRUE(doc.ReadDocumentFile(DocPath("index.qvd")).ok);
        EXPECT_EQ(doc.mSessionIndex, c.expected);
        EXPECT_EQ(doc.mMainDict.intAt("sessionIndex"), c.expected);
        EXPECT_EQ(doc.IsCurrentSessionAllSessions(), c.all);
        EXPECT_EQ(doc.GetSessionDict(doc.mSessionIndex) == nullptr, c.all);
    }
}

TEST_F(SessionDocumentTest, WritingGivesVersion420AndOwnerOnlyModeOrKeepsTheOldFile) {
    const Value secret = SetWellData("secret").value();
    const std::string passwords =
        " because it contains passwords to connect to remote volumes, and I cannot set the file "
        "permissions to rw-------";
    const struct {
        const char* name;
        bool password, toTemplate;
        mode_t before, after;  // the mode of the file there before, and after writing
        int chmodErrno = 0, writeErrno = 0;
        const char* alert = nullptr;  // the failure's alert, after the path; nullptr: success
    } cases[] = {
        {"no password", false, false, 0640, 0640},
        {"password", true, false, 0644, 0600},
        {"password in the template", true, true, 0644, 0600},
        {"mode refused, passwords", true, false, 0640, 0640, EPERM, 0, "passwords"},
        {"mode refused, no passwords", false, false, 0640, 0640, EPERM, 0, ""},
        {"disk full, passwords", true, false, 0640, 0640, 0, ENOSPC, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.toTemplate ? templatePath_ : DocPath("doc.qvd");
        test::WriteText(path, "the old bytes");
        ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
        SessionDocument doc(templatePath_);
        doc.mMainDict = ThreeSessions(2, 404);
        Value& volumes = *SessionAt(doc.mMainDict, 1).dictAt("autoMountDict");
        if (c.password) {
            volumes.arrayAt("autoMountVolumeArray")->array()[40].set("password", secret);
        }
        test::FaultyFileSystem failing;
        if (c.chmodErrno != 0) failing.Add({test::Sys::fchmod, c.chmodErrno});
        if (c.writeErrno != 0) failing.Add({test::Sys::write, c.writeErrno});
        const DocResult result = [&] {
            platform::ScopedFileSystem installed(failing);
            return doc.WriteFileSession(path);
        }();
        EXPECT_EQ(result.ok, c.alert == nullptr) << result.reason;
        EXPECT_EQ(Entries(platform::ParentFolder(path)), 1);  // no temporary file is left
        if (c.alert) {
            EXPECT_EQ(result.alert, "Can't write the file \"" + path + "\" to the disk" +
                                        (*c.alert ? passwords : "") + ".");
            EXPECT_EQ(test::ReadText(path), "the old bytes");
        }
        EXPECT_EQ(ModeOf(path), c.after);
        if (c.alert) continue;
        SessionDocument reread(templatePath_);
        ASSERT_TRUE(reread.ReadDocumentFile(path).ok);
        EXPECT_EQ(reread.mMainDict.intAt("fileVersion"), 420);
        EXPECT_EQ(reread.mMainDict, doc.mMainDict);
    }
}

TEST_F(SessionDocumentTest, DocumentNeedsSavingOnlyWhenItDiffersFromItsReference) {
    SessionDocument doc(templatePath_);
    doc.ReadFileTemplate();
    Rename(doc.mMainDict, 0, "Changed");
    EXPECT_FALSE(doc.isDocumentToBeSaved());  // the template never asks
    // An untitled document is compared with a new one, by value and by type.
    doc.isDocumentTemplate = doc.isDocumentSaved = false;
    doc.mMainDict = SessionDocument::NewTemplate();
    EXPECT_FALSE(doc.isDocumentToBeSaved());
    for (const Value& settExact : {Value(1), Value(false)}) {
        SessionAt(doc.mMainDict, 0).dictAt("settingsDict")->set("settExact", settExact);
        EXPECT_TRUE(doc.isDocumentToBeSaved());
    }
    // A saved document is compared with its file: migrated from 419, it differs.
    const std::string path = DocPath("saved.qvd");
    WriteDoc(path, ThreeSessions(1, 419));
    ASSERT_TRUE(doc.ReadDocumentFile(path).ok);
    doc.isDocumentSaved = true;
    doc.pathDocumentFile = path;
    EXPECT_TRUE(doc.isDocumentToBeSaved());
    ASSERT_TRUE(doc.WriteFileSession(path).ok);
    EXPECT_FALSE(doc.isDocumentToBeSaved());
    Rename(doc.mMainDict, 2, "Renamed");
    EXPECT_TRUE(doc.isDocumentToBeSaved());
    WriteDoc(path, doc.mMainDict);  // the file, not a copy kept in memory, is the reference
    EXPECT_FALSE(doc.isDocumentToBeSaved());
}

}  // namespace
}  // namespace qv::sessions
