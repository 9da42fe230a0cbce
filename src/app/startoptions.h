#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks for. Both front ends take the same options; only the headless
// one ends by itself after a time.
struct StartOptions
{
    bool headless = false;
    bool virtualPort = false;
    bool help = false;
    bool version = false;
    // The virtual port carries bytes at the line's speed; --pace none lets them through at once.
    bool paced = true;
    QString portDevice; // instead of the device that the port number maps to
    QString appFolder; // instead of the folder the program finds for itself
    std::optional<double> durationSeconds;
    QString profileFile; // instead of the folder's Instrument.toml
    std::optional<quint64> seed; // instead of the profile's seed
    QString checkProfile; // check this profile and exit
    QString recordDevice; // relay to the instrument on this device and record it
    QString eventsFile; // JSON lines of the line's events; "-" is standard output
    QString controlPath; // Unix socket taking requests while the run goes on
    QString hostLinkPath; // a symbolic link to the virtual port's host end
    QStringList execCommand; // --exec: the host program and its arguments, given after --
    QString deviceName; // --exec: the device the host program opens for the host end

    static QString standardOutputName() { return QStringLiteral("-"); }
    bool eventsToStandardOutput() const { return eventsFile == standardOutputName(); }
    static QString defaultDeviceName() { return QStringLiteral("/dev/ttyUSB0"); }

    // Exit codes beyond 0 (fine), 1 (the run failed) and 2 (a bad command line).
    static constexpr int kBadProfile = 3;

    // Reads the whole command line, program name first. Nothing, and the reason naming the
    // offending option or value, when something is not understood.
    static std::optional<StartOptions> parse(const QStringList &arguments, QString *error);

    // The application folder as an absolute path: --folder, made if missing when its parent
    // exists, or else the folder AppFolder finds beside the executable. Empty with the reason when there is none.
    QString resolveFolder(const QString &executableFolder, QString *error) const;
};
