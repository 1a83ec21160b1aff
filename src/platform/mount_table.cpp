#include "platform/mount_table.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/volumes.h"

namespace qv::platform {

std::vector<MountRecord> ParseMountTable(std::string_view mountinfo) {
    std::vector<MountRecord> mounts;
    while (!mountinfo.empty()) {
        const std::size_t end = mountinfo.find('\n');
        std::string_view line = mountinfo.substr(0, end);
        mountinfo.remove_prefix(end == std::string_view::npos ? mountinfo.size() : end + 1);
        // "id parent major:minor root mountpoint options ..."; the fields hold no blank.
        std::string_view fields[5];
        std::size_t found = 0;
        while (found < 5 && !line.empty()) {
            const std::size_t blank = line.find(' ');
            fields[found++] = line.substr(0, blank);
            line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
        }
        if (found < 5 || fields[0].empty()) continue;
        MountRecord record;
        bool number = true;
        for (char c : fields[0]) {
            number = number && c >= '0' && c <= '9';
            record.id = record.id * 10 + (c - '0');
        }
        if (!number) continue;
        record.mountPoint = UnescapeMountField(std::string(fields[4]));
        mounts.push_back(std::move(record));
    }
    return mounts;
}

const MountRecord* MountCovering(const std::vector<MountRecord>& mounts, std::string_view path) {
    const MountRecord* best = nullptr;
    for (const MountRecord& m : mounts) {
        const std::string_view point = m.mountPoint;
        const bool covers = point == "/"
                                ? !path.empty() && path.front() == '/'
                                : path.substr(0, point.size()) == point &&
                                      (path.size() == point.size() || path[point.size()] == '/');
        // Later lines are mounted over earlier ones at the same place.
        if (covers && (best == nullptr || point.size() >= best->mountPoint.size())) best = &m;
    }
    return best;
}

SystemMountTable::SystemMountTable(std::string path)
    : path_(std::move(path)), fd_(::open(path_.c_str(), O_RDONLY | O_CLOEXEC)) {}

std::vector<MountRecord> SystemMountTable::Read() {
    if (!fd_.valid() || ::lseek(fd_.get(), 0, SEEK_SET) != 0) return {};
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {};
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return ParseMountTable(text);
}

bool SystemMountTable::Changed() {
    if (!fd_.valid()) return false;
    pollfd p{fd_.get(), POLLPRI, 0};
    // The kernel reports a change once per poll of this open file: asking is taking it.
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)) != 0;
}

}  // namespace qv::platform
