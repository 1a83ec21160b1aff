#include "cli/terminal_proxy.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "app/progress_meter.h"
#include "cli/terminal_preview.h"
#include "cli/terminal_text.h"
#include "fileops/replace_dialog.h"
#include "platform/localization.h"

namespace qv::cli {

using platform::GLS;

namespace {

char FirstKey(const std::string& line) {
    for (const char c : line) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return ' ';
}

bool IsDeleteCode(int conflict) {
    return conflict == 21 || conflict == 22 || conflict == 41 || conflict == 42;
}

}  // namespace

TerminalProxy::TerminalProxy(std::istream& in, std::ostream& out)
    : in_(in), out_(out), cancelFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TerminalProxy::~TerminalProxy() {
    if (cancelFd_ >= 0) ::close(cancelFd_);
}

void TerminalProxy::CancelQuestions() {
    const std::uint64_t one = 1;
    if (cancelFd_ >= 0) [[maybe_unused]]
        ssize_t n = ::write(cancelFd_, &one, sizeof one);
}

std::optional<std::string> TerminalProxy::ReadLine() {
    std::string line;
    if (inputFd_ < 0 || cancelFd_ < 0) {
        if (!std::getline(in_, line)) return std::nullopt;
        return line;
    }
    for (;;) {
        pollfd fds[2] = {{inputFd_, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (fds[1].revents != 0) return "q";
        char c = 0;
        const ssize_t n = ::read(inputFd_, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n') return line;
        line += c;
    }
}

char TerminalProxy::ReadKey() {
    const std::optional<std::string> line = ReadLine();
    return line ? FirstKey(*line) : 0;
}

void TerminalProxy::EnablePreview(const items::TWUtilities& tw,
                                  std::function<std::string(std::int64_t)> sessionName) {
    previewTw_ = &tw;
    sessionName_ = std::move(sessionName);
}

bool TerminalProxy::ShowPreview(run::RunState& state) {
    const LiveStatus::Pause pause(status_.load());
    std::lock_guard lock(mutex_);
    if (previewTw_ == nullptr) return true;
    out_ << "\n";
    TerminalPreview preview(state, *previewTw_, sessionName_, out_);
    return preview.Run([this] {
        std::optional<std::string> line = ReadLine();
        if (line && !line->empty() && line->back() == '\r') line->pop_back();
        return line;
    });
}

run::ConflictReply TerminalProxy::AskReplace(const run::ConflictQuestion& question) {
    const LiveStatus::Pause pause(status_.load());
    std::lock_guard lock(mutex_);
    fileops::ReplaceDialogModel m = fileops::BuildReplaceDialog(question);
    const bool copyBack = m.conflict == 41 || m.conflict == 42;
    const char okKey = IsDeleteCode(m.conflict) ? 'd' : 'r';
    const char skipKey = copyBack ? 'c' : 's';
    const bool showA = m.items != fileops::ReplaceItems::DestOnly;
    const bool showB = m.items != fileops::ReplaceItems::SourceOnly;
    auto facts = [](const std::string& date, const std::optional<std::uint64_t>& size) {
        return size ? date + "  " + GLS("Size:") + " " + app::HumanBytes(*size) : date;
    };
    // The whole question: told again, as it then stands, after a swap.
    const auto tell = [&] {
        out_ << "\n" << m.windowTitle << "\n" << ForTerminal(m.explanation) << "\n";
        if (showA) {
            out_ << "  A: " << TerminalName(m.sourcePath) << "\n     "
                 << facts(m.sourceModifDate, m.sourceSize) << "\n";
        }
        if (showB) {
            out_ << "  B: " << TerminalName(m.destPath) << "\n     "
                 << facts(m.destModifDate, m.destSize) << "\n";
        }
    };
    tell();
    for (;;) {
        if (!m.directionTooltip.empty()) out_ << "  " << m.directionTooltip << "\n";
        out_ << "[" << okKey << "] " << m.okTitle
             << (m.okTooltip.empty() ? "" : " (" + m.okTooltip + ")") << "   [" << skipKey << "] "
             << m.skipTitle << (m.skipTooltip.empty() ? "" : " (" + m.skipTooltip + ")");
        if (m.swapVisible) out_ << "   [w] " << GLS("Swap the direction");
        out_ << "   [q] " << GLS("Stop") << "? " << std::flush;
        const char key = ReadKey();
        int tag = 0;
        if (key == 0) {
            tag = fileops::kSkipButtonTag;  // no more input: the item is left as it is
        } else if (key == okKey) {
            tag = fileops::kReplaceButtonTag;
        } else if (key == skipKey) {
            tag = fileops::kSkipButtonTag;
        } else if (key == 'q') {
            tag = fileops::kStopButtonTag;
        } else if (key == 'w' && fileops::ChangeDirection(m)) {
            tell();
            continue;
        }
        if (tag != 0) return fileops::ReplyForButtonCode(fileops::ButtonCode(m, tag));
    }
}

void TerminalProxy::ShowErrorAndStop(const std::string& title, const std::string& message) {
    const LiveStatus::Pause pause(status_.load());
    std::lock_guard lock(mutex_);
    out_ << "\n" << title << " " << ForTerminal(message) << "\n";
}

bool TerminalProxy::AskSkipAndContinue(const std::string& title, const std::string& message) {
    return Ask(title, message, false) != ErrorAnswer::Stop;
}

run::MainThreadProxy::ErrorAnswer TerminalProxy::AskAboutItemError(const std::string& title,
                                                                   const std::string& message) {
    return Ask(title, message, true);
}

run::MainThreadProxy::ErrorAnswer TerminalProxy::Ask(const std::string& title,
                                                     const std::string& message, bool offerAll) {
    const LiveStatus::Pause pause(status_.load());
    std::lock_guard lock(mutex_);
    for (;;) {
        out_ << "\n" << title << " " << ForTerminal(message) << "\n[C] " << GLS("Continue");
        if (offerAll) out_ << "   [a] " << GLS("Continue and Don't Ask Again");
        out_ << "   [s] " << GLS("Stop") << "? " << std::flush;
        const char key = ReadKey();
        // Continue is the default; q: the questions were cancelled.
        if (key == 0 || key == ' ' || key == 'c') return ErrorAnswer::Skip;
        if (offerAll && key == 'a') return ErrorAnswer::SkipAll;
        if (key == 's' || key == 'q') return ErrorAnswer::Stop;
    }
}

bool TerminalProxy::ConfirmDeletion(const std::string& message) {
    const LiveStatus::Pause pause(status_.load());
    std::lock_guard lock(mutex_);
    out_ << "\n"
         << ForTerminal(message) << "\n[d] " << GLS("Delete") << "   [K] " << GLS("Keep") << "? "
         << std::flush;
    // Anything but d keeps everything: the end of the input, a stop, a stray key.
    return ReadKey() == 'd';
}

bool AskConfirmation(const engine::Confirmation& confirmation, std::istream& in,
                     std::ostream& out) {
    out << confirmation.title << " " << TerminalName(confirmation.message) << " [y] "
        << confirmation.okTitle << "   [N] " << confirmation.cancelTitle << "? " << std::flush;
    std::string line;
    return std::getline(in, line) && FirstKey(line) == 'y';
}

}  // namespace qv::cli
