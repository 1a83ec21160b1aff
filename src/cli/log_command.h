#pragma once
// `quorvel log`: the saved log files of the log folder, listed or shown as plain text.

#include <iosfwd>
#include <string>
#include <vector>

#include "app/main_app.h"

namespace qv::cli {

struct LogArguments {
    std::string verb;  // "list" or "show"
    std::string file;  // show: the log file; empty for the newest of the log folder
    bool last = false;
    bool errorsOnly = false;
};

// From the words after "log" and the options; false with *error for people on a bad mix.
bool ParseLogArguments(const std::vector<std::string>& words, bool last, bool errorsOnly,
                       LogArguments* args, std::string* error);

// The log folder the preferences name, or the default one.
std::string LogFolder(app::MainApp& app);

// Exit statuses: 0 done, 2 a log file that cannot be read, or no log file for --last.
int RunLogCommand(app::MainApp& app, const LogArguments& args, std::ostream& out,
                  std::ostream& err);

}  // namespace qv::cli
