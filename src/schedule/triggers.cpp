#include "schedule/triggers.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <utility>

#include "platform/localization.h"
#include "sessions/multi_options.h"

namespace qv::schedule {

using platform::FormatText;
using platform::GLS;

namespace {

void AddPath(std::vector<std::string>* paths, std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    // Only absolute paths name a place; the empty folder of an unset side names none.
    if (path.empty() || path.front() != '/') return;
    if (std::find(paths->begin(), paths->end(), path) == paths->end()) {
        paths->push_back(std::move(path));
    }
}

// The folders whose volume appearing starts the session: its two folders (or the pairs of its
// multiple list, which it runs instead), and the mount points of the volumes it mounts.
std::vector<std::string> MountFolders(const plist::Value& session) {
    std::vector<std::string> folders;
    const plist::Value* multi = session.dictAt("multiDict");
    if (multi != nullptr && multi->intAt("multiOn") == 1) {
        for (const sessions::MultiPair& pair : sessions::CountMultiValid(session)) {
            AddPath(&folders, pair.source);
            AddPath(&folders, pair.destination);
        }
    } else if (const plist::Value* console = session.dictAt("consoleDict")) {
        AddPath(&folders, console->stringAt("topFolder"));
        AddPath(&folders, console->stringAt("bottomFolder"));
    }
    const plist::Value* volumes = session.dictAt("autoMountDict");
    const plist::Value* rows = volumes ? volumes->arrayAt("autoMountVolumeArray") : nullptr;
    if (rows != nullptr && volumes->intAt("autoMountVolumeOn") == 1) {
        for (const plist::Value& row : rows->array()) {
            if (row.intAt("onOff") == 1) AddPath(&folders, row.stringAt("mountPoint"));
        }
    }
    return folders;
}

// The trees whose changes start the session: its source A, or the sources of its multiple
// list. A Synchronize session is watched on its A side only: a change made on B alone waits
// for the next run started otherwise.
std::vector<std::string> SourceTrees(const plist::Value& session) {
    std::vector<std::string> sources;
    const plist::Value* multi = session.dictAt("multiDict");
    if (multi != nullptr && multi->intAt("multiOn") == 1) {
        for (const sessions::MultiPair& pair : sessions::CountMultiValid(session)) {
            AddPath(&sources, pair.source);
        }
    } else if (const plist::Value* console = session.dictAt("consoleDict")) {
        AddPath(&sources, console->stringAt("topFolder"));
    }
    return sources;
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

bool IsTriggerOnInSomeSession(const sessions::SessionDocument& document) {
    for (std::int64_t i = 0; i < document.SessionCount(); ++i) {
        if (sessions::SessionTriggerOptions(document.GetSessionDict(i)).any()) return true;
    }
    return false;
}

Triggers::Triggers(const sessions::SessionDocument& document, TriggerLauncher& launcher,
                   platform::MountTableSource& mounts, platform::ChangeSource& changes, Clock clock)
    : document_(document),
      launcher_(launcher),
      mounts_(mounts),
      changes_(changes),
      clock_(std::move(clock)) {}

std::int64_t Triggers::Now() const {
    if (clock_) return clock_();
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Triggers::Arm() {
    watched_.clear();
    // A document the user has not trusted watches nothing: none of its sessions may run
    // by itself, and its folders are none of our business until then.
    const bool trusted = launcher_.DocumentTrusted();
    for (std::int64_t i = 0; trusted && i < document_.SessionCount(); ++i) {
        if (!scope_.allSessions && i != scope_.sessionIndex) continue;
        const plist::Value* session = document_.GetSessionDict(i);
        const sessions::TriggerOptions options = sessions::SessionTriggerOptions(session);
        if (!options.any()) continue;
        Watched w;
        w.index = i;
        w.name = document_.GetSessionName(i);
        w.options = options;
        if (options.onMount) w.folders = MountFolders(*session);
        if (options.onChange) w.sources = SourceTrees(*session);
        watched_.push_back(std::move(w));
    }
    // The volumes mounted now are where the folders are: only what appears later fires.
    table_ = mounts_.Read();
    for (Watched& w : watched_) {
        for (const std::string& folder : w.folders) {
            const platform::MountRecord* m = platform::MountCovering(table_, folder);
            w.covering.push_back(m != nullptr ? m->id : 0);
        }
    }
    std::vector<std::string> wanted;
    for (const Watched& w : watched_) {
        for (const std::string& source : w.sources) AddPath(&wanted, source);
    }
    WatchRoots(wanted);
}

void Triggers::Disarm() {
    watched_.clear();
    WatchRoots({});
}

void Triggers::WatchRoots(const std::vector<std::string>& wanted) {
    for (auto it = roots_.begin(); it != roots_.end();) {
        if (Has(wanted, it->first)) {
            ++it;
            continue;
        }
        if (it->second == RootState::Watching) changes_.Unwatch(it->first);
        it = roots_.erase(it);
    }
    for (const std::string& root : wanted) {
        if (roots_.find(root) == roots_.end()) roots_[root] = RootState::Missing;
    }
    retryRoots_ = true;
    RetryRoots(Now());
}

void Triggers::RetryRoots(std::int64_t now) {
    if (!retryRoots_ && now - lastRetry_ < kTriggerRetrySeconds) return;
    retryRoots_ = false;
    lastRetry_ = now;
    for (auto& [root, state] : roots_) {
        if (state != RootState::Missing) continue;
        const platform::WatchStatus status = changes_.Watch(root);
        if (status == platform::WatchStatus::Watching) state = RootState::Watching;
        if (status == platform::WatchStatus::LimitReached ||
            status == platform::WatchStatus::Failed) {
            WatchByInterval(root, now);
        }
    }
}

void Triggers::WatchByInterval(const std::string& root, std::int64_t now) {
    roots_[root] = RootState::ByInterval;
    for (const Watched& w : watched_) {
        if (!Has(w.sources, root)) continue;
        Memory& m = memory_[w.name];
        if (!m.byIntervalSince) m.byIntervalSince = now;
        if (m.toldInterval) continue;
        m.toldInterval = true;
        notices_.push_back(FormatText(
            GLS("\"%@\": its source cannot be watched for changes (the system's limit of "
                "watched folders, fs.inotify.max_user_watches, is reached): it is run every "
                "%@ minutes instead, as if it had changed."),
            {w.name, std::to_string(w.options.minMinutes)}));
    }
}

bool Triggers::Tick() {
    if (watched_.empty()) return false;
    const std::int64_t now = Now();
    LookAtMounts();
    LookAtChanges(now, active_.value_or(std::string()));
    RetryRoots(now);
    Ripen(now);
    return FireDue(now);
}

void Triggers::LookAtMounts() {
    if (!mounts_.Changed()) return;
    std::set<std::int64_t> before;
    for (const platform::MountRecord& m : table_) before.insert(m.id);
    table_ = mounts_.Read();
    // A root on a volume that just came may be there now.
    retryRoots_ = true;
    for (Watched& w : watched_) {
        for (std::size_t i = 0; i < w.folders.size(); ++i) {
            const platform::MountRecord* m = platform::MountCovering(table_, w.folders[i]);
            const std::int64_t id = m != nullptr ? m->id : 0;
            const bool appeared = id != 0 && id != w.covering[i] && before.count(id) == 0;
            w.covering[i] = id;
            // What the session's own run mounts is no reason to run it again.
            if (appeared && active_ != w.name) {
                memory_[w.name].appeared = Appearance{w.folders[i], id, m->mountPoint};
            }
        }
    }
}

void Triggers::LookAtChanges(std::int64_t now, const std::string& dropFor) {
    const platform::ChangeNews news = changes_.Poll();
    for (const std::string& root : news.lost) {
        const auto it = roots_.find(root);
        if (it != roots_.end()) it->second = RootState::Missing;
    }
    for (const std::string& root : news.limited) WatchByInterval(root, now);
    for (const std::string& root : news.changed) {
        for (const Watched& w : watched_) {
            if (w.name == dropFor || !Has(w.sources, root)) continue;
            memory_[w.name].changedAt = now;
        }
    }
}

void Triggers::Ripen(std::int64_t now) {
    for (const Watched& w : watched_) {
        if (!w.options.onChange) continue;
        Memory& m = memory_[w.name];
        if (m.changedAt && now - *m.changedAt >= w.options.quietSeconds) {
            m.changesDue = true;
            m.changedAt.reset();
        }
        if (m.byIntervalSince && now - *m.byIntervalSince >= w.options.minMinutes * 60) {
            m.intervalDue = true;
            m.byIntervalSince = now;
        }
    }
}

std::string Triggers::DueReason(const Watched& w, Memory& m) const {
    // A volume that went again before the run could start (the run of another session
    // mounted and unmounted it, or it was unplugged) is no reason any more.
    if (m.appeared) {
        const platform::MountRecord* now = platform::MountCovering(table_, m.appeared->folder);
        if (now == nullptr || now->id != m.appeared->mountId) m.appeared.reset();
    }
    std::vector<std::string> reasons;
    if (m.appeared) {
        reasons.push_back(FormatText(GLS("volume %@ appeared"), {m.appeared->mountPoint}));
    }
    if (m.changesDue) reasons.push_back(GLS("changes in the source"));
    if (m.intervalDue) {
        reasons.push_back(FormatText(GLS("the source may have changed (checked every %@ minutes)"),
                                     {std::to_string(w.options.minMinutes)}));
    }
    std::string text;
    for (const std::string& reason : reasons) text += (text.empty() ? "" : "; ") + reason;
    return text;
}

bool Triggers::FireDue(std::int64_t now) {
    // What is due waits for the run going on, or for the console to be on screen.
    if (active_ || launcher_.IsCopying() || (mayFire_ && !mayFire_())) return false;
    const bool trusted = launcher_.DocumentTrusted();
    for (const Watched& w : watched_) {
        Memory& m = memory_[w.name];
        const std::string reason = DueReason(w, m);
        if (reason.empty()) continue;
        if (!trusted) {
            m = Memory{};
            continue;
        }
        if (m.lastStart && now - *m.lastStart < w.options.minMinutes * 60) continue;
        std::string why;
        // Refused (another process runs): tried again at the next look.
        if (!launcher_.StartTriggerRun(w.index, reason, &why)) return false;
        m.lastStart = now;
        m.appeared.reset();
        m.changesDue = m.intervalDue = false;
        active_ = w.name;
        return true;
    }
    return false;
}

void Triggers::TriggerRunDone() {
    if (!active_) return;
    // The run has ended: what it did to its own source is all in the news by now.
    LookAtChanges(Now(), *active_);
    active_.reset();
}

std::vector<std::string> Triggers::TakeNotices() { return std::exchange(notices_, {}); }

}  // namespace qv::schedule
