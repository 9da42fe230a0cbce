// Windows: a console control handler (SetConsoleCtrlHandler) that sets an event.

#include "platform/stopsignalpipe.h"

#include "platform/stoprequest.h"
#include "platform/wakepipe.h"

#include <cerrno>
#include <csignal>

namespace StopSignalPipe {

namespace {
WakePipe g_pipe;

// A closed terminal or a dropped ssh session (SIGHUP) and Ctrl+\ (SIGQUIT) end a run as
// Ctrl+C does: with the log saved and the counts printed.
constexpr int kStopSignals[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
constexpr int kIgnoredSignals[] = { SIGUSR1, SIGUSR2 };

void onSignal(int)
{
    const int savedErrno = errno;
    StopRequest::raise();
    // Nothing to do if the pipe is full: a stop is already waiting to be read.
    g_pipe.wake();
    errno = savedErrno;
}

void setDisposition(int signalNumber, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

// A run started under nohup keeps SIGHUP ignored, as that user asked.
bool inheritedIgnored(int signalNumber)
{
    struct sigaction current {};
    return ::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}
} // namespace

int install(QString *error)
{
    if (!g_pipe.open(error))
        return -1;
    for (const int signalNumber : kStopSignals) {
        if (signalNumber != SIGHUP || !inheritedIgnored(SIGHUP))
            setDisposition(signalNumber, onSignal);
    }
    for (const int signalNumber : kIgnoredSignals)
        setDisposition(signalNumber, SIG_IGN);
    return g_pipe.readEnd();
}

void drain()
{
    g_pipe.drain();
}

void uninstall()
{
    // The program is finishing and its outcome is settled: a signal now must neither kill it
    // (the default action would, and change the exit code) nor write into a closed pipe.
    for (const int signalNumber : kStopSignals)
        setDisposition(signalNumber, SIG_IGN);
    g_pipe.close();
}

} // namespace StopSignalPipe
