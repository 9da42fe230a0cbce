#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

class QProcess;
class QTemporaryDir;
class DeviceServer;

// The line as the host program set it on its device, not as the pseudo-terminal under it
// keeps it: the pty forces 8 data bits and no parity.
struct HostLineSettings
{
    int baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // N, E, O, M (mark) or S (space)
    int stopHalfBits = 2; // 2 = 1, 3 = 1.5, 4 = 2
    bool ignpar = false;
    bool parmrk = false;
    bool inpck = false;
    bool istrip = false;
    bool ignbrk = false;
    bool ixon = false;
    bool ixoff = false;
    bool crtscts = false;

    bool operator==(const HostLineSettings &other) const;
    bool operator!=(const HostLineSettings &other) const { return !(*this == other); }
};

// One host program run against the virtual port's host end as if it were a serial device
// of its own, /dev/ttyUSB0 or another name: a preload library in the host (and its children)
// maps the name to the pty, gives it an entry under /sys/class/tty, and answers the ioctls a
// pty has not (the modem lines, breaks, the termios the host set) from this object. Nobody
// else sees the device. What the host does to the line is told on the thread that made this
// object.
class HostDevice : public QObject
{
    Q_OBJECT

public:
    static constexpr int kGraceMs = 2000; // between SIGTERM and SIGKILL

    explicit HostDevice(QObject *parent = nullptr);
    ~HostDevice() override;

    // Starts command (the program, then its arguments) with deviceName standing for
    // hostEndPath. False with the reason when the device cannot be made or the program
    // cannot be started.
    bool start(const QString &hostEndPath, const QString &deviceName, const QStringList &command,
               QString *error);
    bool isRunning() const;

    // What the host reads with TIOCMGET; a change counts for TIOCGICOUNT and ends a
    // TIOCMIWAIT on that line. Before start() too: the host's first look.
    void setLinesSeenByHost(bool cts, bool dsr, bool dcd, bool ri);
    // The host's last settings; any thread may ask.
    HostLineSettings hostSettings() const;

    // SIGTERM, then SIGKILL when the host is still there after kGraceMs.
    void terminate();

signals:
    void hostSettingsChanged(const HostLineSettings &settings);
    void hostLinesChanged(bool dtr, bool rts);
    void breakFromHost(int ms);
    // The host's exit code, or 128 + the signal that ended it.
    void finished(int exitCode);

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DeviceServer> m_server;
    QProcess *m_process = nullptr;
    QTimer m_kill;
    unsigned m_seenLines;
};
