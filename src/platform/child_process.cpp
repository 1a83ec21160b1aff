#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

extern char** environ;

namespace qv::platform {

namespace {

// posix_spawn's attribute and file-action objects, destroyed whatever happens.
struct SpawnSetup {
    posix_spawnattr_t attr{};
    posix_spawn_file_actions_t actions{};
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

ChildProcess::~ChildProcess() {
    if (running()) {
        Kill();
        Reap(true);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string* error,
                         std::size_t outputCap) {
    ChildOptions options;
    options.outputCap = outputCap;
    return Start(argv, options, error);
}

namespace {

// Our environment with the given variables set on top.
std::vector<std::string> EnvironmentWith(
    const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::string> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const std::string_view name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [n, v] : extra) replaced = replaced || n == name;
        if (!replaced) entries.emplace_back(entry);
    }
    for (const auto& [name, value] : extra) entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

bool Pipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& argv, const ChildOptions& options,
                         std::string* error) {
    if (argv.empty() || pid_ > 0) {
        *error = argv.empty() ? "no program given" : "already started";
        return false;
    }
    UniqueFd readEnd, writeEnd, inputRead, inputWrite;
    if (!Pipe(readEnd, writeEnd) || (!options.input.empty() && !Pipe(inputRead, inputWrite))) {
        *error = std::strerror(errno);
        return false;
    }
    SpawnSetup setup;
    if (inputRead.valid()) {
        posix_spawn_file_actions_adddup2(&setup.actions, inputRead.get(), 0);
    } else {
        posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), 1);
    if (options.captureErrors) posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), 2);
    if (!options.workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&setup.actions, options.workingFolder.c_str());
    }
    // Our own signal settings are no business of the child's: a GUI ignores SIGPIPE, and a
    // tool that inherited that would not end when its reader goes.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    posix_spawnattr_setflags(
        &setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args = Pointers(argv);
    std::vector<std::string> environment;
    if (!options.environment.empty()) environment = EnvironmentWith(options.environment);
    std::vector<char*> envp = Pointers(environment);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(),
                                  options.environment.empty() ? environ : envp.data());
    if (rc != 0) {
        *error = argv[0] + ": " + std::strerror(rc);
        return false;
    }
    writeEnd.reset(-1);
    SetNonBlocking(readEnd.get());
    pid_ = pid;
    pidFd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    out_ = std::move(readEnd);
    cap_ = options.outputCap;
    if (inputWrite.valid()) {
        SetNonBlocking(inputWrite.get());
        in_ = std::move(inputWrite);
        input_ = options.input;
        WriteInput();
    }
    return true;
}

void ChildProcess::WriteInput() {
    // A child that closes its input early must not end us with SIGPIPE: it is held back on
    // this thread while writing, and one raised by the write is taken away again.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    bool broken = false;
    while (in_.valid() && inputWritten_ < input_.size()) {
        const ssize_t n =
            ::write(in_.get(), input_.data() + inputWritten_, input_.size() - inputWritten_);
        if (n > 0) {
            inputWritten_ += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            broken = n < 0 && errno != EAGAIN;
            break;
        }
    }
    if (broken) {
        const timespec now{0, 0};
        while (::sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (broken || inputWritten_ == input_.size()) {
        in_.reset(-1);
        std::string().swap(input_);
    }
}

void ChildProcess::ReadAvailable() {
    char buffer[4096];
    while (out_.valid()) {
        const ssize_t n = ::read(out_.get(), buffer, sizeof buffer);
        if (n > 0) {
            const std::size_t room = cap_ - std::min(cap_, output_.size());
            const std::size_t kept = std::min(room, static_cast<std::size_t>(n));
            output_.append(buffer, kept);
            truncated_ = truncated_ || kept < static_cast<std::size_t>(n);
        } else if (n == 0) {
            out_.reset(-1);  // every writer has gone
        } else if (errno != EINTR) {
            return;  // EAGAIN: nothing more for now
        }
    }
}

bool ChildProcess::Reap(bool block) {
    if (ended_ || pid_ <= 0) return ended_;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    ended_ = true;
    if (r > 0 && WIFEXITED(status)) {
        exitCode_ = WEXITSTATUS(status);
    } else if (r > 0 && WIFSIGNALED(status)) {
        termSignal_ = WTERMSIG(status);
    }
    return true;
}

bool ChildProcess::Poll() {
    if (in_.valid()) WriteInput();
    ReadAvailable();
    if (!Reap(false)) return false;
    // What it wrote just before it ended; a grandchild holding the pipe is not waited for.
    ReadAvailable();
    return true;
}

bool ChildProcess::Wait(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    constexpr int kSliceMs = 20;
    while (!Poll()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        const int slice = static_cast<int>(std::min<long long>(left, kSliceMs));
        // The child's end wakes the wait through its pidfd; without one, the slice does.
        pollfd p[3] = {{out_.get(), POLLIN, 0}, {in_.get(), POLLOUT, 0}, {pidFd_.get(), POLLIN, 0}};
        ::poll(p, 3, slice);
    }
    return true;
}

void ChildProcess::Kill(int signal) {
    if (running()) ::kill(-pid_, signal);
}

void ChildProcess::Release() {
    pid_ = -1;
    pidFd_.reset(-1);
    out_.reset(-1);
    in_.reset(-1);
}

namespace {

class SystemRunner final : public ChildRunner {
  public:
    ChildResult Run(const ChildRequest& request) override {
        using Clock = std::chrono::steady_clock;
        constexpr int kSliceMs = 100;  // how soon a Stop is seen
        ChildResult result;
        ChildProcess child;
        if (!child.Start(request.argv, request.options, &result.startError)) return result;
        const Clock::time_point started = Clock::now();
        while (!child.Wait(kSliceMs)) {
            result.stopped = request.stop != nullptr && request.stop->load();
            result.timedOut = !result.stopped && request.deadline.count() > 0 &&
                              Clock::now() - started >= request.deadline;
            if (!result.stopped && !result.timedOut) continue;
            child.Kill(SIGTERM);
            if (!child.Wait(static_cast<int>(request.killGrace.count()))) {
                child.Kill(SIGKILL);
                // A child stuck in the kernel is left behind rather than waited for forever.
                if (!child.Wait(10000)) child.Release();
            }
            break;
        }
        result.exitCode = child.exitCode();
        result.termSignal = child.termSignal();
        result.output = child.output();
        result.truncated = child.outputTruncated();
        return result;
    }
};

}  // namespace

ChildRunner& SystemChildRunner() {
    static SystemRunner runner;
    return runner;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string OwnExecutablePath() {
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return {};
    path.resize(static_cast<std::size_t>(n));
    return path;
}

}  // namespace qv::platform
