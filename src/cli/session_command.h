#pragma once
// `quorvel session` and `quorvel document`: the session menu's commands and Save As for scripts,
// through the same session commands as the window, so that the command refuses what the window
// refuses, with the same words.

#include <iosfwd>
#include <span>
#include <string>

namespace qv::cli {

// True when the command line's verb (its first word that is not an option) is `session` or
// `document`, which read their own options. Of the options before the verb, only --document is
// taken to have a value there.
bool IsSessionCommand(std::span<const std::string> words);

// Exit statuses: 0 done (the document written), 1 a removal the user declined, 2 a refusal or a
// usage error (nothing written). `interactive`: remove may ask on in/out.
int RunSessionCommand(std::span<const std::string> words, std::istream& in, std::ostream& out,
                      std::ostream& err, bool interactive);

}  // namespace qv::cli
