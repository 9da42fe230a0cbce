#include "log/commlog.h"
#include "log/logfiles.h"
#include "measure.h"

#include <QApplication>
#include <QListView>
#include <QTemporaryDir>

// A long unattended run: a million log lines, then saving them; and the same lines with a
// list on screen that follows them, as the main window's does.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const double rss0 = Measure::residentMiB();
    CommLog log;
    const double t0 = Measure::monotonicSeconds();
    for (int i = 0; i < 1'000'000; ++i)
        log.appendStamped(QStringLiteral("99.99"));
    const double appended = Measure::monotonicSeconds() - t0;
    Measure::report("append 1,000,000 log lines", appended, "s", "<= 0.5", "1.4-3.7");
    Measure::report("resident memory added by 1,000,000 lines", Measure::residentMiB() - rss0,
                    "MiB", "", "32.2");
    for (int i = 0; i < 500'000; ++i)
        log.appendStamped(QStringLiteral("99.99"));
    Measure::report("lines kept after 1,500,000 appended", log.lineCount(), "lines", ">= 1,000,000", "32,767");

    QTemporaryDir dir;
    QString error;
    const double s0 = Measure::monotonicSeconds();
    const bool ok = LogFiles::save(log, dir.filePath(QStringLiteral("log.txt")), &error);
    Measure::report("save the kept lines", ok ? Measure::monotonicSeconds() - s0 : -1, "s",
                    "<= 0.2", "0.07");

    // Events run every thousand lines, as often as a busy port would let them.
    CommLog followed;
    QListView view;
    view.setUniformItemSizes(true);
    view.setModel(&followed);
    QObject::connect(&followed, &QAbstractItemModel::rowsInserted, &view,
                     &QListView::scrollToBottom);
    view.resize(569, 256);
    view.show();
    int batches = 0;
    QObject::connect(&followed, &QAbstractItemModel::rowsInserted, &view, [&] { ++batches; });
    const double f0 = Measure::monotonicSeconds();
    for (int i = 0; i < 1'000'000; ++i) {
        followed.appendStamped(QStringLiteral("99.99"));
        if (i % 1000 == 999)
            QCoreApplication::processEvents();
    }
    followed.announceAppendedRows();
    QCoreApplication::processEvents();
    const double followedSeconds = Measure::monotonicSeconds() - f0;
    Measure::report("append 1,000,000 log lines with the list following", followedSeconds, "s", "");
    Measure::report("list updates per second meanwhile", batches / followedSeconds, "1/s", "<= 30");
    return 0;
}
