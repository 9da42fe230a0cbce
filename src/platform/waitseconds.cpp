#include "waitseconds.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cmath>
#include <limits>

void WaitSeconds(double seconds)
{
    QElapsedTimer clock;
    clock.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!(seconds > 0)) // also catches NaN
        return;

    // A day is far beyond any interval a user types; the cap keeps the arithmetic finite.
    const double capped = std::min(seconds, 86400.0 * 366);
    const qint64 deadlineNs = qint64(std::ceil(capped * 1e9));
    for (;;) {
        const qint64 leftNs = deadlineNs - clock.nsecsElapsed();
        if (leftNs <= 0)
            return;
        // Precise timers may still fire a hair early on some systems; the loop re-checks the
        // monotonic clock, so rounding up to whole milliseconds is enough.
        const qint64 leftMs = std::min<qint64>((leftNs + 999'999) / 1'000'000,
                                               std::numeric_limits<int>::max());
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(int(leftMs));
        loop.exec(QEventLoop::AllEvents);
    }
}
