#include "serial/serialcomm.h"

#include "platform/serialdevice.h"
#include "platform/sessionclock.h"
#include "serial/portname.h"

#include <QLoggingCategory>

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

Q_LOGGING_CATEGORY(lcSerial, "kalo.serial", QtWarningMsg)

SerialComm::SerialComm(QObject *parent)
    : QObject(parent), m_settingsText(QLatin1String(kDefaultSettings)), m_clock(&SessionClock::steady())
{
    m_port.setReadBufferSize(kInBufferSize);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialComm::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialComm::onErrorOccurred);
}

SerialComm::~SerialComm()
{
    if (m_cable)
        m_cable->watchLine(nullptr);
    if (m_port.isOpen())
        m_port.close();
}

QString SerialComm::deviceName() const
{
    if (m_port.isOpen())
        return m_openDevice;
    return m_devicePath.isEmpty() ? portDeviceName(m_portNumber, m_appFolder) : m_devicePath;
}

bool SerialComm::refuse(const QString &reason)
{
    m_lastError = QStringLiteral("%1 (%2)").arg(deviceName(), reason);
    qCDebug(lcSerial) << "refused:" << m_lastError;
    return false;
}

bool SerialComm::setCommPort(int portNumber)
{
    if (m_port.isOpen())
        return refuse(tr("port number cannot change while the port is open"));
    if (portNumber < 1 || portNumber > 255)
        return refuse(tr("invalid port number %1").arg(portNumber));
    m_portNumber = portNumber;
    return true;
}

bool SerialComm::setSettings(const QString &text)
{
    const std::optional<CommParameters> wanted = CommParameters::parse(text);
    if (!wanted)
        return refuse(tr("invalid settings \"%1\"").arg(text));
    if (m_port.isOpen() && !applyChangedParameters(*wanted))
        return false;
    m_params = *wanted;
    m_settingsText = text;
    updatePacing();
    if (m_cable)
        m_cable->setInstrumentLine(m_params, m_paced);
    return true;
}

void SerialComm::setOutputCable(OutputCable *cable)
{
    if (m_cable)
        m_cable->watchLine(nullptr);
    m_cable = cable;
    if (!m_cable)
        return;
    // The cable calls from its own thread; the signal is raised on this object's.
    m_cable->watchLine([this](const QString &host, const QString &instrument, bool agree) {
        QMetaObject::invokeMethod(
                this, [this, host, instrument, agree] { emit lineCompared(host, instrument, agree); },
                Qt::QueuedConnection);
    });
    m_cable->setInstrumentLine(m_params, m_paced);
    m_cable->setFlow(m_flow);
}

void SerialComm::setPacingAllowed(bool allowed)
{
    m_pacingAllowed = allowed;
    updatePacing();
}

SessionClock &SerialComm::clock() const
{
    return m_clock ? *m_clock : SessionClock::steady();
}

void SerialComm::updatePacing()
{
    m_pacedOut.setByteNs(selfPacedByteNs());
}

void SerialComm::writePaced()
{
    const QByteArray due = m_pacedOut.due(clock().nowNs());
    if (!due.isEmpty() && m_port.isOpen()) {
        m_port.write(due);
        m_port.flush();
    }
    if (m_pacedOut.waiting() == 0 || m_pacedArmed || !m_port.isOpen())
        return;
    m_pacedArmed = true;
    clock().callAt(m_pacedOut.nextDueNs(), this, [this] {
        m_pacedArmed = false;
        writePaced();
    });
}

qint64 SerialComm::selfPacedByteNs() const
{
    if (m_cable || !m_openIsPty || !m_paced || !m_pacingAllowed || !m_port.isOpen())
        return 0;
    return m_params.uartFormat().byteNs();
}

void SerialComm::setPaced(bool paced)
{
    m_paced = paced;
    updatePacing();
    if (m_cable)
        m_cable->setInstrumentLine(m_params, m_paced);
}

