#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into something an event loop can wait for: a descriptor
// that becomes readable when one arrives (the self-pipe pattern), so that the application can
// end the way Quit does, writing its files, instead of being cut off.

namespace qv::platform {

// Installs the handlers once and returns the descriptor to watch; -1 when that failed.
int TerminationSignalDescriptor();
// Empties the descriptor after it became readable; returns the last signal number received.
int TakeTerminationSignal();
// Waits at most timeoutMs for one of those signals; the signal number once one came (taken),
// 0 when the time passed first or the handlers could not be installed.
int WaitForTerminationSignal(int timeoutMs);

}  // namespace qv::platform
