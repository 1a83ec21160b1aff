#pragma once
// `quorvel run`: performs sessions, from a terminal (asking as the desktop application would)
// or unattended (cron, scripts: conflicts that would ask are skipped, errors do not stop).

#include <iosfwd>
#include <string>

#include "app/main_app.h"

namespace qv::cli {

struct RunArguments {
    std::string session;
    bool all = false;
    bool yes = false;         // no confirmation question
    bool unattended = false;  // never ask
    bool printLog = false;    // print the whole log instead of the short report
    bool saveLog = false;     // save the log whatever the preferences say about saving
    bool preview = false;     // show the planned actions first, whatever the preferences say
    bool quiet = false;       // only the report and the errors
    bool noProgress = false;  // no status line, even on a terminal
    std::string document;     // --document, or "" for the template
};

// Exit statuses: 0 no errors, 1 errors, 2 no such session or another run in progress,
// 3 stopped.
inline constexpr int kExitRunErrors = 1;
inline constexpr int kExitRunRefused = 2;
inline constexpr int kExitRunStopped = 3;

int RunSessions(app::MainApp& app, const RunArguments& args, std::istream& in, std::ostream& out,
                std::ostream& err, bool interactive);

}  // namespace qv::cli