void SerialComm::setFlow(LineFlow flow)
{
    m_flow = flow;
    if (m_cable)
        m_cable->setFlow(flow);
    if (m_port.isOpen() && m_port.flowControl() != driverFlow())
        m_port.setFlowControl(driverFlow());
}

QSerialPort::FlowControl SerialComm::driverFlow() const
{
    if (m_cable || m_flow == LineFlow::None)
        return QSerialPort::NoFlowControl;
    return m_flow == LineFlow::XonXoff ? QSerialPort::SoftwareControl : QSerialPort::HardwareControl;
}

void SerialComm::sendFlowCharacter(bool stop)
{
    if (m_cable)
        m_cable->sendAhead(stop ? FlowCharacter::kXoff : FlowCharacter::kXon);
    else if (m_port.isOpen())
        SerialDevice::sendFlowCharacter(m_port.handle(), stop);
}

bool SerialComm::sendBreak(int ms)
{
    if (!m_port.isOpen())
        return refuse(tr("port is not open"));
    m_port.flush();
    if (m_cable)
        m_cable->sendBreak(ms, m_handedOut);
    else
        breakWhenDrained(ms);
    return true;
}

// A UART's break cuts into whatever it is sending: it starts once the driver has sent what
// it holds, looked at every 2 ms rather than waited for.
void SerialComm::breakWhenDrained(int ms)
{
    if (!m_port.isOpen())
        return;
    if (pendingOutput() > 0 || driverQueue() > 0) {
        QTimer::singleShot(2, this, [this, ms] { breakWhenDrained(ms); });
        return;
    }
    m_port.setBreakEnabled(true);
    QTimer::singleShot(ms, this, [this] {
        if (m_port.isOpen())
            m_port.setBreakEnabled(false);
    });
}

void SerialComm::setHostReady(bool ready)
{
    if (m_cable)
        m_cable->setHostReady(ready);
}

// Only what changed is applied to an open port: some drivers (ptys among them) refuse
// to set even an unchanged parity or stop-bit value again.
bool SerialComm::applyChangedParameters(const CommParameters &wanted)
{
    bool ok = true;
    if (wanted.baudRate != m_params.baudRate) {
        ok = m_port.setBaudRate(wanted.baudRate);
        if (ok) m_params.baudRate = wanted.baudRate;
    }
    if (ok && wanted.dataBits != m_params.dataBits) {
        ok = m_port.setDataBits(wanted.dataBits);
        if (ok) m_params.dataBits = wanted.dataBits;
    }
    if (ok && wanted.parity != m_params.parity) {
        ok = m_port.setParity(wanted.parity);
        if (ok) m_params.parity = wanted.parity;
    }
    if (ok && wanted.stopBits != m_params.stopBits) {
        ok = m_port.setStopBits(wanted.stopBits);
        if (ok) m_params.stopBits = wanted.stopBits;
    }
    if (!ok) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        return refuse(reason);
    }
    return true;
}

bool SerialComm::setPortOpen(bool open)
{
    if (!open) {
        if (!m_port.isOpen())
            return refuse(tr("port is not open"));
        drainOutput();
        // The loss of the device while draining has closed the port and said what it took.
        if (!m_port.isOpen())
            return true;
        // Counted as the bytes are thrown away, so the host gets none of what the log calls dropped.
        qint64 dropped = m_port.bytesToWrite() + driverQueue() + m_pacedOut.waiting();
        if (m_cable)
            dropped += m_cable->discardTowardHost(m_handedOut - m_port.bytesToWrite());
        m_handedOut -= m_port.bytesToWrite() + m_pacedOut.clear();
        m_port.close();
        if (dropped > 0)
            emit outputDropped(dropped, m_openDevice);
        return true;
    }
    if (m_port.isOpen())
        return refuse(tr("port is already open"));

    const QString device = deviceName();
    m_port.clearError();
    m_port.setPortName(device);
    m_port.setBaudRate(m_params.baudRate);
    m_port.setDataBits(m_params.dataBits);
    m_port.setParity(m_params.parity);
    m_port.setStopBits(m_params.stopBits);
    m_port.setFlowControl(driverFlow());
    if (!m_port.open(QIODevice::ReadWrite)) {
        QString reason = m_port.errorString();
        if (m_port.error() == QSerialPort::PermissionError)
            reason += permissionRemedy(device);
        m_port.clearError();
        return refuse(reason);
    }
    m_openDevice = device;
    m_openIsPty = SerialDevice::isPseudoTerminal(m_port.handle());
    updatePacing();
    m_eventQueued = false;
    emit opened();
    return true;
}

