// The triggers over a mount table, news of changes and a clock of the test's own.
#include "schedule/triggers.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace qv::schedule {
namespace {

class FakeMounts : public platform::MountTableSource {
  public:
    std::vector<platform::MountRecord> Read() override { return table; }
    bool Changed() override { return std::exchange(changed, false); }
    void Mount(std::int64_t id, const std::string& point) {
        table.push_back({id, point});
        changed = true;
    }
    void Unmount(std::int64_t id) {
        std::erase_if(table, [id](const platform::MountRecord& m) { return m.id == id; });
        changed = true;
    }
    std::vector<platform::MountRecord> table{{1, "/"}};
    bool changed = false;
};

class FakeChanges : public platform::ChangeSource {
  public:
    platform::WatchStatus Watch(const std::string& root) override {
        if (limited) return platform::WatchStatus::LimitReached;
        watched.push_back(root);
        return platform::WatchStatus::Watching;
    }
    void Unwatch(const std::string& root) override { std::erase(watched, root); }
    platform::ChangeNews Poll() override { return std::exchange(news, {}); }
    // News only of what is watched.
    void Change(const std::string& root) {
        if (std::find(watched.begin(), watched.end(), root) != watched.end()) {
            news.changed.push_back(root);
        }
    }
    std::vector<std::string> watched;
    platform::ChangeNews news;
    bool limited = false;
};

class FakeLauncher : public TriggerLauncher {
  public:
    bool IsCopying() const override { return copying; }
    bool DocumentTrusted() const override { return trusted; }
    bool StartTriggerRun(std::int64_t session, const std::string& reason, std::string*) override {
        started.emplace_back(session, reason);
        copying = true;
        return true;
    }
    bool copying = false;
    bool trusted = true;
    std::vector<std::pair<std::int64_t, std::string>> started;
};

// The backup session (index 1) copies /home/ann/A to /mnt/disk/B, with the given triggers.
class TriggersTest : public ::testing::Test {
  protected:
    TriggersTest() : doc_(dir_ / "template.plist") {
        doc_.mMainDict = sessions::SessionDocument::NewTemplate();
        plist::Value& session = *doc_.GetSessionDict(1);
        session.dictAt("consoleDict")->set("topFolder", "/home/ann/A");
        session.dictAt("consoleDict")->set("bottomFolder", "/mnt/disk/B/");
    }
    void Arm(bool onMount, bool onChange) {
        doc_.GetSessionDict(1)->set(sessions::kTriggerDictKey,
                                    plist::Dict{{sessions::kTriggerOnMountKey, onMount ? 1 : 0},
                                                {sessions::kTriggerOnChangeKey, onChange ? 1 : 0},
                                                {sessions::kTriggerQuietKey, 60},
                                                {sessions::kTriggerMinMinutesKey, 15}});
        triggers_.Arm();
    }
    // Ticks every second after now up to `until`; the runs started on the way.
    std::size_t TickUntil(std::int64_t until) {
        const std::size_t before = launcher_.started.size();
        while (now_ < until) {
            ++now_;
            triggers_.Tick();
        }
        return launcher_.started.size() - before;
    }
    void RunEnds() {
        launcher_.copying = false;
        triggers_.TriggerRunDone();
    }

    test::TempDir dir_;
    sessions::SessionDocument doc_;
    FakeMounts mounts_;
    FakeChanges changes_;
    FakeLauncher launcher_;
    std::int64_t now_ = 1000;
    Triggers triggers_{doc_, launcher_, mounts_, changes_, [this] { return now_; }};
};

TEST_F(TriggersTest, AVolumeAppearingFiresOnceAndTheMinimumIntervalHolds) {
    Arm(true, false);
    EXPECT_TRUE(changes_.watched.empty());  // no change trigger: no tree watched
    EXPECT_EQ(TickUntil(1010), 0u);
    mounts_.Mount(7, "/mnt/disk");
    EXPECT_EQ(TickUntil(1011), 1u);
    EXPECT_EQ(launcher_.started.back(),
              (std::pair<std::int64_t, std::string>{1, "volume /mnt/disk appeared"}));
    RunEnds();
    EXPECT_EQ(TickUntil(1100), 0u);

    // Unplugged and plugged again within the interval: it waits for the interval's end.
    mounts_.Unmount(7);
    EXPECT_EQ(TickUntil(1110), 0u);
    mounts_.Mount(8, "/mnt/disk");
    EXPECT_EQ(TickUntil(1011 + 15 * 60 - 1), 0u);
    EXPECT_EQ(TickUntil(1011 + 15 * 60), 1u);
    RunEnds();

    // A volume that came and went while another run went on (which mounted it for itself) is
    // no reason any more.
    launcher_.copying = true;
    mounts_.Unmount(8);
    mounts_.Mount(10, "/mnt/disk");
    EXPECT_EQ(TickUntil(now_ + 1), 0u);
    mounts_.Unmount(10);
    EXPECT_EQ(TickUntil(now_ + 1), 0u);
    launcher_.copying = false;
    EXPECT_EQ(TickUntil(now_ + 3600), 0u);
}

TEST_F(TriggersTest, ChangesFireOnceQuietAndWaitForTheRunGoingOn) {
    Arm(false, true);
    EXPECT_EQ(changes_.watched, std::vector<std::string>{"/home/ann/A"});
    // Changes seen at 1001 and 1031: quiet from 1031, due at 1091.
    changes_.Change("/home/ann/A");
    EXPECT_EQ(TickUntil(1030), 0u);
    changes_.Change("/home/ann/A");
    EXPECT_EQ(TickUntil(1090), 0u);
    EXPECT_EQ(TickUntil(1091), 1u);
    EXPECT_EQ(launcher_.started.back().second, "changes in the source");

    // What the run itself does to its source is dropped, during it and at its end.
    changes_.Change("/home/ann/A");
    EXPECT_EQ(TickUntil(1200), 0u);
    changes_.Change("/home/ann/A");
    RunEnds();
    EXPECT_EQ(TickUntil(1090 + 3600), 0u);

    // Due while another run goes on: it waits for that run's end, then fires.
    changes_.Change("/home/ann/A");
    launcher_.copying = true;
    EXPECT_EQ(TickUntil(now_ + 600), 0u);
    launcher_.copying = false;
    EXPECT_EQ(TickUntil(now_ + 1), 1u);
}

TEST_F(TriggersTest, AnUntrustedDocumentNeverFiresAndALimitedWatchRunsByInterval) {
    launcher_.trusted = false;
    Arm(true, true);
    EXPECT_FALSE(triggers_.armed());
    EXPECT_TRUE(changes_.watched.empty());
    mounts_.Mount(7, "/mnt/disk");
    changes_.Change("/home/ann/A");
    EXPECT_EQ(TickUntil(now_ + 3600), 0u);

    // Out of watches: told once, and the session runs every minimum interval as if changed.
    launcher_.trusted = true;
    changes_.limited = true;
    Arm(false, true);
    std::vector<std::string> notices = triggers_.TakeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(test::Contains(notices[0], "fs.inotify.max_user_watches"));
    const std::int64_t from = now_;
    EXPECT_EQ(TickUntil(from + 15 * 60 - 1), 0u);
    EXPECT_EQ(TickUntil(from + 15 * 60), 1u);
    EXPECT_EQ(launcher_.started.back().second,
              "the source may have changed (checked every 15 minutes)");
    RunEnds();
    EXPECT_EQ(TickUntil(from + 30 * 60), 1u);
    EXPECT_TRUE(triggers_.TakeNotices().empty());
}

}  // namespace
}  // namespace qv::schedule
