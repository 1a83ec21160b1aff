#pragma once
// One run at a time across processes: the window, the command and the scheduler each take an
// advisory lock (flock) on one file before a run, so that two runs never work on the same
// folders and index at once. The holder writes who it is into the file, for the refusal.

#include <optional>
#include <string>

#include "platform/support_paths.h"
#include "platform/unique_fd.h"

namespace qv::platform {

inline constexpr const char* kRunLockFileName = "run.lock";

class RunLock {
  public:
    // Takes the lock without waiting. On refusal, *heldBy says who holds it ("quorvel-gui,
    // process 1234"; empty when the holder has not written it yet); on another failure
    // *error says why. fileName names another lock of the same kind (the window's).
    static std::optional<RunLock> TryAcquire(const std::string& folder, const std::string& holder,
                                             std::string* heldBy, std::string* error,
                                             const char* fileName = kRunLockFileName);
    RunLock(RunLock&&) noexcept = default;
    RunLock& operator=(RunLock&&) noexcept = default;

  private:
    explicit RunLock(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;  // closing it releases the lock
};

// Where the run and scheduler locks live: the support folder, which follows from the home
// folder alone. The desktop, cron, a systemd unit and a root instance started for the user all
// derive the same one, whatever else their environments hold, so that they take one lock.
std::string RunLockFolder(const SupportPaths& paths);
// The user's runtime folder for the window's socket: $XDG_RUNTIME_DIR/quorvel when that is set
// (and absolute); without it, /run/user/<uid>/quorvel when that folder is the user's own;
// otherwise the support folder.
std::string RuntimeFolder(const SupportPaths& paths);

}  // namespace qv::platform
