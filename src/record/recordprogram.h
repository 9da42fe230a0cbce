#pragma once

#include <QString>

class ConsoleLines;
class EventStream;
class OutputCable;
class StopSignals;
struct StartOptions;

// The headless program with --record, once the folder is locked and the host's port is
// known: prints HOST_PORT=<hostPort> (when given) once both ports are open, relays until
// stopped, then prints RECORDED=<path> and LOG_FILE=<path>. The log lines
// go to standard output unless the events do (--events -). Returns the exit code: 0 with both
// files written, 1 when a port, the profile or the log failed.
int runRecording(ConsoleLines &console, EventStream &events, StopSignals &stopSignals,
                 const QString &folder, const QString &hostDevice, OutputCable *hostCable,
                 const QString &hostPort, const StartOptions &options);
