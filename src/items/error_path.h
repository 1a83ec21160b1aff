#pragma once
// The one way every part of a run reports trouble: the message is assembled in mErrString,
// written to the task's detailed log, counted, and handed to the decision point that applies
// the user's error policy (go on, ask whether to skip and continue, or stop the run).
// Conflict questions reach the user through here too.

#include <initializer_list>
#include <string>
#include <string_view>

#include "run/main_thread_proxy.h"
#include "run/run_state.h"

namespace qv::items {

class ErrorPath {
  public:
    ErrorPath(run::RunState& state, run::MainThreadProxy& proxy) : state_(state), proxy_(proxy) {}

    // mErrString becomes the concatenation of the texts.
    void SetErrMsg(std::initializer_list<std::string_view> texts);
    // Appends to mErrString.
    void AppendErrMsg(std::initializer_list<std::string_view> texts);
    // Writes "√ " + mErrString + CR to the detailed log when the log kind asks for it.
    void LogErrString();
    // LogErrString, and the task's error count goes up: every error of a run is counted here.
    void LogAndCountError();
    // mErrString joins the list of the run's errors that its report shows.
    void ListError();
    // Logs and counts mErrString; in a run the user started, applies the policy (case 0: the
    // preference). True to go on.
    bool AddErrQuickly(int forceToCase);
    // Applies the policy to a message; false stops the run (mIsCopying is cleared).
    bool ManageTheError(const std::string& message, int forceToCase);
    // Asks about a conflict; never asks in a run the user did not start (the answer is then
    // skip). A Stop answer stops the run.
    run::ConflictReply AskReplace(const run::ConflictQuestion& question);

    run::RunState& state() { return state_; }
    run::MainThreadProxy& proxy() { return proxy_; }

  private:
    run::RunState& state_;
    run::MainThreadProxy& proxy_;
};

}  // namespace qv::items
