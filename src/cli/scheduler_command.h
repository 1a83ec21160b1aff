#pragma once
// `quorvel scheduler`: the timers of every session of a document fired in the foreground, for
// a systemd user unit or a terminal, until SIGTERM or SIGINT.

#include <iosfwd>
#include <optional>
#include <string>

#include "app/main_app.h"

namespace qv::cli {

struct SchedulerArguments {
    std::string document;             // --document, or "" for the template
    std::optional<std::string> days;  // --days N, as given
    bool wait = false;                // --wait: while another scheduler fires the timers, wait
};

// Exit statuses: 0 ended by a signal, 2 another scheduler already fires the timers (unless
// waiting for it), or the document cannot be read.
int RunSchedulerCommand(app::MainApp& app, const SchedulerArguments& args, std::ostream& out,
                        std::ostream& err);

}  // namespace qv::cli
