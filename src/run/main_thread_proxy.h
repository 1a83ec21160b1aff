#pragma once
// MainThreadProxy: the one way a run's worker thread reaches the front end. Every call blocks
// the worker until the front end has answered; the GUI performs it on its main thread, the CLI
// answers directly, tests script the answers.

#include <cstdint>
#include <optional>
#include <string>

namespace qv::run {

struct RunState;

// A conflict the scan found, as the "Replace File" question shows it.
struct ConflictQuestion {
    std::string source;          // A path
    std::string dest;            // B path
    std::optional<double> date;  // the reference date shown, seconds since 1970 UTC
    int copyMode = 0;            // the planned action
    int conflict = 0;            // 11, 12, 21, 22, 31, 41, 42, 51 or 52
    bool isSync = false;
    bool canChangeDirection = false;
    std::int64_t folderItems = -1;  // codes 51 and 52: the items the folder holds, all levels
};

enum class ConflictAnswer { Proceed, Skip, Stop };

struct ConflictReply {
    ConflictAnswer answer = ConflictAnswer::Skip;
    bool changeDirection = false;  // the user swapped the direction (codes 31, 51, 52)
};

class MainThreadProxy {
  public:
    virtual ~MainThreadProxy() = default;

    // ---- Hooks around the levels of a run; the run state is already up to date ----
    virtual void PurgeBeforeWholeSyncBackup(const RunState&) {}
    virtual void PurgeBeforeScanOneSession(const RunState&, std::int64_t /*sessionIndex*/) {}
    // The preview of the planned actions; false when the user stopped there.
    virtual bool ShowPreview(RunState&) { return true; }
    virtual void PurgeBeforeMainCopy(const RunState&) {}
    virtual void ConcludeWholeSyncBackup(const RunState&) {}
    virtual void SchedulingTimerDone(const RunState&) {}
    // Progress of the scan: called now and then, never once per item.
    virtual void ScanProgress(const RunState&) {}
    // The ExactSync index of a task is being rebuilt ("Creating Exact Sync Index…").
    virtual void DisplayExactSyncToConsole() {}

    // ---- Questions; only asked in a run the user started ----
    virtual ConflictReply AskReplace(const ConflictQuestion& question) = 0;
    // Error policy 1: show the message; the run stops.
    virtual void ShowErrorAndStop(const std::string& title, const std::string& message) = 0;
    // Error policy 3: true to skip and continue, false to stop.
    virtual bool AskSkipAndContinue(const std::string& title, const std::string& message) = 0;
    // The same, for an error of the run's items, with a third answer: skip this one and every
    // later one of the run without asking (a read-only destination fails item after item).
    enum class ErrorAnswer { Stop, Skip, SkipAll };
    virtual ErrorAnswer AskAboutItemError(const std::string& title, const std::string& message) {
        return AskSkipAndContinue(title, message) ? ErrorAnswer::Skip : ErrorAnswer::Stop;
    }
    // Before a mass deletion: true to delete, false (the default answer) to keep everything.
    virtual bool ConfirmDeletion(const std::string& message) = 0;
};

}  // namespace qv::run
