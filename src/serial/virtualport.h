#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// A null-modem cable inside the program: two pseudo-terminals whose master sides are joined,
// so the program opens one slave as its serial port and host software opens the other by
// its path. One pair is not enough, because a pty master has no path that a serial-port
// component or a host program could open. The cable lasts as long as this object.
class VirtualPort : public QObject
{
    Q_OBJECT

public:
    explicit VirtualPort(QObject *parent = nullptr);
    ~VirtualPort() override;
    VirtualPort(const VirtualPort &) = delete;
    VirtualPort &operator=(const VirtualPort &) = delete;

    // Lays the cable; false with the system's reason in error.
    bool open(QString *error);

    // The program's end, to be opened like any serial device.
    QString portPath() const { return m_port.path; }
    // The end for the host software.
    QString hostPath() const { return m_host.path; }

private:
    struct End
    {
        int master = -1;
        // Held open for the cable's life: when the last opener of a slave closes it, the master
        // hangs up and keeps reporting so, and a host that reconnects would find no line.
        int slave = -1;
        QString path;
        QSocketNotifier *notifier = nullptr;
    };

    static bool openEnd(End &end, QString *error);
    static void closeEnd(End &end);
    void carry(End &from, End &to);

    End m_port;
    End m_host;
};
