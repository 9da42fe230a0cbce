#include "commlog.h"
#include "logfiles.h"
#include "measure.h"

#include <QCoreApplication>
#include <QTemporaryDir>

// A long unattended run: a million log lines, then saving them.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const double rss0 = Measure::residentMiB();
    CommLog log;
    const double t0 = Measure::monotonicSeconds();
    for (int i = 0; i < 1'000'000; ++i)
        log.appendStamped(QStringLiteral("99.99"));
    const double appended = Measure::monotonicSeconds() - t0;
    Measure::report("append 1,000,000 log lines", appended, "s", "");
    Measure::report("resident memory added by 1,000,000 lines", Measure::residentMiB() - rss0, "MiB", "");
    for (int i = 0; i < 500'000; ++i)
        log.appendStamped(QStringLiteral("99.99"));
    Measure::report("lines kept after 1,500,000 appended", log.lineCount(), "lines", ">= 1,000,000", "32,767");

    QTemporaryDir dir;
    QString error;
    const double s0 = Measure::monotonicSeconds();
    const bool ok = LogFiles::save(log, dir.filePath(QStringLiteral("log.txt")), &error);
    Measure::report("save the kept lines", ok ? Measure::monotonicSeconds() - s0 : -1, "s", "");
    return 0;
}
