#pragma once
// `quorvel log`: the saved log files of the log folder, listed or shown as plain text.

#include <iosfwd>
#include <string>
#include <vector>

#include "app/main_app.h"

namespace qv::cli {

struct LogArguments {
    std::string verb;         // "list" or "show"
    std::string file;         // show: the log file; empty for the newest of the log folder
    bool last = false;        // --last
    bool errorsOnly = false;  // --errors
};

// The verb and file from the words after "log", the options being in *args already; "" when
// they go together, otherwise what is wrong.
std::string ReadLogWords(const std::vector<std::string>& words, LogArguments* args);

// The log folder the preferences name, or the default one.
std::string LogFolder(app::MainApp& app);

// Exit statuses: 0 done, 2 a log file that cannot be read, or no log file for --last.
int RunLogCommand(app::MainApp& app, const LogArguments& args, std::ostream& out,
                  std::ostream& err);

}  // namespace qv::cli
