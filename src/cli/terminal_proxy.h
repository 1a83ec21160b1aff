#pragma once
// The questions of a run asked on a terminal: the "Replace File" question, the error policy's
// "skip and continue?" and the confirmation before a run, each rendered from the model the
// desktop dialogs show, with one-key answers; and the preview of the planned actions.

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

#include "cli/live_status.h"
#include "engine/are_you_sure.h"
#include "run/main_thread_proxy.h"

namespace qv::items {
class TWUtilities;
}

namespace qv::cli {

class TerminalProxy : public run::MainThreadProxy {
  public:
    TerminalProxy(std::istream& in, std::ostream& out);
    ~TerminalProxy() override;
    TerminalProxy(const TerminalProxy&) = delete;
    TerminalProxy& operator=(const TerminalProxy&) = delete;

    // Answers are read from this descriptor instead of the stream, with a wait that
    // CancelQuestions can end.
    void ReadFrom(int fd) { inputFd_ = fd; }
    // Any question waiting now, or asked from now on, is answered with Stop. Safe to call from
    // another thread.
    void CancelQuestions();
    // The preview is shown when the run asks for it; without this call the run goes on as if
    // the user had continued at once. sessionName names the tasks' sessions.
    void EnablePreview(const items::TWUtilities& tw,
                       std::function<std::string(std::int64_t)> sessionName);

    // The run's status line, cleared while a question or the preview is on the terminal.
    // Set by the main thread while the run's worker may already be asking questions.
    void SetStatus(LiveStatus* status) { status_.store(status); }

    bool ShowPreview(run::RunState& state) override;

    run::ConflictReply AskReplace(const run::ConflictQuestion& question) override;
    void ShowErrorAndStop(const std::string& title, const std::string& message) override;
    bool AskSkipAndContinue(const std::string& title, const std::string& message) override;
    ErrorAnswer AskAboutItemError(const std::string& title, const std::string& message) override;
    bool ConfirmDeletion(const std::string& message) override;

  private:
    // The next line typed; nothing at the end of the input, "q" once the questions are
    // cancelled.
    std::optional<std::string> ReadLine();
    // The first character of the next line typed, lower-cased; 0 at the end of the input.
    char ReadKey();
    // The error question, with or without the answer for every later error.
    ErrorAnswer Ask(const std::string& title, const std::string& message, bool offerAll);

    std::istream& in_;
    std::ostream& out_;
    std::mutex mutex_;
    int inputFd_ = -1;
    int cancelFd_ = -1;  // an eventfd, readable once the questions are cancelled
    const items::TWUtilities* previewTw_ = nullptr;
    std::function<std::string(std::int64_t)> sessionName_;
    std::atomic<LiveStatus*> status_{nullptr};
};

// Shows the confirmation and reads the answer: true for OK.
bool AskConfirmation(const engine::Confirmation& confirmation, std::istream& in, std::ostream& out);

}  // namespace qv::cli
