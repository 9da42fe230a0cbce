#pragma once

#include "platform/pseudoterminal.h"
#include "platform/wakepipe.h"
#include "serial/cabledirection.h"
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
// Like a real line, bytes take their time: each direction is paced at its sender's speed
// (the instrument's settings one way, the host's the other), unless pacing is off. The host's
// speed is what the host set on its end, looked at while the relay runs; until a host sets
// one, its end follows the instrument's. A host at another speed than the instrument's is
// reported to whoever watches the line.
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
    bool carriesInput(qint64 takenByProgram) override;
    void setInstrumentLine(const CommParameters &line, bool paced) override;
    void watchLine(LineWatcher watcher) override;
    void setFlow(LineFlow flow) override;
    void setHostReady(bool ready) override;
    void sendAhead(char byte) override;
    void sendBreak(int ms, qint64 takenFromProgram) override;
    // Whether the run lets the cable pace at all (--pace none does not); on until told.
    void setPacingAllowed(bool allowed);
    // The host's settings whole, from a device that knows them (a pty keeps only the
    // speed): from now on these, not the speed the relay looks at, are the host's.
    void setHostLine(const UartFormat &format, const UartReceiverFlags &flags);

private:
    void relay();
    // With m_moving held: hands on what is due now, and says how long until more is.
    qint64 moveDue(qint64 nowNs);
    qint64 hostRoom(qint64 nowNs);
    void lookAtHostSpeed();
    void applyFlow(qint64 nowNs);
    void applyLine();
    void compareLines();
    UartFormat hostFormat() const;

    PseudoTerminal m_port;
    PseudoTerminal m_host;
    WakePipe m_wake;
    std::thread m_relay;
    // Held by the relay while it moves bytes, not while it waits.
    mutable std::mutex m_moving;
    CableDirection m_toHost;
    CableDirection m_toPort;
    // Counted rather than asked of the ptys, whose flip buffers no ioctl reports.
    qint64 m_readFromProgram = 0;
    // Bytes handed to the host's end lately, which its line discipline may not count yet.
    qint64 m_recentToHost = 0;
    qint64 m_recentUntilNs = 0;
    qint64 m_roomBound = 0;
    // The same toward the program: bytes handed to its end in all, less those that never
    // reached it (thrown away there), and until when the last ones may still be on their way.
    qint64 m_handedToProgram = 0;
    qint64 m_lostBeforeProgram = 0;
    qint64 m_recentToProgramUntilNs = 0;
    // Until when the rest of the host's last write may still be on its way to the relay.
    qint64 m_hostReadUntilNs = 0;
    CommParameters m_instrument;
    bool m_pacedByLine = true;
    bool m_pacingAllowed = true;
    // The speed the host set on its end; 0 while no host has set one.
    int m_hostSpeed = 0;
    qint64 m_nextSpeedLookNs = 0;
    bool m_hostKnown = false;
    UartFormat m_hostFormat;
    UartReceiverFlags m_hostFlags;
    LineWatcher m_watcher;
    LineFlow m_flow = LineFlow::None;
    // The host's last XON or XOFF (XON until it sent one), and its RTS.
    bool m_hostSentXoff = false;
    bool m_hostReady = true;
    bool m_reportedDisagreement = false;
    QString m_lastHostText;
    QString m_lastInstrumentText;
    std::atomic<bool> m_stopping { false };
};
