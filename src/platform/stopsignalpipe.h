#pragma once

#include <QString>

// The requests from outside to stop (SIGINT, SIGTERM, SIGHUP, SIGQUIT) as bytes in a pipe
// that an event loop watches. The handler raises the StopRequest and writes a byte, nothing
// else. SIGUSR1 and SIGUSR2 mean nothing to the program and are ignored: a stray one must not
// end a run unsaved.
namespace StopSignalPipe {

// Installs the handlers; the descriptor to watch for reading, or -1 with the system's reason.
int install(QString *error);
// Reads away the stops so far.
void drain();
// From now on a stop is ignored, and the pipe is closed; its watcher must be gone by then.
void uninstall();

} // namespace StopSignalPipe
