#include "cli/log_command.h"

#include <cmath>
#include <ctime>
#include <ostream>
#include <string_view>

#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "platform/localization.h"
#include "schedule/log_files.h"

namespace qv::cli {

namespace {

using platform::GLS;

std::string LocalDate(double seconds) {
    const auto t = static_cast<std::time_t>(std::floor(seconds));
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}

int ListLogs(const std::string& folder, std::ostream& out) {
    for (const schedule::LogFileInfo& log : schedule::ListLogFiles(folder)) {
        out << LocalDate(log.modified) << '\t'
            << (log.errors < 0 ? std::string("-") : std::to_string(log.errors)) << '\t'
            << TerminalName(log.path) << '\n';
    }
    return kExitOk;
}

int ShowLog(const std::string& folder, const LogArguments& args, std::ostream& out,
            std::ostream& err) {
    std::string path = args.file;
    if (path.empty()) {
        const std::vector<schedule::LogFileInfo> logs = schedule::ListLogFiles(folder);
        if (logs.empty()) {
            err << "quorvel: no log file in the log folder \"" << TerminalName(folder) << "\"\n";
            return kExitUsage;
        }
        path = logs.front().path;
    }
    std::string text, why;
    if (!schedule::ReadLogFile(path, &text, &why)) {
        err << "quorvel: " << TerminalName(GLS("Can't open this Log file.")) << " \""
            << TerminalName(path) << "\": " << TerminalName(why) << "\n";
        return kExitUsage;
    }
    if (args.errorsOnly) {
        for (const std::string& line : schedule::ErrorLines(text)) {
            out << ForTerminal(line) << '\n';
        }
        return kExitOk;
    }
    out << ForTerminal(text);
    if (!text.empty() && text.back() != '\r') out << '\n';
    return kExitOk;
}

}  // namespace

std::string ReadLogWords(const std::vector<std::string>& words, LogArguments* args) {
    if (words.empty()) return "log needs list or show";
    args->verb = words.front();
    if (args->verb == "list") {
        if (words.size() > 1) return "unexpected argument '" + words[1] + "'";
        if (args->last || args->errorsOnly) {
            return std::string(args->last ? "--last" : "--errors") + " is only for log show";
        }
        return {};
    }
    if (args->verb != "show") return "unknown log command '" + args->verb + "'";
    if (words.size() > 2) return "unexpected argument '" + words[2] + "'";
    if (words.size() == 2 && args->last) return "log show takes a FILE or --last, not both";
    if (words.size() == 2) args->file = words[1];
    return {};
}

std::string LogFolder(app::MainApp& app) {
    const std::string& chosen = app.preferences().mPrefDict.stringAt("prefPathLogFolder");
    return chosen.empty() ? app.paths().pathLogFolder : chosen;
}

int RunLogCommand(app::MainApp& app, const LogArguments& args, std::ostream& out,
                  std::ostream& err) {
    const std::string folder = LogFolder(app);
    if (args.verb == "list") return ListLogs(folder, out);
    return ShowLog(folder, args, out, err);
}

}  // namespace qv::cli
