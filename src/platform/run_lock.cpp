#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file_io.h"
#include "platform/privileges.h"

namespace qv::platform {

namespace {
constexpr std::size_t kMaxHolderText = 256;
}

std::optional<RunLock> RunLock::TryAcquire(const std::string& folder, const std::string& holder,
                                           std::string* heldBy, std::string* error,
                                           const char* fileName) {
    heldBy->clear();
    error->clear();
    std::string why;
    if (!IsExistingFolder(folder) && !CreateFolderWithFoldersInBetween(folder, &why)) {
        *error = why;
        return std::nullopt;
    }
    const std::string path = JoinPath(folder, fileName);
    // No O_TRUNC: the holder's text must survive a refused open. CLOEXEC, so that scripts and
    // tools a run starts do not keep the lock after the run.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        *error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    // Made by a root instance for a user: the user's own runs must still be able to open it.
    GiveCreatedFile(fd.get());
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            *error = path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        char text[kMaxHolderText];
        const ssize_t n = ::pread(fd.get(), text, sizeof text, 0);
        if (n > 0) heldBy->assign(text, static_cast<std::size_t>(n));
        while (!heldBy->empty() && (heldBy->back() == '\n' || heldBy->back() == '\0')) {
            heldBy->pop_back();
        }
        return std::nullopt;
    }
    const std::string text = holder + "\n";
    if (::ftruncate(fd.get(), 0) != 0 ||
        ::pwrite(fd.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        // The lock is held all the same; only the refusal of another run says less.
    }
    return RunLock(std::move(fd));
}

namespace {

// /run/user/<uid>/quorvel when that folder is the user's own and private.
std::optional<std::string> UsualRuntimeFolder(uid_t uid) {
    const std::string usual = "/run/user/" + std::to_string(uid);
    struct stat st {};
    if (::lstat(usual.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
        (st.st_mode & 077) == 0) {
        return JoinPath(usual, "quorvel");
    }
    return std::nullopt;
}

}  // namespace

std::string RunLockFolder(const SupportPaths& paths) { return paths.pathQV4AppSupp; }

std::string RuntimeFolder(const SupportPaths& paths) {
    // A root instance started for a user shares that user's lock: its runs work on the same
    // documents and indexes as the user's own.
    if (const std::optional<InvokingUserInfo> user = InvokingUser()) {
        if (std::optional<std::string> folder = UsualRuntimeFolder(user->uid)) return *folder;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return JoinPath(runtime, "quorvel");
    // Sessions without the variable: the folder it names in a desktop session of the user.
    if (std::optional<std::string> folder = UsualRuntimeFolder(::geteuid())) return *folder;
    return paths.pathQV4AppSupp;
}

}  // namespace qv::platform
