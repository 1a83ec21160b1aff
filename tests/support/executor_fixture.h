#pragma once
// A Backup session over the fixture's folders A and B, run through the engine and the real copy
// executor, with what the tests of a copy read back: the plan's log, a file's text, a folder's
// names.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/tree_fixture.h"

namespace qv::test {

class ExecutorFixture : public ::testing::Test {
  protected:
    ExecutorFixture() : doc(TwoFolderDocument(tree.a(), tree.b(), sessions::kTaskBackup)) {}

    const run::RunState& Run() {
        engine.emplace(doc, prefs, proxy, index, executor, tw);
        engine->ExecuteSyncBackup();
        return engine->state();
    }
    const std::string& Log() {
        return engine->state().logSessionArray.at(0).logTaskArray.at(0).gDetailedLogText;
    }
    std::string Read(const std::string& relative) { return ReadText(tree.path(relative)); }
    std::vector<std::string> Entries(const std::string& relative) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(tree.path(relative))) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TreeFixture tree;
    sessions::SessionDocument doc;
    plist::Value prefs = plist::Dict{{"prefOnError", 2}};
    FakeProxy proxy;
    engine::NoExactSyncIndex index;
    items::TWUtilities tw;
    fileops::RunExecutor executor{proxy, tw};
    std::optional<engine::RunEngine> engine;
};

}  // namespace qv::test
