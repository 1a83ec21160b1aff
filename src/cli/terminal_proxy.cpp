#include "cli/terminal_proxy.h"

#include <cctype>
#include <istream>
#include <ostream>
#include <string>

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

char TerminalProxy::ReadKey() {
    std::string line;
    if (!std::getline(in_, line)) return 0;
    return FirstKey(line);
}

run::ConflictReply TerminalProxy::AskReplace(const run::ConflictQuestion& question) {
    std::lock_guard lock(mutex_);
    fileops::ReplaceDialogModel m = fileops::BuildReplaceDialog(question);
    const bool copyBack = m.conflict == 41 || m.conflict == 42;
    const char okKey = IsDeleteCode(m.conflict) ? 'd' : 'r';
    const char skipKey = copyBack ? 'c' : 's';
    out_ << "\n" << m.windowTitle << "\n" << ForTerminal(m.explanation) << "\n";
    const bool showA = m.items != fileops::ReplaceItems::DestOnly;
    const bool showB = m.items != fileops::ReplaceItems::SourceOnly;
    if (showA)
        out_ << "  A: " << TerminalName(m.sourcePath) << "\n     " << m.sourceModifDate << "\n";
    if (showB) out_ << "  B: " << TerminalName(m.destPath) << "\n     " << m.destModifDate << "\n";
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
            continue;
        }
        if (tag != 0) return fileops::ReplyForButtonCode(fileops::ButtonCode(m, tag));
    }
}

void TerminalProxy::ShowErrorAndStop(const std::string& title, const std::string& message) {
    std::lock_guard lock(mutex_);
    out_ << "\n" << title << " " << ForTerminal(message) << "\n";
}

bool TerminalProxy::AskSkipAndContinue(const std::string& title, const std::string& message) {
    std::lock_guard lock(mutex_);
    for (;;) {
        out_ << "\n"
             << title << " " << ForTerminal(message) << "\n[C] " << GLS("Continue") << "   [s] "
             << GLS("Stop") << "? " << std::flush;
        const char key = ReadKey();
        if (key == 0 || key == ' ' || key == 'c') return true;  // Continue is the default
        if (key == 's') return false;
    }
}

bool AskConfirmation(const engine::Confirmation& confirmation, std::istream& in,
                     std::ostream& out) {
    out << confirmation.title << " " << TerminalName(confirmation.message) << " [y] "
        << confirmation.okTitle << "   [N] " << confirmation.cancelTitle << "? " << std::flush;
    std::string line;
    return std::getline(in, line) && FirstKey(line) == 'y';
}

}  // namespace qv::cli
