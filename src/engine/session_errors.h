#pragma once
// Errors of a session's own steps (its scripts, its volumes), which belong to none of its
// tasks: logged, counted in the session (a task's count starts again with each task), listed
// for the report and put to the error policy. The run takes them into the session's record.

#include <cstdint>
#include <map>
#include <string>

#include "items/error_path.h"
#include "run/run_state.h"

namespace qv::engine {

class SessionErrors {
  public:
    SessionErrors(run::RunState& state, items::ErrorPath& errors)
        : state_(state), errors_(errors) {}

    void Clear() { sessions_.clear(); }
    // The message, without a final full stop, becomes an error of the session (count errors,
    // said once).
    void Record(std::int64_t sessionIndex, std::string message, std::int64_t count = 1);
    // A line of the detailed log about the session's steps, not an error.
    void Note(std::int64_t sessionIndex, const std::string& line);
    std::int64_t CountOf(std::int64_t sessionIndex) const;
    // The session's errors and their lines for the log, taken once.
    std::int64_t Take(std::int64_t sessionIndex, std::string* logText);
    // Those of sessions whose record was never made, taken once.
    std::int64_t TakeRemaining();

  private:
    struct Errors {
        std::int64_t count = 0;
        std::string logText;
    };
    run::RunState& state_;
    items::ErrorPath& errors_;
    std::map<std::int64_t, Errors> sessions_;
};

}  // namespace qv::engine
