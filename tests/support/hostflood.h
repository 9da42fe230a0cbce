#pragma once

#include "ptypair.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <unistd.h>

// Plays a host that floods the line: about 38400 bit/s (96 bytes every 25 ms) for `ms`,
// while the program's event loop runs. Returns the longest gap between two of the host's
// timer ticks, which is how long the program kept its event loop from running.
inline qint64 floodHost(PtyPair &pty, int ms)
{
    const QByteArray chunk(96, 'Z');
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        worst = qMax(worst, clock.elapsed() - last);
        last = clock.elapsed();
        // A full line drops the chunk, as a real line would lose it.
        if (::write(pty.masterFd(), chunk.constData(), size_t(chunk.size())) < 0)
            return;
    });
    tick.start(25);
    while (clock.elapsed() < ms)
        QTest::qWait(50);
    return worst;
}
