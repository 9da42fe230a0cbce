#include "headless/headlessprogram.h"

#include "app/programversion.h"
#include "app/startoptions.h"
#include "app/texts.h"
#include "headless/consolelines.h"
#include "headless/controlserver.h"
#include "headless/eventstream.h"
#include "headless/headlessrun.h"
#include "headless/stopsignals.h"
#include "log/logfiles.h"
#include "platform/appfolder.h"
#include "platform/descriptorlimit.h"
#include "platform/hostdevice.h"
#include "platform/hostlink.h"
#include "platform/instancelock.h"
#include "platform/sessionclock.h"
#include "platform/standardoutput.h"
#include "record/recordprogram.h"
#include "serial/virtualport.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {
// Replies already written get this long to reach a client that asked for the stop.
constexpr int kReplyDrainMs = 1000;

void complain(const QString &text)
{
    std::fprintf(stderr, "kalo_rs232c: %s\n", text.toUtf8().constData());
}

QString countsLine(const LineCounters &counters)
{
    // Keys are only ever added at the end: harnesses read them by name.
    return QStringLiteral(
                   "COUNTS=commands_seen=%1 answered=%2 dropped=%3 bytes_in=%4 bytes_out=%5 refused=%6")
            .arg(counters.commandsSeen)
            .arg(counters.answered)
            .arg(counters.dropped)
            .arg(counters.bytesIn)
            .arg(counters.bytesOut)
            .arg(counters.refused);
}

// The event stream: a file of its own, or standard output instead of the log lines.
bool openEvents(const StartOptions &options, ConsoleLines &console, EventStream &events,
                QString *error)
{
    if (options.eventsToStandardOutput()) {
        events.shareWriter(console.writer());
        return true;
    }
    if (options.eventsFile.isEmpty() || events.openFile(options.eventsFile, error))
        return true;
    if (!error->isEmpty())
        return false;
    // The stop is served as one before the run began; the stream simply never had a reader.
    complain(QStringLiteral("--events: %1: stopped while waiting for a reader; no events are "
                            "written")
                     .arg(options.eventsFile));
    return true;
}

// The port the host software talks to: the virtual port's host end, linked where asked, or
// else the device given. Nothing is opened here.
bool makeHostSide(const StartOptions &options, VirtualPort &virtualPort, HostLink &hostLink,
                  QString *device, QString *error)
{
    *device = options.portDevice;
    if (!options.virtualPort)
        return true;
    if (!virtualPort.open(error)) {
        *error = QStringLiteral("the virtual port cannot be made: %1").arg(*error);
        return false;
    }
    virtualPort.setPacingAllowed(options.paced);
    if (!options.hostLinkPath.isEmpty()
        && !hostLink.make(options.hostLinkPath, virtualPort.hostPath(), error))
        return false;
    *device = virtualPort.portPath();
    return true;
}
void hostLineToCable(const HostLineSettings &host, VirtualPort &cable)
{
    UartFormat format;
    format.baud = host.baud;
    format.dataBits = host.dataBits;
    format.parity = host.parity;
    format.stopHalfBits = host.stopHalfBits;
    // The host's pty is given neither ISTRIP nor PARMRK (the device keeps them): the model
    // applies both, marks and all.
    UartReceiverFlags flags;
    flags.ignoreParityErrors = host.ignpar;
    flags.markErrors = host.parmrk;
    flags.stripHighBit = host.istrip;
    flags.checkParity = host.inpck;
    flags.ignoreBreak = host.ignbrk;
    cable.setHostLine(format, flags);
}
} // namespace

