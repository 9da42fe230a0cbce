#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// A temporary application folder with the settings files a user would have after
// confirming the settings dialog's defaults.
class SettingsFolder
{
public:
    SettingsFolder() { m_dir.setAutoRemove(true); }

    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return QDir(m_dir.path()).filePath(name); }

    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(file(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    QByteArray read(const QString &name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static QByteArray defaultComm() { return QByteArrayLiteral("\"1\",\"9600\",\"N\",\"8\",\"1\"\r\n"); }
    static QByteArray defaultProtocol(const QByteArray &outputType = "0", const QByteArray &interval = "1")
    {
        return "\"" + outputType + "\",\"" + interval
                + "\",\"99.99\",\"4569.12\",\"49.12cm\",\"\",\"\",\"\",\"ABC+[CR]+[LF]\","
                  "\"[ACK]+ODF+[NCK]\",\"\",\"\",\"\"\r\n";
    }
    // The converted defaults: continuous output, device commands 1-5, output data 1-5.
    static QByteArray defaultCommands()
    {
        return QByteArrayLiteral("\"99.99\",\"ABC+\r+\n\",\"\x06+ODF+\",\"\",\"\",\"\","
                                 "\"4569.12\",\"49.12cm\",\"\",\"\",\"\"\r\n");
    }

    // Default files, with COM1 linked to devicePath when one is given.
    void writeDefaults(const QString &devicePath = QString(), const QByteArray &outputType = "0",
                       const QByteArray &interval = "1") const
    {
        write(QStringLiteral("ACSet.txt"), defaultComm());
        write(QStringLiteral("PROTcol.txt"), defaultProtocol(outputType, interval));
        write(QStringLiteral("SOUCHICMD.txt"), defaultCommands());
        write(QStringLiteral("ACSet2.txt"), QByteArrayLiteral("\"1\"\r\n"));
        if (!devicePath.isEmpty())
            QFile::link(devicePath, file(QStringLiteral("COM1")));
    }

    // Port 1 of this folder names a device that is not there, so no test opens a real port
    // of the machine by accident, nor a freed pty that another process has taken since.
    void linkMissingCom1() const
    {
        QFile::remove(file(QStringLiteral("COM1")));
        QFile::link(file(QStringLiteral("no-such-device")), file(QStringLiteral("COM1")));
    }

private:
    QTemporaryDir m_dir;
};
