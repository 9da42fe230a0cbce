#include "headlessprogram.h"

#include "consolelines.h"
#include "headlessrun.h"
#include "instancelock.h"
#include "programversion.h"
#include "startoptions.h"
#include "stopsignals.h"
#include "texts.h"
#include "virtualport.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {
void complain(const QString &text)
{
    std::fprintf(stderr, "kalo_rs232c: %s\n", text.toUtf8().constData());
}
} // namespace

int runHeadless(int &argc, char **argv, const StartOptions &options)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalo_rs232c"));
    QCoreApplication::setApplicationVersion(ProgramVersion::fileVersion());
    // Standard output may be a pipe whose reader leaves early; the run goes on and saves.
    std::signal(SIGPIPE, SIG_IGN);

    QString error;
    const QString folder = options.resolveFolder(QCoreApplication::applicationDirPath(), &error);
    if (folder.isEmpty()) {
        complain(error);
        return 1;
    }
    InstanceLock lock;
    if (!lock.acquire(folder)) {
        complain(QStringLiteral("%1 (another instance uses %2)").arg(Texts::alreadyRunning(), folder));
        return 1;
    }
    StopSignals stopSignals;
    if (!stopSignals.install(&error)) {
        complain(error);
        return 1;
    }

    ConsoleLines console(stdout);
    VirtualPort virtualPort;
    QString device = options.portDevice;
    if (options.virtualPort) {
        if (!virtualPort.open(&error)) {
            complain(QStringLiteral("the virtual port cannot be made: %1").arg(error));
            return 1;
        }
        device = virtualPort.portPath();
        console.print(QStringLiteral("HOST_PORT=") + virtualPort.hostPath());
    }

    HeadlessRun run(folder, console);
    run.setPortDevice(device);
    if (options.virtualPort)
        run.setOutputCable(&virtualPort);
    if (options.durationSeconds)
        run.setDuration(*options.durationSeconds);
    if (!run.prepare(&error)) {
        complain(error);
        return 1;
    }
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &run, &HeadlessRun::requestStop);
    QObject::connect(&run, &HeadlessRun::finished, &app,
                     [&console](bool saved, const QString &logFile, const QString &problem) {
                         if (saved) {
                             console.print(QStringLiteral("LOG_FILE=") + logFile);
                         } else {
                             complain(QStringLiteral("the log cannot be saved: %1").arg(problem));
                         }
                         QCoreApplication::exit(saved ? 0 : 1);
                     });
    QTimer::singleShot(0, &run, &HeadlessRun::begin);
    return app.exec();
}
