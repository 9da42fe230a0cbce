#include "headlessprogram.h"

#include "appfolder.h"
#include "consolelines.h"
#include "headlessrun.h"
#include "instancelock.h"
#include "logfiles.h"
#include "programversion.h"
#include "recordprogram.h"
#include "startoptions.h"
#include "stopsignals.h"
#include "texts.h"
#include "virtualport.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

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
    // Every refusal comes before the port is made or named: a harness waiting for HOST_PORT=
    // gets an exit at once, not a run whose log cannot be saved at its end.
    InstanceLock lock;
    switch (lock.acquire(folder, &error)) {
    case InstanceLock::Result::Acquired:
        break;
    case InstanceLock::Result::HeldElsewhere:
        complain(QStringLiteral("%1 (another instance uses %2)").arg(Texts::alreadyRunning(), folder));
        return 1;
    case InstanceLock::Result::Unavailable:
        complain(error);
        return 1;
    }
    if (!AppFolder::ensureWritableFolder(AppFolder::filePath(folder, LogFiles::folderName()), &error)) {
        complain(QStringLiteral("the log cannot be saved there: %1").arg(error));
        return 1;
    }
    StopSignals stopSignals;
    if (!stopSignals.install(&error)) {
        complain(error);
        return 1;
    }

    ConsoleLines console(STDOUT_FILENO);
    VirtualPort virtualPort;
    QString device = options.portDevice;
    if (options.virtualPort) {
        if (!virtualPort.open(&error)) {
            complain(QStringLiteral("the virtual port cannot be made: %1").arg(error));
            return 1;
        }
        device = virtualPort.portPath();
    }

    if (!options.recordDevice.isEmpty()) {
        if (options.virtualPort)
            console.print(QStringLiteral("HOST_PORT=") + virtualPort.hostPath());
        return runRecording(console, stopSignals, folder, device,
                            options.virtualPort ? &virtualPort : nullptr, options);
    }
    HeadlessRun run(folder, console);
    // A profile that cannot be used refuses the run before the host is told of a port.
    if (!run.loadProfile(options.profileFile, options.seed, &error)) {
        complain(error);
        return StartOptions::kBadProfile;
    }
    if (options.virtualPort)
        console.print(QStringLiteral("HOST_PORT=") + virtualPort.hostPath());
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
                         if (saved)
                             console.print(QStringLiteral("LOG_FILE=") + logFile);
                         console.finish();
                         if (!saved)
                             complain(QStringLiteral("the log cannot be saved: %1").arg(problem));
                         QCoreApplication::exit(saved ? 0 : 1);
                     });
    QTimer::singleShot(0, &run, &HeadlessRun::begin);
    return app.exec();
}
