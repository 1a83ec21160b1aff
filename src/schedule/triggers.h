#pragma once
// The triggers of the sessions in scope: a session runs by itself when a volume one of its
// folders lies on appears, or when its source has changed and then stayed quiet for its quiet
// time; either way at most once in its minimum interval, never beside another run, never for
// a document the user has not trusted. It knows nothing of threads or widgets: the clock, the
// mount table, the news of changes and the way a run starts are given to it, and a front end
// calls Tick() every second or so.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/mount_table.h"
#include "platform/tree_watch.h"
#include "schedule/scheduler.h"
#include "sessions/session_document.h"
#include "sessions/trigger_options.h"

namespace qv::schedule {

inline constexpr int kTriggerTickSeconds = 1;
// How often roots that could not be watched (not there yet) are tried again, besides after
// every change of the mount table.
inline constexpr std::int64_t kTriggerRetrySeconds = 60;

// How the triggers start a run; the application's run service stands behind it.
class TriggerLauncher {
  public:
    virtual ~TriggerLauncher() = default;
    // A run is under way in this process, whoever started it.
    virtual bool IsCopying() const = 0;
    // The open document may start runs by itself.
    virtual bool DocumentTrusted() const = 0;
    // Starts the unattended run of a session, whose log tells `reason`. When refused, *why
    // says what stood in the way (another process's run, most often).
    virtual bool StartTriggerRun(std::int64_t session, const std::string& reason,
                                 std::string* why) = 0;
};

// Some session of the document has a trigger on.
bool IsTriggerOnInSomeSession(const sessions::SessionDocument& document);

class Triggers {
  public:
    // Seconds from any origin, never going back.
    using Clock = std::function<std::int64_t()>;

    Triggers(const sessions::SessionDocument& document, TriggerLauncher& launcher,
             platform::MountTableSource& mounts, platform::ChangeSource& changes, Clock clock = {});

    // Whose triggers are armed: every session's, or one's (as for the timers).
    void SetScope(const TimerScope& scope) { scope_ = scope; }
    // Nothing starts while this says false (an option panel is on screen); what is due waits.
    void SetMayFireCheck(std::function<bool()> check) { mayFire_ = std::move(check); }
    // Reads the sessions in scope again: which folders to watch and how. Call it whenever the
    // document, its trust or the scope changed. What a session waited for (changes not yet
    // run, its last run's start) is kept by its name.
    void Arm();
    // Nothing watched, nothing fires, until the next Arm().
    void Disarm();
    // Some session in scope has a trigger on (and the document is trusted).
    bool armed() const { return !watched_.empty(); }
    std::size_t sessionsArmed() const { return watched_.size(); }
    // One look: the mount table, the changes, then the run of the first session whose trigger
    // is due, unless something stands in the way. True when a run was started.
    bool Tick();
    // The run started last has concluded. What it changed in its own source (a Synchronize
    // copies into it, every run stamps dates) is no change of the user's and is dropped.
    void TriggerRunDone();
    bool triggerRunActive() const { return active_.has_value(); }
    // What was told once and not yet taken (a source watched by interval), for the front end.
    std::vector<std::string> TakeNotices();

  private:
    struct Watched {
        std::int64_t index = 0;
        std::string name;
        sessions::TriggerOptions options;
        std::vector<std::string> folders;    // whose volume appearing starts a run
        std::vector<std::int64_t> covering;  // the mount each lies on now (0 none)
        std::vector<std::string> sources;    // whose changes start a run
    };
    struct Appearance {
        std::string folder;
        std::int64_t mountId = 0;
        std::string mountPoint;
    };
    struct Memory {
        std::optional<Appearance> appeared;
        std::optional<std::int64_t> changedAt;  // the last change not yet run
        bool changesDue = false;                // quiet since then for the quiet time
        std::optional<std::int64_t> byIntervalSince;
        bool intervalDue = false;
        bool toldInterval = false;
        std::optional<std::int64_t> lastStart;  // of the last run a trigger started
    };
    enum class RootState { Watching, Missing, ByInterval };

    std::int64_t Now() const;
    void WatchRoots(const std::vector<std::string>& wanted);
    void LookAtMounts();
    void LookAtChanges(std::int64_t now, const std::string& dropFor);
    void RetryRoots(std::int64_t now);
    void WatchByInterval(const std::string& root, std::int64_t now);
    void Ripen(std::int64_t now);
    bool FireDue(std::int64_t now);
    // Why the session's run is due ("" when it is not).
    std::string DueReason(const Watched& w, Memory& m) const;

    const sessions::SessionDocument& document_;
    TriggerLauncher& launcher_;
    platform::MountTableSource& mounts_;
    platform::ChangeSource& changes_;
    Clock clock_;
    TimerScope scope_;
    std::function<bool()> mayFire_;

    std::vector<Watched> watched_;
    std::map<std::string, Memory, std::less<>> memory_;  // by session name
    std::map<std::string, RootState, std::less<>> roots_;
    std::vector<platform::MountRecord> table_;
    bool retryRoots_ = false;
    std::int64_t lastRetry_ = 0;
    std::optional<std::string> active_;  // the session whose triggered run goes on
    std::vector<std::string> notices_;
};

}  // namespace qv::schedule
