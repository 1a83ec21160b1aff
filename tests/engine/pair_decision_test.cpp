// The decision for a pair whose item stands on one side only, taken without any file system:
// the same rule must hold in both directions of an Exact Synchronize, with its conflicts.

#include "engine/pair_decision.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/exact_sync_index.h"

namespace qv::engine {
namespace {

struct Facts : PairFacts {
    std::map<std::string, double> backupDates;
    std::vector<std::string> inIndex;  // "A:path" or "B:path"
    bool answer = true;
    std::vector<int> asked;

    std::optional<double> BackupDate(const PairSide& side) const override {
        const auto it = backupDates.find(side.path);
        return it == backupDates.end() ? std::nullopt : std::optional<double>(it->second);
    }
    std::int64_t ItemsInFolder(const PairSide&) const override { return 0; }
    bool differ = true;
    bool AttributesDiffer(const PairSide&, const PairSide&) const override { return differ; }
    bool WasInIndex(const std::string& path, int side) const override {
        const std::string key = (side == kSideA ? "A:" : "B:") + path;
        return std::find(inIndex.begin(), inIndex.end(), key) != inIndex.end();
    }
    bool Answer(const run::ConflictPolicy&, run::ConflictQuestion q, bool*) override {
        asked.push_back(q.conflict);
        return answer;
    }
};

PairSide File(const std::string& path, std::int64_t modified) {
    PairSide side;
    side.exists = true;
    side.path = path;
    side.name = path.substr(path.rfind('/') + 1);
    side.attrs.type = platform::ItemType::RegularFile;
    side.attrs.mtime = {modified, 0};
    return side;
}

TEST(PairDecisionTest, AnItemOnOneSideIsDecidedAlikeInBothDirections) {
    struct Case {
        const char* what;
        bool sync, exact, index;
        std::vector<std::string> inIndex;
        int parentMode;
        std::int64_t modified;  // backup date of the item is 1000
        bool answer;
        int modeA, modeB;        // the item in A only; the item in B only
        std::vector<int> asked;  // per direction
        std::int8_t ifSkipA, ifSkipB;
    };
    // clang-format off
    const Case cases[] = {
        {"Backup", false, false, false, {}, 1, 900, true, 2, 0, {}, -1, -1},
        {"Exact Backup, unchanged since backed up", false, true, false, {}, 1, 900, true, 2, 7, {}, -1, -1},
        {"Exact Backup, changed since, kept", false, true, false, {}, 1, 2000, false, 2, 0, {21}, -1, -1},
        {"Synchronize without index", true, true, false, {"A:/a/x", "B:/b/x"}, 1, 900, true, 2, 3, {}, -1, -1},
        {"new on its side", true, true, true, {}, 1, 900, true, 2, 3, {}, -1, -1},
        {"deleted on the other side", true, true, true, {"A:/a/x", "B:/b/x"}, 1, 900, true, 6, 7, {}, 0, 1},
        {"deleted on the other side, changed here, kept", true, true, true, {"A:/a/x", "B:/b/x"}, 1, 2000, false, 2, 3, {41}, 0, 1},
        {"new inside a folder deleted on the other side, kept", true, true, true, {}, 0, 900, false, 2, 3, {42}, -1, -1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const bool inA : {true, false}) {
            run::RunState state;
            state.config.flags.gIsSyncOn = c.sync;
            state.config.flags.gIsExactOn = c.exact;
            state.task.gCompareExactSyncAtIndex = c.index;
            state.config.conflicts.exactSync = {false, true};
            state.config.conflicts.exactBackup = {false, true};
            state.task.mainDestFolderBackupDate = 500;
            state.task.mainSourceFolderBackupDate = 500;
            Facts facts;
            facts.inIndex = c.inIndex;
            facts.answer = c.answer;
            const std::string here = inA ? "/a/x" : "/b/x";
            const std::string there = inA ? "/b/x" : "/a/x";
            facts.backupDates[here] = 1000;
            // The parent mode names the deletion on this item's own side.
            const int parent = c.parentMode == 0 ? (inA ? run::kModeDeleteInA : run::kModeDeleteInB)
                                                 : c.parentMode;
            std::int8_t ifSkip = -1;
            PairDecision decision(state, facts);
            const int mode =
                decision.OnlyOneSide(inA, File(here, c.modified), there, parent, false, ifSkip);
            EXPECT_EQ(mode, inA ? c.modeA : c.modeB) << (inA ? "in A" : "in B");
            EXPECT_EQ(ifSkip, inA ? c.ifSkipA : c.ifSkipB) << (inA ? "in A" : "in B");
            const bool backupInA = !c.sync && inA;
            EXPECT_EQ(facts.asked, backupInA ? std::vector<int>{} : c.asked);
            EXPECT_EQ(state.task.gConflictsSkipped, facts.asked.empty() || c.answer ? 0 : 1);
        }
    }
}

// A file replaced by a link within the same second is newer than the file: links are dated
// to the nanosecond too. And a change of type is a conflict whatever the dates, so that a
// policy that skips conflicts never lets an older file undo it.
TEST(PairDecisionTest, LinksAreDatedLikeFilesAndAChangeOfTypeIsAConflict) {
    struct Case {
        const char* what;
        long linkNs;
        std::int64_t fileSeconds;
        bool skipConflicts;
        int mode;
        std::vector<int> asked;
    };
    // clang-format off
    const Case cases[] = {
        {"link later in the same second", 900000000, 1000, false, run::kModeReplaceBwithA, {}},
        {"older file against a newer link, skipped", 0, 999, true, run::kModeNone, {31}},
        {"newer file against a link, skipped", 0, 3000, true, run::kModeNone, {31}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        run::RunState state;
        state.config.flags.gIsSyncOn = true;
        state.config.conflicts.sync = {!c.skipConflicts, false};
        Facts facts;
        facts.answer = false;
        PairSide link = File("/a/x", 1000);
        link.attrs.type = platform::ItemType::SymbolicLink;
        link.isLink = true;
        link.attrs.mtime.nsec = static_cast<std::int32_t>(c.linkNs);
        PairSide file = File("/b/x", c.fileSeconds);
        file.attrs.mtime.nsec = 100000000;
        PairDecision decision(state, facts);
        EXPECT_EQ(decision.BothExist(link, file, false), c.mode);
        EXPECT_EQ(facts.asked, c.asked);
    }
}

// Status-change times cannot be set on Linux: after a copy of attributes the copy's is newer,
// and a check by times alone would copy attributes back and forth at every run. Attributes
// count as changed only when they differ; the times then give the direction.
TEST(PairDecisionTest, AttributesCountAsChangedOnlyWhenTheyDiffer) {
    struct Case {
        bool sync;
        std::int64_t ctimeA, ctimeB;
        bool differ;
        int mode;
    };
    const Case cases[] = {
        {true, 5000, 1000, true, run::kModeAttrAtoB}, {true, 1000, 5000, true, run::kModeAttrBtoA},
        {true, 1000, 5000, false, run::kModeNone},    {false, 5000, 1000, false, run::kModeNone},
        {false, 1000, 5000, true, run::kModeNone},  // a Backup never copies attributes back
        {true, 1000, 1001, true, run::kModeNone},   // within the two seconds
    };
    for (const Case& c : cases) {
        run::RunState state;
        state.config.flags.gIsSyncOn = c.sync;
        state.config.flags.gCheckAttrChanged = true;
        Facts facts;
        facts.differ = c.differ;
        PairSide a = File("/a/f", 1000), b = File("/b/f", 1000);
        a.attrs.ctime = {c.ctimeA, 0};
        b.attrs.ctime = {c.ctimeB, 0};
        PairDecision decision(state, facts);
        EXPECT_EQ(decision.BothExist(a, b, false), c.mode)
            << c.sync << " " << c.ctimeA << " " << c.ctimeB << " " << c.differ;
    }
}

}  // namespace
}  // namespace qv::engine
