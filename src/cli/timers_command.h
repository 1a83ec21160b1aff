#pragma once
// `quorvel timers`: the coming executions of the timers, and a session's timer rows shown and
// changed through the same editor as the timer panel (rows numbered from 1).

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "schedule/scheduler.h"

namespace qv::cli {

inline constexpr std::int64_t kMaxTimerDays = 366;

struct TimersArguments {
    std::vector<std::string> words;           // the verb and its words; none for the executions
    std::optional<std::string> session;       // --session NAME
    std::optional<std::string> sessionIndex;  // --session-index N, as given
    bool all = false;                         // --all
    std::string document;                     // --document, or "" for the template
    bool json = false;
    std::optional<std::string> days;  // --days N, as given
};

// What can be checked before the document is read; "" when the arguments are usable.
std::string CheckTimersArguments(const TimersArguments& args);
// Whether the verb changes the document (and so waits for other commands doing so).
bool TimersVerbChanges(const TimersArguments& args);
// The horizon of --days: 1 to kMaxTimerDays; nothing for anything else.
std::optional<std::int64_t> ParseTimerDays(const std::optional<std::string>& given);

// The clock of the timer verbs: the system's, or for tests one that starts at the local time
// QUORVEL_TEST_NOW gives ("YYYY-MM-DD HH:MM") and runs on from there.
schedule::Scheduler::Clock CommandClock();

// Exit statuses: 0 done, 2 a refusal (no such session or row, a bad key or value, a row the
// row editor refuses, a document that cannot be written).
int RunTimersCommand(app::MainApp& app, const TimersArguments& args, std::ostream& out,
                     std::ostream& err);

}  // namespace qv::cli
