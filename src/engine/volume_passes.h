#pragma once
// The volumes of a session's list mounted before it is scanned and, after the run, those this
// run mounted unmounted again. A volume the user had mounted before stays mounted. Failures are
// errors of the session; a folder on a volume that failed to mount is reported as such by the
// task's checks, and nothing is copied into the empty folder standing for it.

#include <cstdint>
#include <map>
#include <vector>

#include "engine/session_errors.h"
#include "engine/volume_mount.h"
#include "platform/child_process.h"
#include "run/run_state.h"
#include "sessions/session_document.h"

namespace qv::engine {

class VolumePasses {
  public:
    VolumePasses(run::RunState& state, SessionErrors& errors,
                 const sessions::SessionDocument& document, platform::ChildRunner& runner)
        : state_(state), errors_(errors), document_(document), runner_(runner) {}

    // For a run: how to mount; planOnly: nothing is mounted, a volume that is not mounted is
    // only noted as such.
    void Prepare(const MountSetting& setting, bool planOnly);
    void MountAllVolumesForSession(std::int64_t sessionIndex);
    void UnmountAllVolumesForSession(std::int64_t sessionIndex);

  private:
    run::RunState& state_;
    SessionErrors& errors_;
    const sessions::SessionDocument& document_;
    platform::ChildRunner& runner_;
    MountSetting setting_;
    bool planOnly_ = false;
    std::map<std::int64_t, std::vector<MountedVolume>> mounted_;  // by this run, to unmount
};

}  // namespace qv::engine
