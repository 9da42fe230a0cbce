#include "app/startoptions.h"

#include "platform/appfolder.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
const QString kHeadless = QStringLiteral("headless");
const QString kVirtualPort = QStringLiteral("virtual-port");
const QString kPort = QStringLiteral("port");
const QString kFolder = QStringLiteral("folder");
const QString kDuration = QStringLiteral("duration");
const QString kProfile = QStringLiteral("profile");
const QString kSeed = QStringLiteral("seed");
const QString kCheckProfile = QStringLiteral("check-profile");
const QString kRecord = QStringLiteral("record");
const QString kEvents = QStringLiteral("events");
const QString kControl = QStringLiteral("control");
const QString kHostLink = QStringLiteral("host-link");
const QString kPace = QStringLiteral("pace");
const QString kExec = QStringLiteral("exec");
const QString kDevice = QStringLiteral("device");
const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");

// The ways a harness follows and steers a headless run.
bool parseHarnessOptions(const QCommandLineParser &parser, StartOptions &options, QString *error)
{
    const struct {
        const QString &name;
        QString &value;
    } paths[] = {
        { kEvents, options.eventsFile },
        { kControl, options.controlPath },
        { kHostLink, options.hostLinkPath },
    };
    for (const auto &option : paths) {
        if (!parser.isSet(option.name))
            continue;
        option.value = parser.value(option.name);
        if (option.value.isEmpty()) {
            *error = QStringLiteral("--%1 needs a path").arg(option.name);
            return false;
        }
        if (!options.headless) {
            *error = QStringLiteral("--%1 is for --headless runs only").arg(option.name);
            return false;
        }
    }
    if (!options.controlPath.isEmpty() && parser.isSet(kRecord)) {
        *error = QStringLiteral("--control steers the instrument the program plays; --record "
                                "relays a real one");
        return false;
    }
    if (!options.hostLinkPath.isEmpty() && !options.virtualPort) {
        *error = QStringLiteral("--host-link links to the host end of --virtual-port; give both");
        return false;
    }
    return true;
}
// --exec: a host program on the virtual port's host end, seen by it as a serial device.
bool parseExec(const QCommandLineParser &parser, const QStringList &command, bool hasCommand,
               StartOptions &options, QString *error)
{
    if (!parser.isSet(kExec)) {
        if (hasCommand)
            *error = QStringLiteral("a command after -- is for --exec");
        else if (parser.isSet(kDevice))
            *error = QStringLiteral("--device names the device of --exec; give both");
        return !hasCommand && !parser.isSet(kDevice);
    }
    QString problem;
    options.deviceName = parser.isSet(kDevice) ? parser.value(kDevice)
                                               : StartOptions::defaultDeviceName();
    const QString name = options.deviceName.mid(5);
    if (command.isEmpty())
        problem = QStringLiteral("--exec needs the host program after --");
    else if (!options.headless)
        problem = QStringLiteral("--exec is for --headless runs only");
    else if (parser.isSet(kPort))
        problem = QStringLiteral("--exec runs the host on the virtual port; --port names another");
    else if (parser.isSet(kRecord))
        problem = QStringLiteral("--exec plays the instrument for the host; --record relays a "
                                 "real one");
    else if (!options.deviceName.startsWith(QLatin1String("/dev/")) || name.isEmpty()
             || name.contains(QLatin1Char('/')) || name == QLatin1String(".")
             || name == QLatin1String(".."))
        problem = QStringLiteral("--device: '%1' is not a name in /dev (such as /dev/ttyUSB0)")
                          .arg(options.deviceName);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    options.execCommand = command;
    options.virtualPort = true;
    return true;
}
} // namespace

