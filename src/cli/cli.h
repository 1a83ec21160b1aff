#pragma once
// The `quorvel` command: verbs over the engine for scripts and terminals.

#include <iosfwd>

namespace qv::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;  // bad arguments, unreadable or refused documents

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace qv::cli
