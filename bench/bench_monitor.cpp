#include "measure.h"
#include "monitor/exchangefilter.h"
#include "monitor/exchangemodel.h"
#include "monitor/exchangeview.h"
#include "platform/sessionclock.h"

#include <QApplication>

// A host that floods the line, as the line monitor sees it: each command a read, a write and
// the answer that claims it, into the bounded table with a filter and a view on screen.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    constexpr int kExchanges = 300'000;
    ExchangeModel model;
    ExchangeFilter filter;
    filter.setSourceModel(&model);
    ExchangeView view;
    view.setModel(&filter);
    view.resize(600, 400);
    view.show();
    QCoreApplication::processEvents();

    const double rss0 = Measure::residentMiB();
    LineEvent read, write, answer;
    read.kind = LineEvent::Kind::Received;
    read.bytes = "R\r";
    write.kind = LineEvent::Kind::Sent;
    write.bytes = "R123.45\r";
    answer.kind = LineEvent::Kind::Answer;
    answer.command = read.bytes;
    answer.bytes = write.bytes;
    answer.rule = QStringLiteral("read");
    const double t0 = Measure::monotonicSeconds();
    for (int i = 0; i < kExchanges; ++i) {
        read.atNs = SessionClock::steady().nowNs();
        write.atNs = answer.atNs = read.atNs + 1'000'000;
        model.take(read);
        model.take(write);
        model.take(answer);
        // Events run as often as a busy port lets them.
        if (i % 1000 == 999)
            QCoreApplication::processEvents();
    }
    model.announce();
    QCoreApplication::processEvents();
    const double seconds = Measure::monotonicSeconds() - t0;
    Measure::report("monitor: exchanges taken per second, table on screen", kExchanges / seconds,
        "1/s", "");
    Measure::report(
        "monitor: rows kept after 300,000 exchanges", model.rowCount(), "rows", "<= 10,000");
    Measure::report("monitor: resident memory added by 300,000 exchanges",
        Measure::residentMiB() - rss0, "MiB", "");

    filter.setText(QStringLiteral("R123"));
    filter.setDirection(ExchangeFilter::Direction::Out);
    const double f0 = Measure::monotonicSeconds();
    for (int i = 0; i < 10'000; ++i) {
        model.take(read);
        model.take(write);
        model.take(answer);
        if (i % 1000 == 999)
            QCoreApplication::processEvents();
    }
    Measure::report("monitor: exchanges taken per second, filtered",
        10'000 / (Measure::monotonicSeconds() - f0), "1/s", "");
    return 0;
}
