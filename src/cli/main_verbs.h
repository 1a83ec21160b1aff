#pragma once
// The verbs that share the command's main options (all but session, document and prefs): each
// declares in a table the options it takes, and one path reads, checks and runs them.

#include <iosfwd>
#include <span>
#include <string>

namespace qv::cli {

// The words after "quorvel". Exit statuses: those of the verb, or 2 on a usage error.
int RunMainVerb(std::span<const std::string> words, std::ostream& out, std::ostream& err);

}  // namespace qv::cli
