#include "measure.h"
#include "runningwindow.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

// Timing of the line: answers, the continuous-output period, the cost of a long run.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool quick = argc > 1 && QByteArray(argv[1]) == "--quick";

    {
        RunningWindow w("1");
        w.button("cmdSend")->click();
        std::vector<double> overheadMs;
        for (int i = 0; i < (quick ? 3 : 20); ++i) {
            const qint64 sent = w.pty.sinceCollectingStarted();
            const int arrived = int(w.pty.arrivals().size());
            w.pty.write("ABC+\r+\n");
            while (w.pty.arrivals().size() == arrived)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            overheadMs.push_back(double(w.pty.arrivals().at(arrived).ms - sent) - 1000.0);
            QTest::qWait(150);
        }
        Measure::report("answer latency beyond the fixed second, p50", Measure::percentile(overheadMs, 50), "ms", "");
        Measure::report("answer latency beyond the fixed second, p99", Measure::percentile(overheadMs, 99), "ms", "<= 10");
        w.button("cmdSTOP")->click();
    }
    {
        RunningWindow w("0", "0.2");
        const int cycles = quick ? 5 : 50;
        QTimer::singleShot(200 * cycles - 100, w.button("cmdSTOP"), &QPushButton::click);
        w.button("cmdSend")->click();
        const auto &a = w.pty.arrivals();
        double excess = 0;
        for (int i = 1; i < a.size(); ++i)
            excess += double(a.at(i).ms - a.at(i - 1).ms) - 200.0;
        Measure::report("continuous period at 0.2 s, mean excess", a.size() > 1 ? excess / (a.size() - 1) : -1, "ms", "<= 2");
    }
    {
        RunningWindow w("0", "1");
        const int seconds = quick ? 3 : 30;
        const double cpu0 = Measure::cpuSeconds();
        const double wall0 = Measure::monotonicSeconds();
        QTimer::singleShot(seconds * 1000 - 500, w.button("cmdSTOP"), &QPushButton::click);
        w.button("cmdSend")->click();
        const double cpu = Measure::cpuSeconds() - cpu0;
        Measure::report("CPU s per wall s, continuous run at interval 1", cpu / (Measure::monotonicSeconds() - wall0), "s/s", "< 0.01", "1.0");
    }
    return 0;
}
