#pragma once
// `quorvel prefs`: shows and changes the application preferences through the same editor as the
// preferences window, so that the command refuses what the window refuses.

#include <iosfwd>
#include <span>
#include <string>

namespace qv::cli {

// The words after "prefs": list [--json] | get KEY | set KEY VALUE... | reset. Exit statuses:
// 0 done, 2 a usage error or a refusal (nothing is written then).
// `quorvel mail test`: the e-mail sheet's test mail. 0 sent, 1 not (with why), 2 a usage error.
int RunMailCommand(std::span<const std::string> words, std::ostream& out, std::ostream& err);

int RunPrefsCommand(std::span<const std::string> words, std::ostream& out, std::ostream& err);

}  // namespace qv::cli
