#include "platform/waitseconds.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

namespace {
double cpuSeconds()
{
    rusage r {};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}
} // namespace

class tst_WaitSeconds : public QObject
{
    Q_OBJECT

private slots:
    void shouldNeverReturnEarly_data();
    void shouldNeverReturnEarly();
    void shouldServeEventsWhileWaiting();
    void shouldProcessPendingEventsOnceForZeroOrLess_data();
    void shouldProcessPendingEventsOnceForZeroOrLess();
    void shouldSleepInsteadOfSpinning();
    void shouldNestInsideAnotherWait();
};

void tst_WaitSeconds::shouldNeverReturnEarly_data()
{
    QTest::addColumn<double>("seconds");
    QTest::newRow("fraction") << 0.05;
    QTest::newRow("quarter") << 0.25;
    // Coarse timers of two seconds and more fire early; this one must not.
    QTest::newRow("two and a half") << 2.5;
}

void tst_WaitSeconds::shouldNeverReturnEarly()
{
    QFETCH(double, seconds);
    QElapsedTimer clock;
    clock.start();
    WaitSeconds(seconds);
    const qint64 ns = clock.nsecsElapsed();
    QVERIFY2(ns >= qint64(seconds * 1e9), qPrintable(QString::number(ns)));
    QVERIFY2(ns < qint64(seconds * 1e9) + 200'000'000, qPrintable(QString::number(ns)));
}

void tst_WaitSeconds::shouldServeEventsWhileWaiting()
{
    int fired = 0;
    QTimer::singleShot(50, this, [&] { ++fired; });
    QTimer::singleShot(150, this, [&] { ++fired; });
    WaitSeconds(0.3);
    QCOMPARE(fired, 2);
}

void tst_WaitSeconds::shouldProcessPendingEventsOnceForZeroOrLess_data()
{
    QTest::addColumn<double>("seconds");
    QTest::newRow("zero") << 0.0;
    QTest::newRow("negative") << -5.0;
    QTest::newRow("not a number") << std::nan("");
}

void tst_WaitSeconds::shouldProcessPendingEventsOnceForZeroOrLess()
{
    QFETCH(double, seconds);
    bool ran = false;
    QMetaObject::invokeMethod(this, [&] { ran = true; }, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    WaitSeconds(seconds);
    QVERIFY(ran);
    QVERIFY(clock.elapsed() < 100);
}

void tst_WaitSeconds::shouldSleepInsteadOfSpinning()
{
    const double before = cpuSeconds();
    WaitSeconds(1.0);
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.05, qPrintable(QString::number(used)));
}

void tst_WaitSeconds::shouldNestInsideAnotherWait()
{
    QElapsedTimer clock;
    clock.start();
    qint64 innerEnded = -1;
    QTimer::singleShot(50, this, [&] {
        WaitSeconds(0.3);
        innerEnded = clock.elapsed();
    });
    WaitSeconds(0.1);
    // The outer wait returns only when the nested one, started inside it, has finished.
    QVERIFY(innerEnded >= 350);
    QVERIFY(clock.elapsed() >= innerEnded);
}

QTEST_GUILESS_MAIN(tst_WaitSeconds)
#include "tst_waitseconds.moc"
