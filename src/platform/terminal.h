#pragma once
// What the command needs to know about the terminal it writes to: whether a descriptor is
// one, and how many columns it shows.

namespace qv::platform {

// True when fd is open on a terminal.
bool IsTerminal(int fd);

// The terminal's width in columns, or 0 when fd is not a terminal or does not say.
int TerminalColumns(int fd);

}  // namespace qv::platform
