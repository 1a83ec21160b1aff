#pragma once
// A program started with an argument list (never through a shell), in a process group of its
// own, with its standard output captured up to a cap. Polled from an event loop or waited for;
// killed with its whole group and reaped when the object goes, unless released.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace qv::platform {

class ChildProcess {
  public:
    // Output beyond this many bytes is read and dropped, so that a chatty child never blocks.
    static constexpr std::size_t kDefaultOutputCap = 64 * 1024;

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (looked up in PATH when it holds no "/") with argv; standard input is
    // /dev/null, standard error is ours. False, with *error, when it could not be started.
    bool Start(const std::vector<std::string>& argv, std::string* error,
               std::size_t outputCap = kDefaultOutputCap);

    // Reads what output is there and notes an end, without blocking. True once it has ended.
    bool Poll();
    // Blocks until it ends or timeoutMs pass. True once it has ended.
    bool Wait(int timeoutMs);
    // Sends signal to the whole group while it has not been reaped.
    void Kill(int signal = 9);
    // Forgets the child without killing it: it carries on when this object goes.
    void Release();

    bool running() const { return pid_ > 0 && !ended_; }
    bool ended() const { return ended_; }
    // The exit status once ended normally; -1 when it was ended by a signal.
    int exitCode() const { return exitCode_; }
    int termSignal() const { return termSignal_; }
    const std::string& output() const { return output_; }
    bool outputTruncated() const { return truncated_; }

  private:
    void ReadAvailable();
    bool Reap(bool block);

    pid_t pid_ = -1;
    UniqueFd out_;
    std::size_t cap_ = kDefaultOutputCap;
    std::string output_;
    bool truncated_ = false;
    bool ended_ = false;
    int exitCode_ = -1;
    int termSignal_ = 0;
};

// Whether path is a regular file this process may execute.
bool IsExecutableFile(const std::string& path);
// The running program's own file, "" when it cannot be told.
std::string OwnExecutablePath();

}  // namespace qv::platform
