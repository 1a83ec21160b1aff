#pragma once
// `quorvel prefs`: shows and changes the application preferences through the same editor as the
// preferences window, so that the command refuses what the window refuses.

#include <iosfwd>

namespace qv::cli {

// argv[1] is "prefs". Parses the rest itself: list [--json] | get KEY | set KEY VALUE... |
// reset. Exit statuses: 0 done, 2 a usage error or a refusal (nothing is written then).
int RunPrefsCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace qv::cli
