#pragma once
// The scripts sessions run before they are scanned and after they are copied. They are checked
// once as the run is prepared, run on the run's thread with the session's facts in the
// environment, and every failure is an error of its session: logged, counted in the session's
// line and the run's total, and put to the error policy. A script never stops the run.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/session_errors.h"
#include "platform/child_process.h"
#include "run/run_state.h"
#include "sessions/script_options.h"
#include "sessions/session_document.h"

namespace qv::engine {

class SessionHooks {
  public:
    SessionHooks(run::RunState& state, SessionErrors& errors,
                 const sessions::SessionDocument& document, platform::ChildRunner& runner)
        : state_(state), errors_(errors), document_(document), runner_(runner) {}

    // Checks the switched-on scripts of the sessions in scope (in document order) and keeps
    // those that pass. runAsRoot: a run with root privileges runs only the scripts of a
    // document that no other user can have written.
    void Compile(const std::vector<std::int64_t>& sessions, std::chrono::seconds timeout,
                 bool runAsRoot, uid_t invokingUser);
    // Just before the session is scanned.
    void RunBefore(std::int64_t sessionIndex);
    // After the session's copy, or at the end of a run that never reached it. errors: the
    // session's count so far; stopped: the run did not carry the session through.
    void RunAfter(std::int64_t sessionIndex, std::int64_t errors, bool stopped);
    // Ends an after-script run after a Stop (a second Stop).
    void StopAfterScripts() { afterStop_ = true; }
    // Sessions whose before-script ran and whose after-script has not run yet.
    std::vector<std::int64_t> AfterScriptsOwed() const;

  private:
    struct Entry {
        std::string before;  // empty: none to run
        std::string after;
        bool beforeRan = false;
        bool afterRan = false;
    };

    run::RunState& state_;
    SessionErrors& errors_;
    const sessions::SessionDocument& document_;
    platform::ChildRunner& runner_;
    std::chrono::seconds timeout_{0};
    std::map<std::int64_t, Entry> entries_;
    std::atomic<bool> afterStop_{false};
};

}  // namespace qv::engine
