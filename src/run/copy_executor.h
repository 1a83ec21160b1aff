#pragma once
// What a run asks of the copy executor, and the run hooks the executor calls around each task
// and session it performs.

#include <cstdint>

#include "run/run_state.h"

namespace qv::run {

class CopyHooks {
  public:
    virtual ~CopyHooks() = default;
    virtual void PurgeBeforeScanAndCopyOneSession(std::int64_t sessionIndex) = 0;
    virtual void PurgeBeforeCopyOneTask() = 0;
    virtual void PurgeAfterCopyOneTask(TaskLog& task) = 0;
    virtual void PurgeAfterCopyOneSession(std::int64_t sessionIndex) = 0;
};

class CopyExecutor {
  public:
    virtual ~CopyExecutor() = default;
    // Performs the task root list of the run, task by task in the order of the log record.
    virtual void MainCopy(RunState& state, CopyHooks& hooks) = 0;
};

// Performs nothing: a run with it only plans.
class NoCopyExecutor : public CopyExecutor {
  public:
    void MainCopy(RunState&, CopyHooks&) override {}
};

}  // namespace qv::run
