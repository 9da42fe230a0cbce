#include "platform/sessionclock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace {
// The event loop's timers have millisecond steps and may wake a little late; the last
// stretch before a deadline is slept precisely instead, with events held for at most this.
constexpr qint64 kFinalStretchNs = 2'000'000;
constexpr qint64 kPollSlackDivisor = 500;
} // namespace

void SessionClock::callAt(qint64 deadlineNs, QObject *context, std::function<void()> fn)
{
    const qint64 leftNs = std::max<qint64>(0, deadlineNs - nowNs());
    const qint64 ms = std::min<qint64>((leftNs + 999'999) / 1'000'000, std::numeric_limits<int>::max());
    callAfter(int(ms), context, std::move(fn));
}

qint64 SessionClock::wallNs() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

void SessionClock::waitSeconds(double seconds)
{
    waitUntil(nowNs() + spanNs(seconds));
}

qint64 SessionClock::spanNs(double seconds)
{
    if (!(seconds > 0)) // also catches NaN
        return 0;
    const double capped = std::min(seconds, 86400.0 * 366);
    return qint64(std::ceil(capped * double(kNsPerSecond)));
}

SessionClock &SessionClock::steady()
{
    static SteadyClock clock;
    return clock;
}

qint64 SteadyClock::nowNs() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SteadyClock::waitUntil(qint64 deadlineNs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    for (;;) {
        const qint64 leftNs = deadlineNs - nowNs();
        if (leftNs <= 0)
            return;
        if (leftNs <= kFinalStretchNs) {
            std::this_thread::sleep_for(std::chrono::nanoseconds(leftNs));
            continue;
        }
        // Wake before the final stretch. The kernel lets a poll timeout run late by about a
        // thousandth of its length, so a long wait aims that much earlier and a short second
        // pass lands close; the loop re-checks the clock, so an early wake costs one pass.
        const qint64 aimNs = leftNs - kFinalStretchNs - leftNs / kPollSlackDivisor;
        const qint64 leftMs = std::min<qint64>(aimNs / 1'000'000, std::numeric_limits<int>::max());
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(int(std::max<qint64>(leftMs, 1)));
        loop.exec(QEventLoop::AllEvents);
    }
}

void SteadyClock::callAfter(int ms, QObject *context, std::function<void()> fn)
{
    QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(fn));
}

// The event loop's timers count whole milliseconds and wake up to one late: the call is
// aimed just before the deadline, and the last stretch slept precisely, events held for at
// most that stretch.
void SteadyClock::callAt(qint64 deadlineNs, QObject *context, std::function<void()> fn)
{
    const qint64 aimNs = std::max<qint64>(0, deadlineNs - nowNs() - kFinalStretchNs);
    const qint64 aimMs = std::min<qint64>(aimNs / 1'000'000, std::numeric_limits<int>::max());
    QTimer::singleShot(int(aimMs), Qt::PreciseTimer, context,
                       [this, deadlineNs, context, fn = std::move(fn)]() mutable {
                           const qint64 leftNs = deadlineNs - nowNs();
                           if (leftNs > kFinalStretchNs) {
                               callAt(deadlineNs, context, std::move(fn));
                               return;
                           }
                           if (leftNs > 0)
                               std::this_thread::sleep_for(std::chrono::nanoseconds(leftNs));
                           fn();
                       });
}
