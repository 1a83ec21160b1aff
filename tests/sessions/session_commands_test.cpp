#include "sessions/session_commands.h"

#include <gtest/gtest.h>

namespace qv::sessions {
namespace {

// A document of sessions with these names (all Synchronize), the first current.
SessionDocument Doc(std::initializer_list<const char*> names) {
    SessionDocument doc("/nonexistent/template.plist");
    doc.mMainDict = plist::Dict{{"sessionsArray", plist::Array{}}, {"sessionIndex", 0}};
    for (const char* name : names)
        SessionDocument::AddSession(kTaskSynchronize, name, doc.mMainDict);
    return doc;
}

std::vector<std::string> Names(const SessionDocument& doc) {
    std::vector<std::string> names;
    for (std::int64_t i = 0; i < doc.SessionCount(); ++i) names.push_back(doc.GetSessionName(i));
    return names;
}

// The current index as the document will store it, checked against mSessionIndex.
std::int64_t Current(const SessionDocument& doc) {
    EXPECT_EQ(doc.mMainDict.intAt("sessionIndex", -1), doc.mSessionIndex);
    return doc.mSessionIndex;
}

TEST(SessionCommandsTest, TheNameSheetsCheck) {
    const SessionDocument doc = Doc({"a", "b", "All Sessions x"});
    const struct {
        const char* name;
        std::optional<std::int64_t> renaming;
        NameVerdict verdict;
        const char* message;
    } cases[] = {
        {"", std::nullopt, NameVerdict::Empty, "Please insert a valid name."},
        {"tab\there", std::nullopt, NameVerdict::ControlCharacter, nullptr},
        {"del\x7f", std::nullopt, NameVerdict::ControlCharacter, nullptr},
        {"c1\xc2\x85", std::nullopt, NameVerdict::ControlCharacter, nullptr},
        {"line\xe2\x80\xa8sep", std::nullopt, NameVerdict::ControlCharacter, nullptr},
        {"na\xffme", std::nullopt, NameVerdict::NotText, "A session name must be UTF-8 text."},
        {"All Sessions", std::nullopt, NameVerdict::FixedEntry, "Can't use this name."},
        {"All Sessions", 1, NameVerdict::FixedEntry, "Can't use this name."},
        {"Sort Sessions…", std::nullopt, NameVerdict::FixedEntry, "Can't use this name."},
        {"b", 1, NameVerdict::Unchanged, ""},
        {"b", 0, NameVerdict::Duplicated, "Name duplicated."},
        {"b", std::nullopt, NameVerdict::Duplicated, "Name duplicated."},
        {"B", 0, NameVerdict::Accepted, ""},  // case matters
        {"caf\xc3\xa9 \xe2\x80\xa6", std::nullopt, NameVerdict::Accepted, ""},
    };
    for (const auto& c : cases) {
        const NameCheck check = CheckSessionName(doc, c.name, c.renaming);
        EXPECT_EQ(check.verdict, c.verdict) << c.name;
        if (c.message)
            EXPECT_EQ(check.message, c.message) << c.name;
        else
            EXPECT_FALSE(check.message.empty()) << c.name;
    }
    const std::vector<std::string> fixed = FixedSessionEntryTitles();
    ASSERT_EQ(fixed.size(), 8u);
    EXPECT_EQ(fixed[0], "");
    EXPECT_EQ(fixed[1], "All Sessions");  // at count + 1 in the menu
}

TEST(SessionCommandsTest, NewDuplicateAndRename) {
    SessionDocument doc = Doc({"a", "b"});
    EXPECT_EQ(ProposedNewSessionName(doc), "Session 3");
    EXPECT_EQ(ProposedDuplicateName(doc, 1), "Copy 1 of b");
    ASSERT_TRUE(DuplicateSession(doc, 1, "Copy 1 of b"));
    EXPECT_EQ(ProposedDuplicateName(doc, 1), "Copy 2 of b");  // the first number not taken
    ASSERT_TRUE(RemoveSession(doc, 2));

    SessionCommandResult r = NewSession(doc, "c");
    ASSERT_TRUE(r);
    EXPECT_EQ(Current(doc), 2);
    EXPECT_EQ(doc.GetSessionDict(2)->dictAt("settingsDict")->intAt("settTask"), kTaskSynchronize);
    EXPECT_EQ(NewSession(doc, "a").message, "Name duplicated.");

    // The copy owns its contents: changing it leaves the original as it was.
    doc.GetSessionDict(0)->dictAt("consoleDict")->set("topFolder", "/src");
    ASSERT_TRUE(DuplicateSession(doc, 0, "a2"));
    EXPECT_EQ(Current(doc), 3);
    plist::Value* copy = doc.GetSessionDict(3);
    EXPECT_EQ(copy->dictAt("consoleDict")->stringAt("topFolder"), "/src");
    copy->dictAt("consoleDict")->set("topFolder", "/other");
    copy->dictAt("settingsDict")->set("settExact", 1);
    EXPECT_EQ(doc.GetSessionDict(0)->dictAt("consoleDict")->stringAt("topFolder"), "/src");
    EXPECT_EQ(doc.GetSessionDict(0)->dictAt("settingsDict")->intAt("settExact"), 0);

    const std::int64_t all = doc.SessionCount() + 1;
    EXPECT_EQ(DuplicateSession(doc, all, "x").message, "Can't duplicate the \"All\" Session.");
    EXPECT_EQ(RenameSession(doc, all, "x").message, "Can't rename the \"All\" Session.");
    EXPECT_FALSE(DuplicateSession(doc, 9, "x"));

    ASSERT_TRUE(RenameSession(doc, 1, "b"));  // its own name: nothing changes
    ASSERT_TRUE(RenameSession(doc, 1, "Bee"));
    EXPECT_EQ(Names(doc), (std::vector<std::string>{"a", "Bee", "c", "a2"}));
    EXPECT_EQ(RenameSession(doc, 1, "All Sessions").message, "Can't use this name.");
    EXPECT_EQ(Current(doc), 3);  // a rename keeps the current session
}

TEST(SessionCommandsTest, RemovingKeepsTheCurrentSession) {
    const struct {
        std::int64_t current;
        std::int64_t removed;
        std::int64_t after;
    } cases[] = {
        {2, 0, 1},             // one before the current: the same session stays current
        {1, 1, 1},             // the current one: the next takes its place
        {2, 2, 1},             // the last and current: the new last
        {0, 2, 0}, {4, 1, 3},  // "All" stays "All"
    };
    for (const auto& c : cases) {
        SessionDocument doc = Doc({"a", "b", "c"});
        doc.mSessionIndex = c.current;
        const SessionCommandResult r = RemoveSession(doc, c.removed);
        ASSERT_TRUE(r) << r.message;
        EXPECT_EQ(Current(doc), c.after) << c.current << " " << c.removed;
        EXPECT_EQ(doc.SessionCount(), 2);
    }
    SessionDocument doc = Doc({"a", "b"});
    doc.mSessionIndex = 3;
    EXPECT_EQ(RemoveSession(doc, 3).message, "Can't remove the \"All\" Session.");
    EXPECT_EQ(RemoveAllButFirst(doc).message, "Can't remove the \"All\" Session.");
    EXPECT_EQ(RemoveSessionQuestion(doc, 1),
              "Are you sure you want to remove the current session \"b\" definitively?");
    doc.mSessionIndex = 1;
    ASSERT_TRUE(RemoveAllButFirst(doc));
    EXPECT_EQ(Names(doc), std::vector<std::string>{"a"});
    EXPECT_EQ(Current(doc), 0);
    EXPECT_EQ(RemoveSession(doc, 0).message, "Can't remove the last Session.");
}

// Two sessions with equal dictionaries: everything goes by index, never by content.
TEST(SessionCommandsTest, SortingAndMovingFollowTheCurrentSessionByIndex) {
    SessionDocument doc = Doc({"twin", "twin", "c"});
    doc.GetSessionDict(2)->dictAt("consoleDict")->set("topFolder", "/c");
    doc.mSessionIndex = 1;
    ASSERT_TRUE(ApplySortedOrder(doc, {0, 2, 1}));  // a lookup by content would give 0
    EXPECT_EQ(Current(doc), 2);
    ASSERT_TRUE(MoveSession(doc, 2, 0));  // the current twin, to the top
    EXPECT_EQ(Current(doc), 0);
    ASSERT_TRUE(MoveSession(doc, 1, 0));  // the other twin above it
    EXPECT_EQ(Current(doc), 1);
    EXPECT_EQ(doc.GetSessionDict(2)->dictAt("consoleDict")->stringAt("topFolder"), "/c");

    // The current session sorted out: the index stays unless it would pass the end; "All"
    // gives way to the last session.
    const struct {
        std::int64_t current;
        std::vector<std::int64_t> order;
        std::int64_t after;
    } cases[] = {{2, {0, 1}, 1}, {0, {1, 2}, 0}, {4, {2, 0, 1}, 2}, {4, {1}, 0}};
    for (const auto& c : cases) {
        SessionDocument d = Doc({"a", "b", "c"});
        d.mSessionIndex = c.current;
        ASSERT_TRUE(ApplySortedOrder(d, c.order));
        EXPECT_EQ(Current(d), c.after) << c.current;
    }
    for (const std::vector<std::int64_t>& bad :
         {std::vector<std::int64_t>{}, {0, 0, 1}, {0, 3}, {-1}}) {
        EXPECT_FALSE(ApplySortedOrder(doc, bad));
    }
    EXPECT_FALSE(MoveSession(doc, 0, 3));
    EXPECT_EQ(doc.SessionCount(), 3);
}

TEST(SessionCommandsTest, TheSortWindowsWorkingCopy) {
    const SessionDocument doc = Doc({"a", "b", "c", "d", "e"});
    const struct {
        std::vector<std::int64_t> selected;
        std::int64_t drop;
        std::vector<std::int64_t> order;
        std::vector<std::int64_t> newRows;
    } moves[] = {
        {{3, 1}, 0, {1, 3, 0, 2, 4}, {0, 1}},   // relative order kept, before the anchor
        {{0}, 5, {1, 2, 3, 4, 0}, {4}},         // past the end: appended
        {{0, 1}, 1, {0, 1, 2, 3, 4}, {0, 1}},   // onto themselves: in place
        {{4, 9, -1}, 2, {0, 1, 4, 2, 3}, {2}},  // rows outside the list skipped
        {{}, 0, {0, 1, 2, 3, 4}, {}},
    };
    for (const auto& m : moves) {
        SortSessionsModel model(doc);
        EXPECT_EQ(model.MoveRows(m.selected, m.drop), m.newRows) << m.drop;
        EXPECT_EQ(model.order(), m.order) << m.drop;
    }
    SortSessionsModel model(doc);
    EXPECT_TRUE(model.DeleteRows({}));
    EXPECT_EQ(model.DeleteRows({0, 1, 2, 3, 4}).message, "Can't remove all the Sessions.");
    EXPECT_EQ(model.rowCount(), 5);
    ASSERT_TRUE(model.DeleteRows({3, 0}));
    EXPECT_EQ(model.order(), (std::vector<std::int64_t>{1, 2, 4}));
    EXPECT_EQ(model.rows()[0].name, "b");
}

}  // namespace
}  // namespace qv::sessions
