#pragma once
// The confirmation asked before a run the user started: what the "Starting task:" alert says.

#include <cstdint>
#include <optional>
#include <string>

#include "sessions/plist_value.h"
#include "sessions/session_document.h"

namespace qv::engine {

struct Confirmation {
    std::string title;  // "Starting task:"
    std::string message;
    std::string okTitle, cancelTitle;
};

// The confirmation for a run of the session at sessionIndex (or of all sessions), or nothing
// when none is asked: the preferences say not to ask, or the user did not start the run.
// exactAsks: a run with an exact task is confirmed whatever the preferences say.
std::optional<Confirmation> AreYouSure(const sessions::SessionDocument& document,
                                       std::int64_t sessionIndex, const plist::Value& preferences,
                                       bool startedByUser, bool exactAsks = false);

}  // namespace qv::engine
