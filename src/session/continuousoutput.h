#pragma once

#include <QObject>

#include <functional>
#include <optional>

class SessionClock;

// The periodic output of a run: each output due one interval after the one before was due,
// the first one interval after the run began, each a call on the session clock (nothing here
// waits). The interval is read as each cycle begins, so the value in force then counts.
//
// What a user or host sees of the instrument's one thread is kept on purpose:
// - a cycle that falls due while the output is held (a modal box, the tray menu is open)
//   goes out when the hold ends;
// - a cycle that falls due while the fixed instrument's one-second window is open goes out
//   when the window has closed and its answer has gone;
// - after Stop the pending cycle still goes out when due, then the run ends; a stop from
//   outside, or a new Start, ends it at once without that cycle.
class ContinuousOutput : public QObject
{
    Q_OBJECT

public:
    // The interval in force, in seconds; nothing for a text that is no number.
    using Interval = std::function<std::optional<double>()>;
    // Sends and logs one output.
    using Cycle = std::function<void()>;
    // The moment the one-second window under way closes; nothing when none is open.
    using OpenWindow = std::function<std::optional<qint64>()>;

    ContinuousOutput(SessionClock &clock, Interval interval, Cycle cycle, OpenWindow window,
                     QObject *parent = nullptr);

    // When the next output is due, given when the one before was due: one interval later, so
    // the period does not drift. A deadline already past (the run was held up longer than an
    // interval) is taken from now instead, so no burst of catch-up output follows.
    static qint64 nextOutputDue(qint64 previousDueNs, qint64 intervalNs, qint64 nowNs);

    void begin();
    // Stop: the pending cycle goes out when due, and not before notBeforeNs.
    void finishAfterPendingCycle(qint64 notBeforeNs = 0);
    // Ends the run now without its pending cycle; true when a run was still going.
    bool endNow();
    bool isRunning() const { return m_running; }

    void setHeld(bool held);
    // Each output due on a whole second of the wall clock (a GPS receiver's sentences).
    void setAlignedToSecond(bool aligned) { m_aligned = aligned; }
    // The window the run waited for has closed.
    void windowClosed();

signals:
    // The run's last cycle has gone out.
    void ended();
    // The interval is no number: the run goes on at one second, and says so once.
    void intervalNotANumber();

private:
    void scheduleNext();
    void armFor(qint64 atNs);
    void onDue(quint64 armed);
    void tryFire();
    void fire();

    SessionClock &m_clock;
    Interval m_interval;
    Cycle m_cycle;
    OpenWindow m_window;
    // Each call armed on the clock has a number; only the latest one may fire a cycle.
    quint64 m_armed = 0;
    bool m_running = false;
    bool m_stopping = false;
    bool m_warned = false;
    bool m_held = false;
    bool m_aligned = false;
    // A cycle is due and waits for the hold to end, or for the window to close.
    bool m_waitingForHold = false;
    bool m_waitingForWindow = false;
    qint64 m_dueNs = 0;
    qint64 m_notBeforeNs = 0;
};
