#include "session/continuousoutput.h"

#include "platform/sessionclock.h"

#include <algorithm>
#include <utility>

ContinuousOutput::ContinuousOutput(SessionClock &clock, Interval interval, Cycle cycle,
                                   OpenWindow window, QObject *parent)
    : QObject(parent),
      m_clock(clock),
      m_interval(std::move(interval)),
      m_cycle(std::move(cycle)),
      m_window(std::move(window))
{
}

qint64 ContinuousOutput::nextOutputDue(qint64 previousDueNs, qint64 intervalNs, qint64 nowNs)
{
    const qint64 due = previousDueNs + qMax<qint64>(intervalNs, 0);
    return due < nowNs ? nowNs + qMax<qint64>(intervalNs, 0) : due;
}

void ContinuousOutput::begin()
{
    ++m_armed;
    m_running = true;
    m_stopping = false;
    m_warned = false;
    m_waitingForHold = m_waitingForWindow = false;
    m_notBeforeNs = 0;
    m_dueNs = m_clock.nowNs();
    scheduleNext();
}

void ContinuousOutput::finishAfterPendingCycle(qint64 notBeforeNs)
{
    if (!m_running)
        return;
    m_stopping = true;
    m_notBeforeNs = notBeforeNs;
    // The window it waited for closes without a word now; the cycle goes at the moment it
    // would have closed.
    if (m_waitingForWindow) {
        m_waitingForWindow = false;
        armFor(std::max(m_dueNs, m_notBeforeNs));
    }
}

bool ContinuousOutput::endNow()
{
    const bool wasRunning = m_running;
    ++m_armed;
    m_running = m_stopping = false;
    m_waitingForHold = m_waitingForWindow = false;
    return wasRunning;
}

void ContinuousOutput::setHeld(bool held)
{
    m_held = held;
    if (!held && m_waitingForHold) {
        m_waitingForHold = false;
        tryFire();
    }
}

void ContinuousOutput::windowClosed()
{
    if (!m_waitingForWindow)
        return;
    m_waitingForWindow = false;
    tryFire();
}

// A text that is no number would run the cycles without any wait and flood the line; it
// runs at one second instead, and the run says so once. A negative number means no wait.
void ContinuousOutput::scheduleNext()
{
    std::optional<double> seconds = m_interval();
    if (!seconds) {
        if (!m_warned)
            emit intervalNotANumber();
        m_warned = true;
        seconds = 1.0;
    }
    const qint64 now = m_clock.nowNs();
    m_dueNs = nextOutputDue(m_dueNs, SessionClock::spanNs(*seconds), now);
    if (m_aligned) {
        // To the nearest whole second of the wall clock, so the clocks' slow drift apart and a
        // late cycle never accumulate; never now or before.
        const qint64 wallDue = m_clock.wallNs() + (m_dueNs - now);
        const qint64 second = SessionClock::kNsPerSecond;
        qint64 shift = (wallDue + second / 2) / second * second - wallDue;
        if (m_dueNs + shift <= now)
            shift += second;
        m_dueNs += shift;
    }
    armFor(m_dueNs);
}

void ContinuousOutput::armFor(qint64 atNs)
{
    // Only the latest call armed counts: a cycle is never due twice.
    const quint64 run = ++m_armed;
    const qint64 leftNs = atNs - m_clock.nowNs();
    // Back-to-back cycles still let every other event run between them.
    if (leftNs <= 0) {
        m_clock.callSoon(this, [this, run] { onDue(run); });
        return;
    }
    m_clock.callAt(atNs, this, [this, run] { onDue(run); });
}

void ContinuousOutput::onDue(quint64 armed)
{
    if (armed == m_armed)
        tryFire();
}

void ContinuousOutput::tryFire()
{
    if (!m_running || m_waitingForHold || m_waitingForWindow)
        return;
    const qint64 now = m_clock.nowNs();
    const qint64 due = std::max(m_dueNs, m_stopping ? m_notBeforeNs : 0);
    if (now < due) {
        armFor(due);
        return;
    }
    if (m_held) {
        m_waitingForHold = true;
        return;
    }
    if (m_window && m_window()) {
        m_waitingForWindow = true;
        return;
    }
    fire();
}

void ContinuousOutput::fire()
{
    m_cycle();
    // Whatever the output set off may have ended the run.
    if (!m_running)
        return;
    if (m_stopping) {
        m_running = m_stopping = false;
        ++m_armed;
        emit ended();
        return;
    }
    scheduleNext();
}
