#include "headless/stopsignals.h"

#include "platform/stoprequest.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_pipe[2] = { -1, -1 };

// A closed terminal or a dropped ssh session (SIGHUP) and Ctrl+\ (SIGQUIT) end a run as
// Ctrl+C does: with the log saved and the counts printed.
constexpr int kStopSignals[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
constexpr int kIgnoredSignals[] = { SIGUSR1, SIGUSR2 };

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    StopRequest::raise();
    const char byte = char(signalNumber);
    // Nothing to do if the pipe is full: a stop is already waiting to be read.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
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

StopSignals::StopSignals(QObject *parent) : QObject(parent) { }

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    // The program is finishing and its outcome is settled: a signal now must neither kill it
    // (the default action would, and change the exit code) nor write into a closed pipe.
    for (const int signalNumber : kStopSignals)
        setDisposition(signalNumber, SIG_IGN);
    delete m_notifier;
    for (int &fd : g_pipe) {
        ::close(fd);
        fd = -1;
    }
}

bool StopSignals::install(QString *error)
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::drain);

    for (const int signalNumber : kStopSignals) {
        if (signalNumber != SIGHUP || !inheritedIgnored(SIGHUP))
            setDisposition(signalNumber, onSignal);
    }
    for (const int signalNumber : kIgnoredSignals)
        setDisposition(signalNumber, SIG_IGN);
    return true;
}

void StopSignals::drain()
{
    char bytes[64];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) { }
    emit stopRequested();
}
