#pragma once
// The proxy of a run nobody watches (a timer's or a trigger's): conflicts that would ask are
// skipped, errors do not stop the run, and mass deletions are refused.

#include "run/main_thread_proxy.h"

namespace qv::app {

class UnattendedProxy : public run::MainThreadProxy {
  public:
    run::ConflictReply AskReplace(const run::ConflictQuestion&) override {
        return {run::ConflictAnswer::Skip, false};
    }
    void ShowErrorAndStop(const std::string&, const std::string&) override {}
    bool AskSkipAndContinue(const std::string&, const std::string&) override { return true; }
    bool ConfirmDeletion(const std::string&) override { return false; }
};

}  // namespace qv::app
