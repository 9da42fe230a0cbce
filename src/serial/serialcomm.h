#pragma once

#include "serial/commparameters.h"
#include "serial/outputcable.h"
#include "serial/pacedoutput.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

class SessionClock;

// The program's serial-port component: one port, the operations the simulator uses
// (port number, settings text, open/close, waiting count, receive threshold, input,
// output) and one event for received data. A refused operation returns false and leaves
// the device name and the system's reason in lastError().
class SerialComm : public QObject
{
    Q_OBJECT

public:
    // The receive buffer holds at most this many bytes; a host that floods the line is held
    // back by the driver instead of growing memory.
    static constexpr qint64 kInBufferSize = 1024;
    // Output waiting for a host that does not read is held up to this much; past it a write
    // is refused rather than letting memory grow.
    static constexpr qint64 kOutBufferLimit = 64 * 1024;
    static constexpr int kDefaultPort = 1;
    static inline const char *kDefaultSettings = "9600,N,8,1";

    explicit SerialComm(QObject *parent = nullptr);
    ~SerialComm() override;

    // The clock that stamps the arrival of received data; the steady clock unless a test
    // hands its own.
    void setClock(SessionClock &clock) { m_clock = &clock; }

    // Where links named COMn are looked for (see portDeviceName()).
    void setAppFolder(const QString &folder) { m_appFolder = folder; }
    // Opens this device instead of the one the port number maps to (a device named on the
    // command line, a virtual port); empty goes back to the port number.
    void setDevicePath(const QString &path) { m_devicePath = path; }

    bool setCommPort(int portNumber);
    int commPort() const { return m_portNumber; }
    QString deviceName() const;

    bool setSettings(const QString &text);
    int baudRate() const { return m_params.baudRate; }
    // Bits on the line for each byte: start, data, parity and stop bits.
    double bitsPerByte() const;
    QString settings() const { return m_settingsText; }

    // Closing first lets queued output drain, bounded by drainBoundMs(); what is still queued
    // then is dropped and reported by outputDropped().
    bool setPortOpen(bool open);
    bool portOpen() const { return m_port.isOpen(); }

    int inBufferCount() const;
    bool clearInBuffer();

    // 0: no receive events; n > 0: commEvent() once n or more bytes wait after new data.
    void setRThreshold(int threshold) { m_threshold = threshold; }
    int rThreshold() const { return m_threshold; }
    // While set, received bytes are read and thrown away as they come, so a host that talks
    // to a stopped simulator builds no backlog in the driver or the cable.
    void setDiscardInput(bool discard);

    QByteArray input();
    // Fetches input the driver holds that the event loop has not read yet (it was busy, or
    // sleeping out the last stretch before a deadline). True when input waits.
    bool fetchWaitingInput();
    // Input is on its way that the port has not had yet (a cable of the program's own carries
    // it at the line's speed): a silence now is none on the line.
    bool inputOnItsWay();
    // The waiting bytes, left waiting.
    QByteArray peekInput();
    // Hands the bytes to the device. False when they were not taken: the port is closed or
    // went away while sending, a write failed, or the host has stopped reading and the
    // output waiting for it has reached the cap.
    bool output(const QByteArray &bytes);
    // Output handed over but not yet taken by the driver.
    qint64 pendingOutput() const
    {
        return m_port.isOpen() ? m_port.bytesToWrite() + m_pacedOut.waiting() : 0;
    }
    // Output handed over that the far end has not yet got: the program's queue, the driver's
    // output queue and a cable of the program's own.
    qint64 undeliveredOutput() const;
    // A cable of the program's own beyond the driver (a virtual port), whose bytes on their
    // way count as not yet delivered; none unless set. Not owned.
    // The cable also carries the bytes at the settings in force, and says when the host's
    // settings differ (lineCompared()).
    void setOutputCable(OutputCable *cable);
    // Whether a cable of the program's own paces the bytes at the line's speed (it does
    // unless told otherwise); a real device's UART always does.
    void setPaced(bool paced);
    // Whether the run lets the program pace a line nothing else paces (--pace none does not);
    // off until told.
    void setPacingAllowed(bool allowed);
    // The byte time the program must keep itself between the bytes it sends: on a
    // pseudo-terminal of someone else's, which nothing paces; 0 on a real device (its UART
    // keeps it) and on a cable of the program's own (the cable does).
    qint64 selfPacedByteNs() const;
    // The flow control the instrument keeps. A real device's driver keeps it; a cable of the
    // program's own, whose ends have no UART of their own, keeps it itself.
    void setFlow(LineFlow flow);
    // Sends XOFF (stop) or XON at once, ahead of the output that waits.
    void sendFlowCharacter(bool stop);
    // A break of ms toward the host after the bytes handed out so far; false when the port
    // is closed.
    bool sendBreak(int ms);
    // The host's RTS, which holds a cable's output back under RTS/CTS while it is down.
    void setHostReady(bool ready);
    // How long a deliberate close waits for queued output: the time its bytes need at the line
    // speed and half a second more, never more than kMaxDrainMs.
    static constexpr int kMaxDrainMs = 3000;
    static constexpr int kDrainSlackMs = 500;
    int drainBoundMs(qint64 bytes) const;
    // When the first byte that raised the latest receive event arrived, on the clock above.
    qint64 lastEventArrivalNs() const { return m_eventArrivalNs; }

    QString lastError() const { return m_lastError; }

signals:
    // The port was opened.
    void opened();
    // Received data reached the threshold. Delivered from the event loop, never from inside
    // another call of this class, so a handler may wait and process events.
    void commEvent();
    // The open port went away (adapter unplugged, far end of a pty closed). The port has been
    // closed; this is reported once per loss.
    void portLost(const QString &message);
    // A close or a loss threw away this much output that the far end never got.
    void outputDropped(qint64 bytes, const QString &device);
    // The host's settings, as a cable of the program's own sees them, differ from the
    // instrument's (agree false), or agree again.
    void lineCompared(const QString &host, const QString &instrument, bool agree);

private:
    QByteArray takeInput();
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void deliverCommEvent();
    bool refuse(const QString &reason);
    bool applyChangedParameters(const CommParameters &wanted);
    void drainOutput();
    QSerialPort::FlowControl driverFlow() const;
    void breakWhenDrained(int ms);
    void updatePacing();
    // Writes the paced bytes that are due and arms a call for the next.
    void writePaced();
    SessionClock &clock() const;
    static QString permissionRemedy(const QString &device);
    qint64 driverQueue() const;
    void discardWaiting();

    QSerialPort m_port;
    QString m_appFolder;
    QString m_devicePath;
    QString m_openDevice;
    int m_portNumber = kDefaultPort;
    QString m_settingsText;
    CommParameters m_params;
    int m_threshold = 0;
    bool m_discardInput = false;
    // The size of the write being flushed, which its caller will not log if the device goes.
    qint64 m_unloggedBytes = 0;
    OutputCable *m_cable = nullptr;
    bool m_paced = true;
    LineFlow m_flow = LineFlow::None;
    // A port the program opens itself paces nothing unless the run asks it to.
    bool m_pacingAllowed = false;
    bool m_openIsPty = false;
    PacedOutput m_pacedOut;
    bool m_pacedArmed = false;
    // Output handed to the port in all, less what a close threw away before the driver took it.
    qint64 m_handedOut = 0;
    // Bytes read from the driver in all, kept or thrown away.
    qint64 m_takenIn = 0;
    bool m_eventQueued = false;
    qint64 m_eventArrivalNs = 0;
    SessionClock *m_clock = nullptr;
    QString m_lastError;
};
