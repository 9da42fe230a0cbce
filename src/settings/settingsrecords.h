#pragma once

#include <QByteArray>
#include <QString>

#include <array>

// The four settings records. All fields are text, as stored; numbers are read where used.

struct CommSettings // ACSet.txt
{
    QString PortNumber;
    QString BaudRate;
    QString Parity;
    QString DataBits;
    QString StopBits;

    // "9600,N,8,1": the text given to the port and shown in the status bar.
    QString settingsString() const
    {
        return BaudRate + QLatin1Char(',') + Parity + QLatin1Char(',') + DataBits
                + QLatin1Char(',') + StopBits;
    }
};

constexpr int kPatternCount = 5;

struct ProtocolSettings // PROTcol.txt
{
    QString OutputType; // "0" continuous output, "1" output on each receive
    QString IntervalSeconds;
    QString ContinuousOutputText;
    std::array<QString, kPatternCount> OutputDataText;
    std::array<QString, kPatternCount> DeviceCommandText;
};

// SOUCHICMD.txt: the texts above converted to the bytes that travel on the line.
struct DeviceCommandTable
{
    QByteArray ContinuousOutputBytes;
    std::array<QByteArray, kPatternCount> DeviceCommandBytes;
    std::array<QByteArray, kPatternCount> OutputDataBytes;
};

struct SettingsRecords
{
    CommSettings comm;
    // Rebuilt whenever ACSet.txt is read; stays as it was when the file has no record.
    QString CommSettingsString;
    ProtocolSettings protocol;
    DeviceCommandTable commands;
    QString ShowAtStartup; // ACSet2.txt: "1" shows the main window at start-up
};

namespace SettingsFileNames {
inline const QString comm() { return QStringLiteral("ACSet.txt"); }
inline const QString protocol() { return QStringLiteral("PROTcol.txt"); }
inline const QString commands() { return QStringLiteral("SOUCHICMD.txt"); }
inline const QString startup() { return QStringLiteral("ACSet2.txt"); }
} // namespace SettingsFileNames