// The first wall a Linux user meets: a USB adapter belongs to a group (dialout) the user is
// not in. Name the group and the usual remedy.
QString SerialComm::permissionRemedy(const QString &device)
{
    const QString group = SerialDevice::groupNeededFor(device);
    if (group.isEmpty())
        return QString();
    return tr("; the device belongs to group %1: add yourself with "
              "\"sudo usermod -aG %1 $USER\" and log in again").arg(group);
}

qint64 SerialComm::driverQueue() const
{
    return SerialDevice::driverQueue(m_port.handle());
}

qint64 SerialComm::undeliveredOutput() const
{
    if (!m_port.isOpen())
        return 0;
    qint64 bytes = m_port.bytesToWrite() + driverQueue() + m_pacedOut.waiting();
    if (m_cable)
        bytes += m_cable->bytesTowardHost(m_handedOut - m_port.bytesToWrite());
    return bytes;
}

double SerialComm::bitsPerByte() const
{
    return m_params.bitsPerByte();
}

int SerialComm::drainBoundMs(qint64 bytes) const
{
    const double lineMs = double(bytes) * bitsPerByte() * 1000.0 / std::max(1, m_params.baudRate);
    return int(std::min<double>(kMaxDrainMs, std::ceil(lineMs) + kDrainSlackMs));
}

// A blocking wait, bounded to a few seconds: it runs only when the port is closed on purpose
// (quitting, a stop from outside, another port), and nothing else is due then.
void SerialComm::drainOutput()
{
    const qint64 queued = undeliveredOutput();
    if (queued <= 0)
        return;
    const int boundMs = drainBoundMs(queued);
    QElapsedTimer waited;
    waited.start();
    while (m_port.isOpen() && waited.elapsed() < boundMs) {
        if (m_pacedOut.waiting() > 0) {
            writePaced();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else if (m_port.bytesToWrite() > 0) {
            m_port.waitForBytesWritten(int(std::min<qint64>(20, boundMs - waited.elapsed())) + 1);
        } else if (undeliveredOutput() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } else {
            break;
        }
    }
}

void SerialComm::setDiscardInput(bool discard)
{
    m_discardInput = discard;
    if (discard)
        discardWaiting();
}

void SerialComm::discardWaiting()
{
    if (!m_port.isOpen())
        return;
    takeInput();
    m_port.clear(QSerialPort::Input);
    m_port.clearError();
}

int SerialComm::inBufferCount() const
{
    return m_port.isOpen() ? int(m_port.bytesAvailable()) : 0;
}

bool SerialComm::clearInBuffer()
{
    if (!m_port.isOpen())
        return refuse(tr("port is not open"));
    // QSerialPort::clear() flushes the driver's queue; what Qt has already read is dropped
    // by reading it.
    takeInput();
    if (!m_port.clear(QSerialPort::Input)) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        return refuse(reason);
    }
    return true;
}

QByteArray SerialComm::input()
{
    if (!m_port.isOpen()) {
        refuse(tr("port is not open"));
        return QByteArray();
    }
    return takeInput();
}

