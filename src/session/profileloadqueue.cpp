#include "session/profileloadqueue.h"

ProfileLoadQueue::ProfileLoadQueue(Outcome outcome, QObject *parent)
    : QObject(parent), m_outcome(std::move(outcome))
{
}

quint64 ProfileLoadQueue::request(const QString &file, std::optional<quint64> seed,
                                  const DeviceCommandTable &patterns)
{
    m_waiting.push_back(Request { ++m_lastTicket, file, seed, patterns });
    if (!m_running)
        startNext();
    return m_lastTicket;
}

void ProfileLoadQueue::startNext()
{
    if (m_waiting.empty())
        return;
    Request next = std::move(m_waiting.front());
    m_waiting.pop_front();
    InstrumentProfile candidate;
    candidate.setFile(next.file);
    candidate.setSeed(next.seed);
    m_runningTicket = next.ticket;
    m_running = std::make_unique<ProfileLoadJob>(std::move(candidate), std::move(next.patterns));
    connect(m_running.get(), &ProfileLoadJob::done, this, &ProfileLoadQueue::finishRunning);
    m_running->start();
}

void ProfileLoadQueue::finishRunning()
{
    ProfileLoadJob::Result result = m_running->takeResult();
    // The job is inside its own signal: it goes once that has returned.
    m_running.release()->deleteLater();
    const quint64 ticket = m_runningTicket;
    startNext();
    m_outcome(ticket, std::move(result));
}
