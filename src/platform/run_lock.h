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

// $XDG_RUNTIME_DIR/quorvel when that is set (and absolute); without it, /run/user/<uid>/quorvel
// when that folder is the user's own (cron on a desktop machine takes the desktop's lock);
// otherwise the support folder.
std::string RunLockFolder(const SupportPaths& paths);

}  // namespace qv::platform
