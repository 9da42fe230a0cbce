#include "startoptions.h"

#include "appfolder.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

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
const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");
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
            { kHelp, QString() },
            { kVersion, QString() },
    });
    if (!parser.parse(arguments)) {
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

QString StartOptions::usage()
{
    return QStringLiteral(
            "usage: kalo_rs232c [--headless [--duration SECONDS]] [--virtual-port | --port DEVICE]\n"
            "                   [--folder DIR] [--profile FILE] [--seed N]\n"
            "       kalo_rs232c --headless (--virtual-port | --port DEVICE) --record DEVICE\n"
            "                   [--folder DIR] [--duration SECONDS]\n"
            "       kalo_rs232c --check-profile FILE\n"
            "       kalo_rs232c --help | --version\n"
            "\n"
            "  --headless          run without windows: start communicating at once, write each\n"
            "                      log line to standard output (a reader that falls behind gets\n"
            "                      LOG_LINES_SKIPPED=N instead of lines; the saved log has all);\n"
            "                      SIGINT or SIGTERM stops sending at once, without the pending\n"
            "                      cycle, lets queued output drain (3 s at most), saves the log\n"
            "                      to LogData/ and prints LOG_FILE=<path>\n"
            "  --duration SECONDS  with --headless: a stop request after this many seconds\n"
            "  --virtual-port      make a pseudo-terminal pair and use one end as the port;\n"
            "                      the host end is printed first as HOST_PORT=<path>\n"
            "  --port DEVICE       use DEVICE instead of the device of the port number\n"
            "  --folder DIR        application folder (settings files, LogData, lock)\n"
            "  --profile FILE      instrument profile instead of the folder's Instrument.toml\n"
            "  --seed N            seed of the profile's random values and faults, instead of\n"
            "                      the profile's own\n"
            "  --check-profile FILE  check a profile and exit: 0 when it can be used, 3 with\n"
            "                      FILE:LINE:COL: reason lines on standard error otherwise\n"
            "  --record DEVICE     with --headless: relay between the host's port and the\n"
            "                      instrument on DEVICE, log both ways, and at the end write\n"
            "                      the instrument as DIR/Recorded.toml, printing\n"
            "                      RECORDED=<path>\n"
            "  --help              print this text\n"
            "  --version           print the version\n");
}

QString StartOptions::resolveFolder(const QString &executableFolder, QString *error) const
{
    if (appFolder.isEmpty()) {
        const QString found = AppFolder::resolve(executableFolder);
        if (found.isEmpty())
            *error = QStringLiteral("no folder where the settings can be kept");
        return found;
    }
    // A mistyped folder is not made silently: settings and logs would land where nobody looks.
    if (!QFileInfo(appFolder).isDir()) {
        *error = QStringLiteral("--folder: %1: no such folder").arg(appFolder);
        return QString();
    }
    return QDir(appFolder).absolutePath();
}
