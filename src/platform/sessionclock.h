#pragma once

#include <QtGlobal>

#include <functional>
#include <utility>

class QObject;

// Time as the line work sees it: a monotonic now, waits that keep the event loop serving
// clicks and port events, and delayed calls. The program runs on the steady clock; a test
// can hand the engine a clock of its own and run whole sessions on virtual time while the
// port stays real.
class SessionClock
{
public:
    static constexpr qint64 kNsPerSecond = 1'000'000'000;

    virtual ~SessionClock() = default;

    virtual qint64 nowNs() const = 0;
    // The wall clock (nanoseconds since 1970, UTC) now: for output due on its whole seconds.
    virtual qint64 wallNs() const;
    // Processes events until the clock has reached deadlineNs. Never returns earlier, and
    // always processes pending events at least once, also for a deadline already past.
    virtual void waitUntil(qint64 deadlineNs) = 0;
    // Calls fn once, about ms from now, unless context is gone by then.
    virtual void callAfter(int ms, QObject *context, std::function<void()> fn) = 0;
    // Calls fn once, at deadlineNs on this clock or just after it, unless context is gone.
    virtual void callAt(qint64 deadlineNs, QObject *context, std::function<void()> fn);
    // Calls fn once pending events have been processed: work that repeats without a wait
    // still lets clicks and port events in between.
    virtual void callSoon(QObject *context, std::function<void()> fn)
    {
        callAfter(0, context, std::move(fn));
    }

    // A wait of the given seconds from now; 0, negative and NaN give the one pass of events.
    void waitSeconds(double seconds);
    // Seconds as a clock span, capped far beyond any interval a user types.
    static qint64 spanNs(double seconds);

    // The one real clock of the process.
    static SessionClock &steady();
};

class SteadyClock : public SessionClock
{
public:
    qint64 nowNs() const override;
    void waitUntil(qint64 deadlineNs) override;
    void callAfter(int ms, QObject *context, std::function<void()> fn) override;
    void callAt(qint64 deadlineNs, QObject *context, std::function<void()> fn) override;
};