bool SerialComm::fetchWaitingInput()
{
    if (!m_port.isOpen() || m_discardInput)
        return false;
    if (m_port.bytesAvailable() == 0)
        m_port.waitForReadyRead(0);
    return m_port.bytesAvailable() > 0;
}

QByteArray SerialComm::takeInput()
{
    QByteArray bytes = m_port.readAll();
    m_takenIn += bytes.size();
    return bytes;
}

bool SerialComm::inputOnItsWay()
{
    if (!m_cable || !m_port.isOpen())
        return false;
    const qint64 taken = m_takenIn + m_port.bytesAvailable() + SerialDevice::driverInput(m_port.handle());
    return m_cable->carriesInput(taken);
}

QByteArray SerialComm::peekInput()
{
    return m_port.isOpen() ? m_port.peek(m_port.bytesAvailable()) : QByteArray();
}

bool SerialComm::output(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return refuse(tr("port is not open"));
    if (bytes.isEmpty())
        return true;
    if (pendingOutput() + bytes.size() > kOutBufferLimit)
        return refuse(tr("the line does not take more output (send buffer full)"));
    if (m_pacedOut.paces()) {
        m_pacedOut.take(bytes, clock().nowNs());
        m_handedOut += bytes.size();
        writePaced();
        return true;
    }
    m_port.clearError();
    if (m_port.write(bytes) != bytes.size()) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        return refuse(reason);
    }
    m_handedOut += bytes.size();
    // Hand the bytes to the driver now rather than at the next event-loop pass, so the
    // answer leaves when the program says it does.
    m_unloggedBytes = bytes.size();
    m_port.flush();
    m_unloggedBytes = 0;
    // The device may go away under the flush: the loss has closed the port by now, and the
    // bytes never reached the line.
    if (!m_port.isOpen()) {
        m_lastError = QStringLiteral("%1 (%2)").arg(m_openDevice, tr("the port went away while sending"));
        return false;
    }
    if (m_port.error() == QSerialPort::WriteError) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        return refuse(reason);
    }
    return true;
}

void SerialComm::onReadyRead()
{
    if (m_discardInput) {
        takeInput();
        return;
    }
    if (m_threshold <= 0 || m_eventQueued)
        return;
    m_eventQueued = true;
    m_eventArrivalNs = m_clock->nowNs();
    QMetaObject::invokeMethod(this, &SerialComm::deliverCommEvent, Qt::QueuedConnection);
}

void SerialComm::deliverCommEvent()
{
    m_eventQueued = false;
    if (m_threshold > 0 && m_port.isOpen() && m_port.bytesAvailable() >= m_threshold)
        emit commEvent();
}

void SerialComm::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (!m_port.isOpen())
        return;
    // QSerialPort also calls a full driver queue (EAGAIN while writing to a host that does
    // not read) a resource error. Only a hung-up or failed device is a lost port.
    const SerialDevice::State state = SerialDevice::state(m_port.handle());
    if (state == SerialDevice::State::Working) {
        m_port.clearError();
        return;
    }
    // A hang-up comes with whatever errno an earlier call left; name it for what it is.
    const QString reason = state == SerialDevice::State::HungUp ? tr("the device hung up")
                                                                : m_port.errorString();
    // What the device took with it: the program's queue and whatever the driver still held.
    // Bytes of a write that the loss interrupts are not logged as sent, so they are no drop.
    const qint64 dropped = undeliveredOutput() - m_unloggedBytes;
    m_handedOut -= m_port.bytesToWrite() + m_pacedOut.clear();
    // Left open, a vanished device keeps raising the same error in a tight loop.
    m_port.close();
    m_port.clearError();
    m_lastError = QStringLiteral("%1 (%2)").arg(m_openDevice, reason);
    qCDebug(lcSerial) << "port lost:" << m_lastError;
    emit portLost(m_lastError);
    if (dropped > 0)
        emit outputDropped(dropped, m_openDevice);
}
