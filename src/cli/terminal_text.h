#pragma once
// What the command prints for people. A file name may hold any byte but "/" and NUL: escape
// sequences, line ends, C1 controls and bytes that are not UTF-8 would otherwise reach the
// terminal raw and clear it, move the cursor or print lines the run never wrote. The logs keep
// the bytes; only what reaches a terminal is shown escaped ("\x1b", "\n", "\u0085").

#include <string>
#include <string_view>

namespace qv::cli {

// A name, a path or any text without a line structure of its own: every control character
// is shown escaped, line ends included, and so is a backslash ("\\"), so that no two names
// look the same.
std::string TerminalName(std::string_view text);

// A text of alerts and logs, whose lines end with carriage returns: each becomes a line feed,
// a tab stays (the log's layout; harmless on a terminal), every other control character is
// shown escaped. The texts put together by the run never
// use a line feed themselves, so one found there came from a name. A carriage return inside a
// name cannot be told from a line end once the name is part of such a text: it starts a new
// line (it never moves the cursor back over the line already printed).
std::string ForTerminal(std::string_view text);

}  // namespace qv::cli
