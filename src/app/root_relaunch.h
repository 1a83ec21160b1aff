#pragma once
// Starting this program again with root permissions through a launcher that asks for the
// administrator's password (pkexec), and telling apart how that went: the new instance up,
// the password dialog dismissed, or the permission refused.

#include <memory>
#include <string>
#include <vector>

#include "platform/child_process.h"

namespace qv::app {

// The argument that tells the new instance it was started to run as root, and the line it
// prints on standard output once it is up.
inline constexpr const char* kSetUidRootArgument = "--setuidroot";
inline constexpr const char* kRootReadyLine = "quorvel-gui: running as root";

class RootRelaunch {
  public:
    enum class Status { Pending, Started, Cancelled, Denied, NotFound };

    explicit RootRelaunch(std::vector<std::string> launcher = {"pkexec"});

    // Runs `launcher... executable --setuidroot`. NotFound (nothing started) when executable
    // is not an executable file; Denied when the launcher cannot be started; else Pending.
    Status Start(const std::string& executable);
    // Without blocking: Started once the new instance printed its ready line (it then carries
    // on on its own); Cancelled when the launcher ended with 126 (the dialog was dismissed);
    // Denied for any other end before the ready line.
    Status Poll();
    Status status() const { return status_; }

    // The running program's own file, "" when it cannot be told.
    static std::string OwnExecutable();

  private:
    std::vector<std::string> launcher_;
    std::unique_ptr<platform::ChildProcess> child_;
    Status status_ = Status::NotFound;
};

}  // namespace qv::app
