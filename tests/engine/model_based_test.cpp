// Random work on both sides of a pair between random runs (Synchronize and Exact Synchronize,
// under the policies of a new session and under the policies that skip every conflict, some
// stopped and some killed part-way). After each run, every version the user wrote and neither
// deleted nor replaced is still on one side or the other; and an Exact Synchronize that ended
// cleanly after another one leaves the two sides alike, with nothing the user deleted or replaced
// since on one side brought back from the other.
//
// A few hundred steps run under a fixed seed; QV_MBT_SEED (first seed) and QV_MBT_STEPS (steps
// per seed), with QV_MBT_SEEDS (how many seeds), run longer probes. QV_MBT_TRACE adds to a
// failure's story what each run started from and what its log said.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <tuple>

#include "engine/exact_sync_index_store.h"
#include "engine/run_engine.h"
#include "fileops/executor.h"
#include "items/temporary_names.h"
#include "platform/file_system.h"
#include "sessions/conflict_options.h"
#include "sessions/plist_codec.h"
#include "sessions/settings_options.h"
#include "support/fake_proxy.h"
#include "support/faulty_file_system.h"
#include "support/tree_fixture.h"

namespace qv::engine {
namespace {

namespace fs = std::filesystem;

const char* const kPaths[] = {"a", "b", "A", "d", "d/a", "d/b", "d/A"};

class Model {
  public:
    // skipping: the session skips every conflict; otherwise it has a new session's policies.
    Model(std::uint64_t seed, bool skipping)
        : rng_(seed),
          skipping_(skipping),
          doc_(test::TwoFolderDocument(tree_.a(), tree_.b(), sessions::kTaskSynchronize)) {
        test::SetOption(doc_, 0, "settingsDict", "settResolveSymLink", 0);
        // The pair has been synchronized once, empty: a first run of two full folders lets
        // the newer item win everywhere, as it always did.
        fs::create_directories(tree_.a());
        fs::create_directories(tree_.b());
        RunEngine first(doc_, prefs_, proxy_, index_, executor_, tw_);
        first.ExecuteSyncBackup();
    }

    // One step: work on one side, or a run. A failure describes the loss and how it came.
    std::optional<std::string> Step() {
        if (Pick(4) == 0) return Run();
        const int side = Pick(2);
        Edit(side);
        return std::nullopt;
    }

  private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::string Side(int side) const { return side == 0 ? tree_.a() : tree_.b(); }
    std::string At(int side, const std::string& path) const { return Side(side) + "/" + path; }
    std::string NewVersion() { return "v" + std::to_string(++versions_); }