int runHeadless(int &argc, char **argv, const StartOptions &options)
{
    const qint64 runStartNs = SessionClock::steady().nowNs();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalo_rs232c"));
    QCoreApplication::setApplicationVersion(ProgramVersion::fileVersion());
    // Standard output may be a pipe whose reader leaves early; the run goes on and saves.
    StandardOutput::outliveReaders();

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

    ConsoleLines console(StandardOutput::descriptor());
    // The run's port writes toward the cable until the run is gone.
    VirtualPort virtualPort;
    HostLink hostLink;
    EventStream events(runStartNs);
    // Every path given for the harness is taken or refused before the port is made.
    if (!options.hostLinkPath.isEmpty() && !HostLink::check(options.hostLinkPath, &error)) {
        complain(error);
        return 1;
    }
    QString device;
    if (!options.recordDevice.isEmpty()) {
        if (!openEvents(options, console, events, &error)
            || !makeHostSide(options, virtualPort, hostLink, &device, &error)) {
            complain(error);
            return 1;
        }
        // The real instrument's line sets the pace of a recording; the cable to the host
        // adds none of its own.
        virtualPort.setPacingAllowed(false);
        return runRecording(console, events, stopSignals, folder, device,
                            options.virtualPort ? &virtualPort : nullptr,
                            options.virtualPort ? virtualPort.hostPath() : QString(), options);
    }
    HeadlessRun run(folder);
    // A profile that cannot be used refuses the run before anything is made for it.
    if (!run.loadProfile(options.profileFile, options.seed, &error)) {
        complain(error);
        return StartOptions::kBadProfile;
    }
    ControlServer control(run.session());
    const long descriptorLimit = DescriptorLimit::raiseToHard();
    if ((!options.controlPath.isEmpty()
         && !control.listen(options.controlPath, descriptorLimit, &error))
        || !openEvents(options, console, events, &error)
        || !makeHostSide(options, virtualPort, hostLink, &device, &error)) {
        complain(error);
        return 1;
    }
    if (options.virtualPort)
        console.print(QStringLiteral("HOST_PORT=") + virtualPort.hostPath());
    if (!options.eventsToStandardOutput())
        console.follow(run.log());
    if (!options.eventsFile.isEmpty())
        events.follow(run.session());
    events.setProblemLog(&run.log());
    run.setPortDevice(device);
    run.setPacingAllowed(options.paced);
    if (options.virtualPort)
        run.setOutputCable(&virtualPort);
    if (options.durationSeconds)
        run.setDuration(*options.durationSeconds);
    if (!run.prepare(&error)) {
        complain(error);
        return 1;
    }
    // --exec: the host program's end decides the run's, its exit code the program's.
    HostDevice hostDevice;
    std::optional<int> hostExit;
    bool stoppedFirst = false; // the run stopped before the host ended
    if (!options.execCommand.isEmpty()) {
        // The instrument's lines as the session has them, the host's as the host sets them.
        const auto seeLines = [&hostDevice](const ModemLines &lines) {
            hostDevice.setLinesSeenByHost(lines.cts, lines.dsr, lines.dcd, lines.ri);
        };
        // The host's first look finds the profile's lines, before communication starts.
        run.session().setInstrumentLines(run.session().profile().lines());
        seeLines(run.session().instrumentLines());
        QObject::connect(&run.session(), &CommSession::instrumentLinesChanged, &hostDevice,
                         seeLines);
        QObject::connect(&hostDevice, &HostDevice::hostLinesChanged, &run.session(),
                         &CommSession::hostLinesChanged);
        QObject::connect(&hostDevice, &HostDevice::breakFromHost, &run.session(),
                         &CommSession::breakFromHost);
        if (!hostDevice.start(virtualPort.hostPath(), options.deviceName, options.execCommand,
                              &error)) {
            complain(QStringLiteral("--exec: %1").arg(error));
            return 1;
        }
        // The device knows the host's settings whole: the cable carries the bytes by them.
        hostLineToCable(hostDevice.hostSettings(), virtualPort);
        QObject::connect(&hostDevice, &HostDevice::hostSettingsChanged, &run,
                         [&virtualPort](const HostLineSettings &settings) {
                             hostLineToCable(settings, virtualPort);
                         });
        QObject::connect(&hostDevice, &HostDevice::finished, &run, [&](int code) {
            if (!stoppedFirst)
                hostExit = code;
            run.requestStop();
        });
        // Any other stop (a signal, the control channel, --duration) ends the host too.
        QObject::connect(&run.session(), &CommSession::communicatingChanged, &hostDevice,
                         [&hostDevice, &stoppedFirst](bool communicating) {
                             if (communicating || !hostDevice.isRunning())
                                 return;
                             stoppedFirst = true;
                             hostDevice.terminate();
                         });
    }
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &run, &HeadlessRun::requestStop);
    QObject::connect(&control, &ControlServer::stopRequested, &run, &HeadlessRun::requestStop);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &control,
                     &ControlServer::refuseRequests);
    // A stop of the run's own (the end of --duration) ends the requests as well.
    QObject::connect(&run.session(), &CommSession::communicatingChanged, &control,
                     [&control](bool communicating) {
                         if (!communicating)
                             control.refuseRequests();
                     });
    QObject::connect(&run, &HeadlessRun::finished, &app,
                     [&](bool saved, const QString &logFile, const QString &problem) {
                         if (saved)
                             console.print(QStringLiteral("LOG_FILE=") + logFile);
                         console.print(countsLine(run.session().counters()));
                         control.finish(kReplyDrainMs);
                         if (!saved)
                             events.tellLogNotSaved(problem);
                         events.finish();
                         console.finish();
                         if (!saved)
                             complain(QStringLiteral("the log cannot be saved: %1").arg(problem));
                         const int code = saved && !events.failed() ? hostExit.value_or(0) : 1;
                         // A host still running was told to end with the stop: its end is
                         // waited for, so it never outlives the program.
                         if (!hostDevice.isRunning()) {
                             QCoreApplication::exit(code);
                             return;
                         }
                         QObject::connect(&hostDevice, &HostDevice::finished, &app,
                                          [code] { QCoreApplication::exit(code); });
                         hostDevice.terminate();
                     });
    QTimer::singleShot(0, &run, &HeadlessRun::begin);
    return app.exec();
}
