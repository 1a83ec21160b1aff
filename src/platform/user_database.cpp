#include "platform/user_database.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace qv::platform {

namespace {

constexpr std::size_t kFirstBuffer = 4096;
constexpr std::size_t kLargestBuffer = 1u << 20;

// Calls a reentrant look-up, growing its buffer while it says it is too small.
template <typename Entry, typename Lookup>
bool Ask(Lookup lookup, Entry& entry, std::vector<char>& buffer) {
    buffer.resize(kFirstBuffer);
    Entry* found = nullptr;
    int err = 0;
    while ((err = lookup(&entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < kLargestBuffer) {
        buffer.resize(buffer.size() * 2);
    }
    return err == 0 && found != nullptr;
}

}  // namespace

std::optional<uid_t> UserIdOfName(const std::string& name) {
    if (name.empty()) return std::nullopt;
    passwd entry{};
    std::vector<char> buffer;
    const auto byName = [&](passwd* e, char* b, std::size_t n, passwd** r) {
        return ::getpwnam_r(name.c_str(), e, b, n, r);
    };
    if (!Ask(byName, entry, buffer)) return std::nullopt;
    const uid_t uid = entry.pw_uid;
    passwd canonical{};
    std::vector<char> buffer2;
    const auto byId = [&](passwd* e, char* b, std::size_t n, passwd** r) {
        return ::getpwuid_r(uid, e, b, n, r);
    };
    if (!Ask(byId, canonical, buffer2) || canonical.pw_name == nullptr ||
        name != canonical.pw_name) {
        return std::nullopt;
    }
    return uid;
}

std::optional<gid_t> GroupIdOfName(const std::string& name) {
    if (name.empty()) return std::nullopt;
    group entry{};
    std::vector<char> buffer;
    const auto byName = [&](group* e, char* b, std::size_t n, group** r) {
        return ::getgrnam_r(name.c_str(), e, b, n, r);
    };
    if (!Ask(byName, entry, buffer)) return std::nullopt;
    const gid_t gid = entry.gr_gid;
    group canonical{};
    std::vector<char> buffer2;
    const auto byId = [&](group* e, char* b, std::size_t n, group** r) {
        return ::getgrgid_r(gid, e, b, n, r);
    };
    if (!Ask(byId, canonical, buffer2) || canonical.gr_name == nullptr ||
        name != canonical.gr_name) {
        return std::nullopt;
    }
    return gid;
}

std::string LoginName() {
    passwd entry{};
    std::vector<char> buffer;
    const uid_t uid = ::getuid();
    if (!Ask<passwd>([uid](passwd* e, char* b, std::size_t n,
                           passwd** f) { return ::getpwuid_r(uid, e, b, n, f); },
                     entry, buffer)) {
        return {};
    }
    return entry.pw_name;
}

}  // namespace qv::platform
