#pragma once

#include "platform/pseudoterminal.h"
#include "platform/wakepipe.h"
#include "serial/outputcable.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

// A null-modem cable inside the program: two pseudo-terminals whose master sides are joined,
// so the program opens one slave as its serial port and host software opens the other by
// its path. One pair is not enough, because a pty master has no path that a serial-port
// component or a host program could open. The cable lasts as long as this object.
//
// Like a real cable with flow control in the driver, nothing is lost on the way: while the
// host's side is full the relay stops taking from the program's side, whose driver then
// holds the program's output back. The relay runs on a thread of its own, so a wait on the
// program's thread never stalls the line.
class VirtualPort : public QObject, public OutputCable
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
    QString portPath() const { return m_port.path(); }
    // The end for the host software.
    QString hostPath() const { return m_host.path(); }

    // Bytes on their way to the host that it has not read yet, given how many the program's
    // driver has taken in all: in the program's pty, in the relay and unread at the host's
    // end. Closing the cable throws these away.
    qint64 bytesTowardHost(qint64 takenFromProgram) const override;
    qint64 discardTowardHost(qint64 takenFromProgram) override;

    // One leg of the relay: bytes read from one master and not yet written to the other.
    struct Leg
    {
        static constexpr size_t kChunk = 4096;
        char data[kChunk];
        size_t begin = 0;
        size_t end = 0;
        bool empty() const { return begin == end; }
        size_t size() const { return end - begin; }
    };

private:
    void relay();

    PseudoTerminal m_port;
    PseudoTerminal m_host;
    WakePipe m_wake;
    std::thread m_relay;
    // Held by the relay while it moves bytes, not while it waits.
    mutable std::mutex m_moving;
    Leg m_toHost;
    Leg m_toPort;
    // Counted rather than asked of the ptys, whose flip buffers no ioctl reports.
    qint64 m_readFromProgram = 0;
    std::atomic<bool> m_stopping { false };
};
