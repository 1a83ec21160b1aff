#include "platform/privileges.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/unique_fd.h"

namespace qv::platform {

namespace {

struct Owner {
    bool set = false;
    uid_t uid = 0;
    gid_t gid = 0;
};
Owner gOwner;  // set once at start-up, before any thread

std::optional<uid_t> ParseUid(const char* text) {
    if (text == nullptr || *text == '\0') return std::nullopt;
    unsigned long value = 0;
    const char* end = text + std::char_traits<char>::length(text);
    const auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return static_cast<uid_t>(value);
}

}  // namespace

bool RunningAsRoot() { return ::geteuid() == 0; }

std::optional<InvokingUserInfo> InvokingUser() {
    if (!RunningAsRoot()) return std::nullopt;
    std::optional<uid_t> uid = ParseUid(std::getenv("PKEXEC_UID"));
    if (!uid) uid = ParseUid(std::getenv("SUDO_UID"));
    if (!uid || *uid == 0) return std::nullopt;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(*uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return std::nullopt;
    }
    return InvokingUserInfo{found->pw_uid, found->pw_gid, found->pw_dir};
}

void SetOwnerOfCreatedFiles(uid_t uid, gid_t gid) { gOwner = {true, uid, gid}; }

void ClearOwnerOfCreatedFiles() { gOwner = {}; }

void GiveCreatedItem(const std::string& path) {
    if (!gOwner.set) return;
    // A failure leaves root's item, which root itself can still use.
    [[maybe_unused]] const int rc = ::lchown(path.c_str(), gOwner.uid, gOwner.gid);
}

void GiveCreatedFile(int fd) {
    if (!gOwner.set) return;
    [[maybe_unused]] const int rc = ::fchown(fd, gOwner.uid, gOwner.gid);
}

void AnnounceOnStandardOutput(std::string_view line) {
    ::signal(SIGPIPE, SIG_IGN);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (null.valid()) ::dup2(null.get(), STDOUT_FILENO);
}

}  // namespace qv::platform
