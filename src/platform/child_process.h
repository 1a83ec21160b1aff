#pragma once
// A program started with an argument list (never through a shell), in a process group of its
// own, with its standard output captured up to a cap. Polled from an event loop or waited for;
// killed with its whole group and reaped when the object goes, unless released.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"

namespace qv::platform {

// Output beyond this many bytes is read and dropped, so that a chatty child never blocks.
inline constexpr std::size_t kDefaultOutputCap = 64 * 1024;

// How a child is started besides its argument list.
struct ChildOptions {
    std::string input;          // written to its standard input, then closed; empty: /dev/null
    std::string workingFolder;  // empty: ours
    // Set in its environment on top of ours (replacing a variable of the same name). Names and
    // values are passed as bytes: a newline or bytes that are not UTF-8 reach it as they are.
    std::vector<std::pair<std::string, std::string>> environment;
    bool captureErrors = false;  // its standard error too, interleaved with its output
    std::size_t outputCap = kDefaultOutputCap;
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (looked up in PATH when it holds no "/") with argv; standard input is
    // /dev/null, standard error is ours. False, with *error, when it could not be started.
    bool Start(const std::vector<std::string>& argv, std::string* error,
               std::size_t outputCap = kDefaultOutputCap);
    bool Start(const std::vector<std::string>& argv, const ChildOptions& options,
               std::string* error);

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
    void WriteInput();
    bool Reap(bool block);

    pid_t pid_ = -1;
    UniqueFd out_;
    UniqueFd in_;
    UniqueFd pidFd_;  // readable once the child has ended (none on an old kernel)
    std::string input_;
    std::size_t inputWritten_ = 0;
    std::size_t cap_ = kDefaultOutputCap;
    std::string output_;
    bool truncated_ = false;
    bool ended_ = false;
    int exitCode_ = -1;
    int termSignal_ = 0;
};

// What a child that was run to its end came to.
struct ChildResult {
    std::string startError;  // it could not be started: why
    int exitCode = -1;       // -1 when it was ended by a signal
    int termSignal = 0;
    std::string output;
    bool truncated = false;
    bool timedOut = false;  // ended by us at its deadline
    bool stopped = false;   // ended by us because the stop flag was raised
    bool ok() const { return startError.empty() && exitCode == 0 && !timedOut && !stopped; }
};

struct ChildRequest {
    std::vector<std::string> argv;
    ChildOptions options;
    std::chrono::milliseconds deadline{0};  // 0: none
    const std::atomic<bool>* stop = nullptr;
    std::chrono::milliseconds killGrace{3000};  // from SIGTERM to SIGKILL
};

// Runs children to their end. At the deadline, or once the stop flag is raised, the child's
// whole group gets SIGTERM, and SIGKILL when it has not ended within the request's grace. Tests put
// a fake in its place.
class ChildRunner {
  public:
    virtual ~ChildRunner() = default;
    virtual ChildResult Run(const ChildRequest& request) = 0;
};

// The one that starts real processes.
ChildRunner& SystemChildRunner();

// Whether path is a regular file this process may execute.
bool IsExecutableFile(const std::string& path);
// The running program's own file, "" when it cannot be told.
std::string OwnExecutablePath();

}  // namespace qv::platform
