#include "headless/stopsignals.h"

#include "platform/stopsignalpipe.h"

#include <QSocketNotifier>

StopSignals::StopSignals(QObject *parent) : QObject(parent) { }

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    delete m_notifier;
    StopSignalPipe::uninstall();
}

bool StopSignals::install(QString *error)
{
    const int fd = StopSignalPipe::install(error);
    if (fd < 0)
        return false;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::drain);
    return true;
}

void StopSignals::drain()
{
    StopSignalPipe::drain();
    emit stopRequested();
}
