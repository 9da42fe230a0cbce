#include "hostflood.h"
#include "measure.h"
#include "runningwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>


// A host flooding the line at 38400 bit/s, and a run at interval 0: memory and the
// user interface's answer time, for a minute each (--quick: five seconds).
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int ms = (argc > 1 && QByteArray(argv[1]) == "--quick") ? 5000 : 60000;

    for (const char *state : { "stopped", "answering", "continuous" }) {
        const bool continuous = QByteArray(state) == "continuous";
        RunningWindow w(continuous ? "0" : "1", "1");
        double grown = 0;
        qint64 worst = 0;
        const auto measure = [&] {
            const double before = Measure::residentMiB();
            worst = floodHost(w.pty, ms);
            grown = Measure::residentMiB() - before;
        };
        if (continuous) {
            QTimer::singleShot(50, &w.pty, [&] {
                measure();
                w.button("cmdSTOP")->click();
            });
            w.button("cmdSend")->click();
        } else {
            if (QByteArray(state) == "answering")
                w.button("cmdSend")->click();
            measure();
        }
        const QByteArray name = QByteArray("flood at 38400 bit/s, ") + state + ": memory growth";
        Measure::report(name.constData(), grown, "MiB", "bounded");
        const QByteArray gap = QByteArray("flood at 38400 bit/s, ") + state + ": longest UI pause";
        Measure::report(gap.constData(), double(worst), "ms", "");
    }
    {
        RunningWindow w("0", "0");
        const double before = Measure::residentMiB();
        QElapsedTimer stopClock;
        QTimer::singleShot(ms, w.button("cmdSTOP"), [&] {
            stopClock.start();
            w.button("cmdSTOP")->click();
        });
        w.button("cmdSend")->click();
        Measure::report("interval 0: Stop to end of run", double(stopClock.elapsed()), "ms", "at once");
        Measure::report("interval 0: log lines kept", w.log().lineCount(), "lines", "<= 1,004,096");
        Measure::report("interval 0: memory growth", Measure::residentMiB() - before, "MiB", "bounded by the log cap");
    }
    return 0;
}
