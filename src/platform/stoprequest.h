#pragma once

// A stop asked for from outside (a signal), visible at once to work that cannot return to
// the event loop meanwhile, such as matching a frame against many regexes. The event loop
// still learns of the stop the usual way; this only lets long work end early.
namespace StopRequest {

// Async-signal-safe: called from a signal handler.
void raise();
bool raised();
// For a process that runs several sessions (tests).
void clear();

} // namespace StopRequest
