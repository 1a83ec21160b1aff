#pragma once
// The log of a run: a fixed header about the program and the machine, a run header (how the
// run was started, errors, user action, timing, sessions, the preferences in force), then a
// block per session (its options) followed by a block per task (folders, detailed lines,
// counters). Lines end with carriage returns; writers of files and terminals turn them into
// line feeds. Also the short report shown at the end of a run.

#include <cstdint>
#include <string>
#include <vector>

#include "items/tw_utilities.h"
#include "platform/system_facts.h"
#include "platform/version.h"
#include "run/run_state.h"
#include "sessions/plist_value.h"
#include "sessions/session_document.h"

namespace qv::schedule {

inline constexpr const char* kWebSiteAddress = platform::kWebSite;
inline constexpr const char* kWebSiteName = "quorvel.app";

// What a log is composed from besides the run's own state.
struct LogInputs {
    const sessions::SessionDocument& document;
    const plist::Value& preferences;  // mPrefDict
    const platform::SystemFacts& facts;
    const items::TWUtilities& tw;  // kinds of paths, remote volumes
    bool allSessions = false;      // the run covered "All Sessions"
    std::string emailTo;           // mSendEmailTo of the e-mail settings
    // What the run could not do for the machine (keep it awake), one line after the task's.
    std::string machineNotice;
    // What started a trigger's run ("volume /media/disk appeared"); "" for other runs.
    std::string startedBy;
};

std::string GetFixedLogHeader(const platform::SystemFacts& facts);

// The whole log of a finished run (MakeLogHeader, then MakeLogSession for each session
// record). Sums each session's task errors into its record and moves the tasks' detailed
// texts out of the state, so that a large log is never held twice.
std::string MakeLog(run::RunState& state, const LogInputs& inputs);

// The report of the end of a run, one text a line, without the "• " truncation the window
// applies: the folders and what reached them (or tasks or sessions done), then the errors:
// `errors`, every error of the run, the run state's and those of its conclusion (a log that
// could not be saved), so that the count agrees with the exit status.
std::vector<std::string> ReportLines(const run::RunState& state,
                                     const sessions::SessionDocument& document, bool allSessions,
                                     std::int64_t errors);

}  // namespace qv::schedule
