#include "session/profileloadjob.h"

#include "profile/responder.h"

#include <QThread>

ProfileLoadJob::ProfileLoadJob(InstrumentProfile profile, DeviceCommandTable patterns,
                               QObject *parent)
    : QObject(parent), m_patterns(std::move(patterns))
{
    m_result.profile = std::move(profile);
}

ProfileLoadJob::~ProfileLoadJob()
{
    if (!m_thread)
        return;
    m_abandoned = true;
    m_thread->wait();
    delete m_thread;
}

void ProfileLoadJob::start()
{
    m_thread = QThread::create([this] { run(); });
    // finished is emitted on the worker thread; the connection queues done() to this one.
    connect(m_thread, &QThread::finished, this, &ProfileLoadJob::done);
    m_thread->start(QThread::LowPriority);
}

// Only the job's own members are touched here until done().
void ProfileLoadJob::run()
{
    m_result.ok = m_result.profile.reload(&m_result.problems, &m_abandoned);
    if (m_result.ok && !m_abandoned)
        m_result.responder = m_result.profile.makeResponder(m_patterns);
}