std::optional<StartOptions> StartOptions::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.addOptions({
            { kHeadless, QString() },
            { kVirtualPort, QString() },
            { kPort, QString(), QStringLiteral("DEVICE") },
            { kFolder, QString(), QStringLiteral("DIR") },
            { kDuration, QString(), QStringLiteral("SECONDS") },
            { kProfile, QString(), QStringLiteral("FILE") },
            { kSeed, QString(), QStringLiteral("N") },
            { kCheckProfile, QString(), QStringLiteral("FILE") },
            { kRecord, QString(), QStringLiteral("DEVICE") },
            { kEvents, QString(), QStringLiteral("FILE") },
            { kControl, QString(), QStringLiteral("PATH") },
            { kHostLink, QString(), QStringLiteral("PATH") },
            { kPace, QString(), QStringLiteral("line|none") },
            { kExec, QString() },
            { kDevice, QString(), QStringLiteral("NAME") },
            { kHelp, QString() },
            { kVersion, QString() },
    });
    // What follows the first -- is the host program of --exec, options and all.
    const qsizetype dashes = arguments.indexOf(QStringLiteral("--"), 1);
    const QStringList command = dashes < 0 ? QStringList() : arguments.mid(dashes + 1);
    if (!parser.parse(dashes < 0 ? arguments : arguments.mid(0, dashes))) {
        *error = parser.errorText();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return std::nullopt;
    }

    StartOptions options;
    options.headless = parser.isSet(kHeadless);
    options.virtualPort = parser.isSet(kVirtualPort);
    options.help = parser.isSet(kHelp);
    options.version = parser.isSet(kVersion);
    options.portDevice = parser.value(kPort);
    options.appFolder = parser.value(kFolder);
    if (parser.isSet(kPort) && options.portDevice.isEmpty()) {
        *error = QStringLiteral("--port needs a device");
        return std::nullopt;
    }
    if (parser.isSet(kFolder) && options.appFolder.isEmpty()) {
        *error = QStringLiteral("--folder needs a folder");
        return std::nullopt;
    }
    if (parser.isSet(kPace)) {
        const QString pace = parser.value(kPace);
        if (pace != QLatin1String("line") && pace != QLatin1String("none")) {
            *error = QStringLiteral("--pace must be line or none");
            return std::nullopt;
        }
        options.paced = pace == QLatin1String("line");
    }
    if (options.virtualPort && parser.isSet(kPort)) {
        *error = QStringLiteral("--port and --virtual-port both name the port; give one");
        return std::nullopt;
    }
    options.profileFile = parser.value(kProfile);
    options.checkProfile = parser.value(kCheckProfile);
    if ((parser.isSet(kProfile) && options.profileFile.isEmpty())
        || (parser.isSet(kCheckProfile) && options.checkProfile.isEmpty())) {
        *error = QStringLiteral("--profile and --check-profile need a file");
        return std::nullopt;
    }
    if (parser.isSet(kRecord)) {
        options.recordDevice = parser.value(kRecord);
        QString problem;
        // A recording sits between two lines: without the host's it would relay to nobody.
        if (options.recordDevice.isEmpty())
            problem = QStringLiteral("--record needs a device");
        else if (!options.headless)
            problem = QStringLiteral("--record is for --headless runs only");
        else if (!options.virtualPort && !parser.isSet(kPort))
            problem = QStringLiteral("--record needs the host's side: --virtual-port or --port");
        else if (parser.isSet(kProfile) || parser.isSet(kSeed))
            problem = QStringLiteral("--record relays a real instrument; --profile and --seed "
                                     "play one");
        if (!problem.isEmpty()) {
            *error = problem;
            return std::nullopt;
        }
    }
    if (parser.isSet(kSeed)) {
        bool ok = false;
        options.seed = parser.value(kSeed).toULongLong(&ok);
        if (!ok) {
            *error = QStringLiteral("--seed: '%1' is not a whole number from 0 to 2^64-1")
                             .arg(parser.value(kSeed));
            return std::nullopt;
        }
    }
    if (!parseExec(parser, command, dashes >= 0, options, error)
        || !parseHarnessOptions(parser, options, error))
        return std::nullopt;
    if (parser.isSet(kDuration)) {
        bool ok = false;
        const QString text = parser.value(kDuration);
        const double seconds = QLocale::c().toDouble(text, &ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0) {
            *error = QStringLiteral("--duration: '%1' is not a number of seconds").arg(text);
            return std::nullopt;
        }
        if (!options.headless) {
            *error = QStringLiteral("--duration is for --headless runs only");
            return std::nullopt;
        }
        options.durationSeconds = seconds;
    }
    return options;
}

QString StartOptions::resolveFolder(const QString &executableFolder, QString *error) const
{
    if (appFolder.isEmpty()) {
        QStringList refused;
        const QString found = AppFolder::resolve(executableFolder, &refused);
        if (found.isEmpty())
            *error = QStringLiteral("no folder where the settings can be kept: tried %1; "
                                    "name one with --folder DIR")
                             .arg(refused.join(QStringLiteral(", then ")));
        return found;
    }
    const QFileInfo folder(appFolder);
    if (folder.isDir())
        return QDir(appFolder).absolutePath();
    if (folder.exists() || folder.isSymLink()) {
        *error = QStringLiteral("--folder: %1: not a folder").arg(appFolder);
        return QString();
    }
    // A new folder is made, but not a chain of them: a mistyped parent would put settings
    // and logs where nobody looks.
    const QString parent = QFileInfo(folder.absoluteFilePath()).absolutePath();
    if (!QFileInfo(parent).isDir()) {
        *error = QStringLiteral("--folder: %1: no such folder (%2)")
                         .arg(appFolder, QStringLiteral("its parent %1 does not exist").arg(parent));
        return QString();
    }
    // Own-only, as the log folder inside: whoever could write here could plant links.
    if (!QDir().mkdir(folder.absoluteFilePath(),
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        *error = QStringLiteral("--folder: %1: cannot be made: %2")
                         .arg(appFolder, QString::fromLocal8Bit(std::strerror(errno)));
        return QString();
    }
    return QDir(appFolder).absolutePath();
}
