#pragma once
// What the run asks of the copy executor: perform the planned-actions trees of the run.

#include <vector>

#include "run/run_state.h"

namespace qv::engine {

class CopyExecutor {
  public:
    virtual ~CopyExecutor() = default;
    // Performs the task root list; calls nothing when the list is empty.
    virtual void MainCopy(run::RunState& state) = 0;
};

// Performs nothing: a run with it only plans.
class NoCopyExecutor : public CopyExecutor {
  public:
    void MainCopy(run::RunState&) override {}
};

}  // namespace qv::engine
