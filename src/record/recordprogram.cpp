#include "record/recordprogram.h"

#include "app/startoptions.h"
#include "headless/consolelines.h"
#include "headless/eventstream.h"
#include "headless/stopsignals.h"
#include "record/recordrun.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int runRecording(ConsoleLines &console, EventStream &events, StopSignals &stopSignals,
                 const QString &folder, const QString &hostDevice, OutputCable *hostCable,
                 const QString &hostPort, const StartOptions &options)
{
    RecordRun run(folder);
    if (!options.eventsToStandardOutput())
        console.follow(run.log());
    if (!options.eventsFile.isEmpty())
        events.follow(run.relay());
    events.setProblemLog(&run.log());
    run.setHostPort(hostDevice, hostCable);
    run.setInstrumentDevice(options.recordDevice);
    if (options.durationSeconds)
        run.setDuration(*options.durationSeconds);
    QString error;
    if (!run.prepare(&error)) {
        std::fprintf(stderr, "kalo_rs232c: %s\n", error.toUtf8().constData());
        return 1;
    }
    // Named only now, so that a harness waiting for it never waits on a run that cannot relay.
    if (!hostPort.isEmpty())
        console.print(QStringLiteral("HOST_PORT=") + hostPort);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &run, &RecordRun::requestStop);
    QObject::connect(&run, &RecordRun::finished, &run,
                     [&console, &events](bool saved, const QString &recorded,
                                         const QString &logFile, const QString &problem) {
                         if (!recorded.isEmpty())
                             console.print(QStringLiteral("RECORDED=") + recorded);
                         if (!logFile.isEmpty())
                             console.print(QStringLiteral("LOG_FILE=") + logFile);
                         if (!saved && logFile.isEmpty())
                             events.tellLogNotSaved(problem);
                         events.finish();
                         console.finish();
                         if (!saved)
                             std::fprintf(stderr, "kalo_rs232c: %s\n",
                                          problem.toUtf8().constData());
                         QCoreApplication::exit(saved && !events.failed() ? 0 : 1);
                     });
    QTimer::singleShot(0, &run, &RecordRun::begin);
    return QCoreApplication::exec();
}