    // Every version held below the item: a file's content, a link's target.
    static void Versions(const std::string& item, std::set<std::string>& into) {
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(item, ec);
        if (ec || !fs::exists(st)) return;
        if (fs::is_symlink(st)) {
            into.insert(fs::read_symlink(item, ec).string());
        } else if (fs::is_regular_file(st)) {
            into.insert(test::ReadText(item));
        } else if (fs::is_directory(st)) {
            for (const auto& e : fs::directory_iterator(item, ec)) Versions(e.path(), into);
        }
    }
    void Kill(const std::string& item) {
        std::set<std::string> gone;
        Versions(item, gone);
        for (const std::string& v : gone) {
            alive_.erase(v);
            const int side = item.compare(0, tree_.a().size(), tree_.a()) == 0 ? 0 : 1;
            killed_.insert({side, item.substr(tree_.a().size() + 1), v});  // A, B: one size
        }
    }
    // The model's clock, in nanoseconds: edits come seconds apart, as edits by hand do, and a
    // run starts a second after the last edit and takes a second. It never falls behind the
    // real clock, which dates what the runs make.
    std::int64_t Now(std::int64_t seconds) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        last_ = std::max<std::int64_t>(last_ + seconds * 1'000'000'000 + Pick(1000) * 1000,
                                       std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec);
        return last_;
    }
    // Every item and folder an edit changes is dated by the model's clock.
    void Stamp(const std::string& item) {
        const std::int64_t ns = last_ = Now(0) + 1000;
        const timespec t{ns / 1'000'000'000, ns % 1'000'000'000};
        const timespec times[2] = {t, t};
        ASSERT_EQ(::utimensat(AT_FDCWD, item.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    void Write(const std::string& item) {
        const std::string v = NewVersion();
        test::WriteText(item, v);
        Stamp(item);
        alive_.insert(v);
    }
    void Note(const std::string& what) {
        history_.push_back(what);
        if (history_.size() > 60) history_.pop_front();
    }

    void Edit(int side) {
        Now(1 + Pick(3));
        const std::string p = kPaths[Pick(7)];
        const std::string item = At(side, p);
        const std::string parent = fs::path(item).parent_path();
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(item, ec);
        const bool exists = fs::exists(st), isDir = fs::is_directory(st);
        const bool isLink = fs::is_symlink(st);
        if (!fs::is_directory(fs::symlink_status(parent, ec))) {
            if (fs::exists(fs::symlink_status(parent, ec))) return;  // below a file
            fs::create_directories(parent);
            Touch(side, p.substr(0, p.find('/')));
        }
        const char* const sides[] = {"A", "B"};
        std::string what = std::string(sides[side]) + ": ";
        switch (Pick(7)) {
            case 0:  // write (a new file, or a file changed in place)
                if (isDir) return;
                if (isLink) {
                    Kill(item);
                    fs::remove(item);
                }
                Kill(item);
                Write(item);
                what += "write " + p;
                break;
            case 1:  // delete
                if (!exists) return;
                Kill(item);
                fs::remove_all(item);
                what += "delete " + p;
                break;
            case 2:    // mv -f onto another name, or a case-only rename
            case 3: {  // (the item keeps its date)
                if (!exists || isDir) return;
                std::string q = kPaths[Pick(7)];
                if (Pick(2) == 0 && p.back() == 'a') q = p.substr(0, p.size() - 1) + "A";
                const std::string to = At(side, q);
                if (q == p || fs::is_directory(fs::symlink_status(to, ec))) return;
                if (!fs::is_directory(fs::symlink_status(fs::path(to).parent_path(), ec))) return;
                Kill(to);
                Versions(item, moved_);
                fs::rename(item, to);
                Touch(side, q);
                what += "mv -f " + p + " " + q;
                break;
            }
            case 4:  // a file becomes a folder
                if (!exists || isDir || p.find('/') != std::string::npos) return;
                Kill(item);
                fs::remove(item);
                fs::create_directory(item);
                Write(item + "/a");
                what += "file to folder " + p;
                break;
            case 5:  // a folder becomes a file
                if (!isDir) return;
                Kill(item);
                fs::remove_all(item);
                Write(item);
                what += "folder to file " + p;
                break;
            case 6: {  // a file becomes a link, or a link a file
                if (!exists || isDir) return;
                Kill(item);
                fs::remove(item);
                if (isLink) {
                    Write(item);
                } else {
                    const std::string v = NewVersion();
                    fs::create_symlink(v, item);
                    Stamp(item);
                    alive_.insert(v);
                }
                what += isLink ? "link to file " + p : "file to link " + p;
                break;
            }
        }
        Touch(side, p);
        Note(what + " (v" + std::to_string(versions_) + ")");
    }

    // The item at path changed on that side: it and the folder it is in are dated now.
    void Touch(int side, const std::string& path) {
        touched_[side].insert(path);
        std::error_code ec;
        if (fs::is_directory(fs::symlink_status(At(side, path), ec))) Stamp(At(side, path));
        if (path.find('/') != std::string::npos) Stamp(fs::path(At(side, path)).parent_path());
    }

    // What both sides hold at a path, to tell whether the run left it in step.
    std::string Describe(int side, const std::string& path) const {
        std::error_code ec;
        const std::string item = At(side, path);
        const fs::file_status st = fs::symlink_status(item, ec);
        if (!fs::exists(st)) return "-";
        if (fs::is_symlink(st)) return "L" + fs::read_symlink(item, ec).string();
        if (fs::is_regular_file(st)) return "F" + test::ReadText(item);
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(item, ec)) {
            names.insert(e.path().filename().string());
        }
        std::string out = "D";
        for (const std::string& n : names) {
            // What a run leaves under a temporary name (marked) the next run clears away.
            if (!items::IsTemporaryName(n)) out += "(" + n + Describe(side, path + "/" + n) + ")";
        }
        return out;
    }
    static bool Related(const std::string& x, const std::string& y) {
        const auto under = [](const std::string& p, const std::string& q) {
            return p == q ||
                   (p.size() > q.size() && p.compare(0, q.size(), q) == 0 && p[q.size()] == '/');
        };
        return under(x, y) || under(y, x);
    }

    // What a run starts from, for QV_MBT_TRACE: the paths changed on each side since they were
    // last in step, the dates of the items, and the conflicts the index keeps.
    std::string Trace() const {
        std::string what;
        for (int side : {0, 1}) {
            what += side == 0 ? " [touched A:" : " B:";
            for (const std::string& t : touched_[side]) what += " " + t;
        }
        what += "]";
        for (int side : {0, 1}) {
            what += side == 0 ? " [times A:" : " B:";
            for (const char* p : kPaths) {
                struct stat st {};
                if (::lstat(At(side, p).c_str(), &st) == 0) {
                    what += std::string(" ") + p + "=" + std::to_string(st.st_mtim.tv_sec % 1000) +
                            "." + std::to_string(st.st_mtim.tv_nsec);
                }
            }
        }
        what += "]";
        const plist::ReadResult pair =
            plist::ReadFile(support_ / "ExactSync Indexes" + "/" + kExactSyncPairIndexName);
        if (pair.value && pair.value->arrayAt(kSkippedConflictsKey)) {
            what += " [left:";
            for (const plist::Value& v : pair.value->arrayAt(kSkippedConflictsKey)->array()) {
                what += " " + v.str().substr(v.str().rfind('/'));
            }
            what += "]";
        }
        return what;
    }

    std::optional<std::string> Run() {
        const bool exact = Pick(10) < 7;
        const bool skipping = skipping_;
        // 0: stopped part-way, 1: killed part-way, 2: a step fails, 3: the user saves a
        // file while the run copies.
        const int ending = Pick(12);
        const int at = 1 + Pick(25);
        test::SetOption(doc_, 0, "settingsDict", "settExact", exact ? 1 : 0);
        const plist::Value policies = sessions::DefaultConflictsDict();
        doc_.GetSessionDict(0)->set("conflictsDict", policies);
        if (skipping) {
            test::SetOption(doc_, 0, "conflictsDict", "conflictSyncRadio", 1);
            test::SetOption(doc_, 0, "conflictsDict", "conflictExactSyncRadio", 1);
            test::SetOption(doc_, 0, "conflictsDict", "conflictFileFolderRadio", 2);
        }
        // Under the policies of a new session, a change made on both sides of the same item
        // since the last run may go to the newer one: that is the user's choice of policy. The
        // older one may then live on in a leftover of a run stopped or killed, until a run
        // that ends clears it away.
        std::set<std::string>& atRisk = atRisk_;
        if (!skipping) {
            for (const std::string& x : touched_[0]) {
                for (const std::string& y : touched_[1]) {
                    if (!Related(x, y)) continue;
                    for (int side : {0, 1}) {
                        Versions(At(side, x), atRisk);
                        Versions(At(side, y), atRisk);
                    }
                }
            }
        }
        // Without the index's records, the newer date wins: a file renamed over a newer one
        // (mv -f keeps its date) may be replaced by the other side's, as it always was.
        ExactSyncIndexStore probe(support_ / "ExactSync Indexes");
        const bool indexed =
            exact && probe.ExactSyncFileExists({tree_.a(), tree_.b(), true, false}, true);
        if (!indexed) atRisk.insert(moved_.begin(), moved_.end());
        // A version put back where it was deleted (moved there again) is the user's again.
        std::erase_if(killed_, [&](const auto& k) {
            std::set<std::string> there;
            Versions(At(std::get<0>(k), std::get<1>(k)), there);
            return there.count(std::get<2>(k)) != 0;
        });
        std::string what = exact ? "Exact Synchronize" : "Synchronize";
        if (std::getenv("QV_MBT_TRACE")) what += Trace();
        if (ending == 0) what += ", stopped at call " + std::to_string(at);
        if (ending == 1) what += ", killed at call " + std::to_string(at);
        if (ending == 2) what += ", failing call " + std::to_string(at);
        if (ending == 3) what += ", with an edit while it copies";
        Note(what);

        // The at-th call that changes something on disk stops the run, kills it or fails.
        test::FaultyFileSystem calls;
        const auto atCall = [&](int error, std::function<void()> act) {
            calls.Add({test::Sys::change, error, "", at - 1, 1, {}, std::move(act)});
        };
        std::optional<RunEngine> engine;
        RunOptions options;
        options.startTime = Now(1) / 1'000'000'000;
        Now(1);
        const auto run = [&] {
            const platform::ScopedFileSystem installed(calls);
            engine.emplace(doc_, prefs_, proxy_, index_, executor_, tw_, options);
            engine->ExecuteSyncBackup();
        };
        if (ending == 1) {
            const pid_t child = ::fork();
            if (child == 0) {
                atCall(0, [] { ::_exit(9); });
                run();
                ::_exit(0);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
        } else {
            if (ending == 0) atCall(0, [&] { engine->Stop(); });
            if (ending == 2) atCall(EIO, {});
            if (ending == 3) {
                proxy_.onHook = [&](test::Hook hook) {
                    if (hook == test::Hook::PurgeBeforeMainCopy) Edit(Pick(2));
                };
            }
            run();
            proxy_.onHook = nullptr;
        }

        std::string log;
        if (engine && !engine->state().logSessionArray.empty()) {
            for (const auto& task : engine->state().logSessionArray[0].logTaskArray) {
                log += task.gDetailedLogText;
            }
        }
        if (std::getenv("QV_MBT_TRACE")) {
            std::string shown = log;
            std::replace(shown.begin(), shown.end(), '\r', ' ');
            std::replace(shown.begin(), shown.end(), '\n', ' ');
            if (engine) {
                shown += " [stopped " + std::to_string(engine->state().mUserPressedStop.load()) +
                         ", conflicts " +
                         std::to_string(engine->state().totals.gGlobalConflictsSkipped) + "]";
            }
            Note("    log: " + shown);
        }
        std::set<std::string> present;
        Versions(tree_.a(), present);
        Versions(tree_.b(), present);
        std::string lost;
        for (auto it = alive_.begin(); it != alive_.end();) {
            if (present.count(*it) != 0) {
                ++it;
            } else if (atRisk.count(*it) != 0) {
                it = alive_.erase(it);
            } else {
                lost += " " + *it;
                it = alive_.erase(it);
            }
        }
        // A run on the index's word that ended cleanly, after one that did, carried every
        // change over: the sides are alike, and nothing deleted or replaced since has come back.
        std::string wrong;
        const bool clean = (ending == 2 || ending > 3) && engine &&
                           engine->state().totals.gGlobalError == 0 &&
                           engine->state().totals.gGlobalConflictsSkipped == 0;
        if (settled_ && indexed && clean) {
            for (const auto& [side, path, v] : killed_) {
                // Changed on the other side too, within the same top item: the policies decide.
                const auto related = [&](const std::string& t) {
                    return t.substr(0, t.find('/')) == path.substr(0, path.find('/'));
                };
                if (std::any_of(touched_[1 - side].begin(), touched_[1 - side].end(), related)) {
                    continue;
                }
                std::set<std::string> there;
                Versions(At(0, path), there);
                Versions(At(1, path), there);
                if (there.count(v) != 0) wrong += " " + v + " at " + path;
            }
            if (!wrong.empty()) wrong = "came back:" + wrong + "\n";
            if (Describe(0, "") != Describe(1, "")) wrong += "the sides differ\n";
        }
        settled_ = exact && clean;
        killed_.clear();
        if (ending > 1 && engine && engine->state().totals.gGlobalError == 0) {
            atRisk.clear();
            moved_.clear();
        }
        // What the run left in step (the item and the folders on its way) is no change since
        // the last run any more.
        for (int side : {0, 1}) {
            std::erase_if(touched_[side], [&](const std::string& p) {
                const std::string top = p.substr(0, p.find('/'));
                return Describe(0, top) == Describe(1, top);
            });
        }
        if (lost.empty() && wrong.empty()) return std::nullopt;
        std::string story = wrong + "lost:" + lost + "\nat risk:";
        for (const std::string& v : atRisk) story += " " + v;
        story += "\nafter:";
        for (const std::string& h : history_) story += "\n  " + h;
        story += "\nA: " + Describe(0, "") + "\nB: " + Describe(1, "");
        std::replace(log.begin(), log.end(), '\r', '\n');
        story += "\nthe last run's log:\n" + log;
        return story;
    }

    std::mt19937_64 rng_;
    bool skipping_;
    test::TreeFixture tree_;
    test::TempDir support_;
    sessions::SessionDocument doc_;
    plist::Value prefs_ = plist::Dict{{"prefOnError", 2}, {"prefConfirmEmptySideDeletion", 0}};
    test::FakeProxy proxy_;
    items::TWUtilities tw_;
    fileops::RunExecutor executor_{proxy_, tw_};
    ExactSyncIndexStore index_{support_ / "ExactSync Indexes"};
    int versions_ = 0;
    std::int64_t last_ = 0;
    std::set<std::string> alive_;
    std::set<std::string> atRisk_;
    std::set<std::string> moved_;  // versions renamed since the last run that ended
    // Versions deleted or replaced at a path on a side since the last run.
    std::set<std::tuple<int, std::string, std::string>> killed_;
    bool settled_ = false;  // the last run was an exact one that ended cleanly
    std::set<std::string> touched_[2];
    std::deque<std::string> history_;
};

long Setting(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

TEST(ModelBasedTest, NoVersionTheUserKeptIsEverLostOnBothSides) {
    const long first = Setting("QV_MBT_SEED", 1);
    const long seeds = Setting("QV_MBT_SEEDS", 8);
    const long steps = Setting("QV_MBT_STEPS", 150);
    long clean = 0;
    for (long seed = first; seed < first + seeds; ++seed) {
        // A user keeps a session's policies: half the seeds skip conflicts.
        Model model(static_cast<std::uint64_t>(seed), seed % 2 == 1);
        for (long step = 1; step <= steps; ++step) {
            if (auto failure = model.Step()) {
                FAIL() << "seed " << seed
                       << (seed % 2 == 1 ? " (skipping conflicts)" : " (a new session's policies)")
                       << ", step " << step << " (" << clean
                       << " steps clean before): " << *failure;
            }
            ++clean;
        }
    }
    RecordProperty("steps", static_cast<int>(clean));
}

}  // namespace
}  // namespace qv::engine
