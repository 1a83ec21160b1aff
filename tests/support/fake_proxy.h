#pragma once
// A scripted MainThreadProxy: it answers conflict questions from a queue (or a function),
// answers "skip and continue?" as told, and records every question, every error message and
// the hook calls it counts, so that a test can check what the user would have been asked.
//
// Hooks and questions arrive on the run's thread; read the records once the run has ended.

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "run/main_thread_proxy.h"
#include "run/run_state.h"

namespace qv::test {

// The hooks a test counts; the others keep the proxy's default.
enum class Hook {
    PurgeBeforeScanOneSession,
    ShowPreview,
    PurgeBeforeMainCopy,
    ConcludeWholeSyncBackup,
    SchedulingTimerDone,
};

inline run::ConflictReply Proceed() { return {run::ConflictAnswer::Proceed, false}; }
inline run::ConflictReply ProceedSwapped() { return {run::ConflictAnswer::Proceed, true}; }
inline run::ConflictReply Skip() { return {run::ConflictAnswer::Skip, false}; }
inline run::ConflictReply Stop() { return {run::ConflictAnswer::Stop, false}; }

class FakeProxy : public run::MainThreadProxy {
  public:
    // Replies given in order, one per question; once they are used up, `answerer` replies,
    // and without one the answer is Skip.
    std::deque<run::ConflictReply> replies;
    std::function<run::ConflictReply(const run::ConflictQuestion&)> answerer;
    // The answer to "skip and continue?" (error policy 3).
    bool skipAndContinue = true;
    // The answer of the preview.
    bool previewGoesOn = true;
    // Called on every hook, after it was counted (for example to stop the run there).
    std::function<void(Hook)> onHook;

    std::vector<run::ConflictQuestion> questions() const {
        std::lock_guard lock(mutex_);
        return questions_;
    }
    std::vector<int> conflictCodes() const {
        std::vector<int> codes;
        for (const auto& q : questions()) codes.push_back(q.conflict);
        return codes;
    }
    // The messages of ShowErrorAndStop and AskSkipAndContinue, in order.
    std::vector<std::string> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    int calls(Hook hook) const {
        std::lock_guard lock(mutex_);
        const auto it = hookCalls_.find(hook);
        return it == hookCalls_.end() ? 0 : it->second;
    }

    void PurgeBeforeScanOneSession(const run::RunState&, std::int64_t) override {
        Called(Hook::PurgeBeforeScanOneSession);
    }
    bool ShowPreview(run::RunState&) override {
        Called(Hook::ShowPreview);
        return previewGoesOn;
    }
    void PurgeBeforeMainCopy(const run::RunState&) override { Called(Hook::PurgeBeforeMainCopy); }
    void ConcludeWholeSyncBackup(const run::RunState&) override {
        Called(Hook::ConcludeWholeSyncBackup);
    }
    void SchedulingTimerDone(const run::RunState&) override { Called(Hook::SchedulingTimerDone); }

    run::ConflictReply AskReplace(const run::ConflictQuestion& question) override {
        run::ConflictReply reply = Skip();
        bool fromQueue = false;
        {
            std::lock_guard lock(mutex_);
            questions_.push_back(question);
            if (!replies.empty()) {
                reply = replies.front();
                replies.pop_front();
                fromQueue = true;
            }
        }
        if (!fromQueue && answerer) reply = answerer(question);
        return reply;
    }
    void ShowErrorAndStop(const std::string&, const std::string& message) override {
        std::lock_guard lock(mutex_);
        errors_.push_back(message);
    }
    bool AskSkipAndContinue(const std::string&, const std::string& message) override {
        std::lock_guard lock(mutex_);
        errors_.push_back(message);
        return skipAndContinue;
    }
    // The answer to an item's error when set, else skipAndContinue's.
    std::optional<ErrorAnswer> itemErrorAnswer;
    ErrorAnswer AskAboutItemError(const std::string& title, const std::string& message) override {
        if (!itemErrorAnswer) return MainThreadProxy::AskAboutItemError(title, message);
        std::lock_guard lock(mutex_);
        errors_.push_back(message);
        return *itemErrorAnswer;
    }
    // The answer to a mass deletion's confirmation, and the messages it was asked with.
    bool confirmDeletion = false;
    std::vector<std::string> deletionQuestions() const {
        std::lock_guard lock(mutex_);
        return deletionQuestions_;
    }
    bool ConfirmDeletion(const std::string& message) override {
        std::lock_guard lock(mutex_);
        deletionQuestions_.push_back(message);
        return confirmDeletion;
    }

  private:
    void Called(Hook hook) {
        {
            std::lock_guard lock(mutex_);
            ++hookCalls_[hook];
        }
        if (onHook) onHook(hook);
    }

    mutable std::mutex mutex_;
    std::vector<run::ConflictQuestion> questions_;
    std::vector<std::string> errors_;
    std::vector<std::string> deletionQuestions_;
    std::map<Hook, int> hookCalls_;
};

}  // namespace qv::test
