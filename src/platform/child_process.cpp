#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

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
    if (argv.empty() || pid_ > 0) {
        *error = argv.empty() ? "no program given" : "already started";
        return false;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), 1);
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

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(), environ);
    if (rc != 0) {
        *error = argv[0] + ": " + std::strerror(rc);
        return false;
    }
    writeEnd.reset(-1);
    ::fcntl(readEnd.get(), F_SETFL, ::fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);
    pid_ = pid;
    out_ = std::move(readEnd);
    cap_ = outputCap;
    return true;
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
    ReadAvailable();
    if (!Reap(false)) return false;
    // What it wrote just before it ended; a grandchild holding the pipe is not waited for.
    ReadAvailable();
    return true;
}

bool ChildProcess::Wait(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    constexpr int kSliceMs = 20;  // the child's end is not signalled on the pipe
    while (!Poll()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        const int slice = static_cast<int>(std::min<long long>(left, kSliceMs));
        if (out_.valid()) {
            pollfd p{out_.get(), POLLIN, 0};
            ::poll(&p, 1, slice);
        } else {
            ::usleep(static_cast<useconds_t>(slice) * 1000);
        }
    }
    return true;
}

void ChildProcess::Kill(int signal) {
    if (running()) ::kill(-pid_, signal);
}

void ChildProcess::Release() {
    pid_ = -1;
    out_.reset(-1);
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
