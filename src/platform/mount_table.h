#pragma once
// The mount table as this process sees it, and a way to learn that it changed without reading
// it again and again: the kernel marks /proc/self/mountinfo with POLLPRI and POLLERR after
// every mount or unmount.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace qv::platform {

// One mount: the kernel's identifier (never reused while the system runs, so a volume mounted
// again is a new mount) and where it is mounted.
struct MountRecord {
    std::int64_t id = 0;
    std::string mountPoint;
};

class MountTableSource {
  public:
    virtual ~MountTableSource() = default;
    // The mounts as they are now, in the table's order; none when the table cannot be read.
    virtual std::vector<MountRecord> Read() = 0;
    // Whether the table changed since this was last asked; never waits.
    virtual bool Changed() = 0;
};

// The records of a mountinfo text; lines that cannot be read are left out.
std::vector<MountRecord> ParseMountTable(std::string_view mountinfo);

// Of the mounts, the one a path lies on: the last one mounted at the longest mount point that
// is the path or a folder above it (by their spelling: the path is not resolved). Null when
// none is (a relative path).
const MountRecord* MountCovering(const std::vector<MountRecord>& mounts, std::string_view path);

class SystemMountTable : public MountTableSource {
  public:
    explicit SystemMountTable(std::string path = "/proc/self/mountinfo");
    std::vector<MountRecord> Read() override;
    bool Changed() override;

  private:
    std::string path_;
    UniqueFd fd_;  // kept open: the change marks belong to the open file
};

}  // namespace qv::platform
