#include "serial/virtualport.h"

#include "platform/descriptorio.h"

#include <algorithm>
#include <chrono>

namespace {
// A pty's line discipline holds this much unread input, and FIONREAD counts it; more waits
// in the flip buffers, which nothing counts. The relay hands the host's end no more than its
// line discipline can hold, and counts what it handed lately as held there until the kernel
// has had time to move it, so what the host has not read is always known.
constexpr int kHostQueue = 4095;
constexpr qint64 kSettleNs = 2'000'000;
// Bytes handed to the program's end are taken to be on their way for this long at most: far
// longer than the kernel takes to move them, even on a machine under load.
constexpr qint64 kArrivalBoundNs = 20'000'000;
// A host's write reaches the relay through the same kind of queue, and may come in two reads
// when it straddles the queue's buffers: after a read from the host, the rest of what it
// wrote may be on its way for this long.
constexpr qint64 kHostWriteSettleNs = 5'000'000;
// Below this much room the host's end is asked how much it holds.
constexpr qint64 kRoomSlack = 512;
// How often the relay looks whether a host that stopped reading has read again: a pty master
// reports no such thing.
constexpr qint64 kHostRecheckNs = 5'000'000;
// How often the relay looks at the speed the host set: a pty tells no one of a change.
constexpr qint64 kSpeedLookNs = 20'000'000;

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}
} // namespace

VirtualPort::VirtualPort(QObject *parent) : QObject(parent) { }

VirtualPort::~VirtualPort()
{
    if (m_relay.joinable()) {
        m_stopping.store(true);
        m_wake.wake();
        m_relay.join();
    }
    m_wake.close();
    m_port.close();
    m_host.close();
}

bool VirtualPort::open(QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (!m_port.open(error) || !m_host.open(error) || !m_wake.open(error)) {
        m_port.close();
        m_host.close();
        return false;
    }
    m_relay = std::thread([this] { relay(); });
    return true;
}

void VirtualPort::setInstrumentLine(const CommParameters &line, bool paced)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_instrument = line;
    m_pacedByLine = paced;
    applyLine();
    m_wake.wake();
}

void VirtualPort::setPacingAllowed(bool allowed)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_pacingAllowed = allowed;
    applyLine();
    m_wake.wake();
}

void VirtualPort::setHostLine(const UartFormat &format, const UartReceiverFlags &flags)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_hostKnown = true;
    m_hostFormat = format;
    m_hostFlags = flags;
    applyLine();
    m_wake.wake();
}

void VirtualPort::watchLine(LineWatcher watcher)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_watcher = std::move(watcher);
}

void VirtualPort::setFlow(LineFlow flow)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_flow = flow;
    m_toPort.setWatchFlow(flow == LineFlow::XonXoff);
    applyFlow(steadyNs());
    m_wake.wake();
}

void VirtualPort::setHostReady(bool ready)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_hostReady = ready;
    applyFlow(steadyNs());
    m_wake.wake();
}

void VirtualPort::sendAhead(char byte)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_toHost.sendAhead(byte, steadyNs());
    m_wake.wake();
}

void VirtualPort::sendBreak(int ms, qint64 takenFromProgram)
{
    const std::lock_guard<std::mutex> still(m_moving);
    // In the direction's own count: the bytes it has read are those read from the program.
    const qint64 after = takenFromProgram - m_readFromProgram + m_toHost.readInAll();
    m_toHost.scheduleBreak(after, qint64(ms) * 1'000'000);
    m_wake.wake();
}

void VirtualPort::applyFlow(qint64 nowNs)
{
    const bool stopped = (m_flow == LineFlow::XonXoff && m_hostSentXoff)
            || (m_flow == LineFlow::RtsCts && !m_hostReady);
    m_toHost.setStopped(stopped, nowNs);
}

// A pty keeps only the speed of the host's settings (its data bits and parity are the
// driver's 8N, whatever the host asked): without a device that knows them whole, the host is
// taken to have the instrument's settings at its own speed, and the instrument's until it
// has set a speed.
UartFormat VirtualPort::hostFormat() const
{
    if (m_hostKnown)
        return m_hostFormat;
    UartFormat host = m_instrument.uartFormat();
    if (m_hostSpeed > 0)
        host.baud = m_hostSpeed;
    return host;
}

void VirtualPort::applyLine()
{
    const bool paced = m_pacingAllowed && m_pacedByLine;
    const UartFormat instrument = m_instrument.uartFormat();
    const UartFormat host = hostFormat();
    m_toHost.setLine(instrument, host, m_hostKnown ? m_hostFlags : UartReceiverFlags(), paced);
    m_toPort.setLine(host, instrument, UartReceiverFlags(), paced);
    compareLines();
}

void VirtualPort::lookAtHostSpeed()
{
    const int speed = m_host.slaveSpeed();
    if (speed == m_hostSpeed)
        return;
    m_hostSpeed = speed;
    if (!m_hostKnown)
        applyLine();
}

void VirtualPort::compareLines()
{
    const QString hostText = hostFormat().text();
    const QString instrumentText = m_instrument.uartFormat().text();
    if (hostText == m_lastHostText && instrumentText == m_lastInstrumentText)
        return;
    m_lastHostText = hostText;
    m_lastInstrumentText = instrumentText;
    const bool agree = hostText == instrumentText;
    if (agree && !m_reportedDisagreement)
        return;
    m_reportedDisagreement = !agree;
    if (m_watcher)
        m_watcher(hostText, instrumentText, agree);
}

qint64 VirtualPort::bytesTowardHost(qint64 takenFromProgram) const
{
    if (!m_host.isOpen())
        return 0;
    const std::lock_guard<std::mutex> still(m_moving);
    const qint64 inProgramPty = std::max<qint64>(0, takenFromProgram - m_readFromProgram);
    // Bytes handed to the host's end in the last moments may not be counted there yet: they
    // count as on their way until they must be.
    const qint64 unread = m_host.unreadAtSlave();
    const qint64 lately = steadyNs() < m_recentUntilNs ? m_recentToHost : 0;
    return inProgramPty + m_toHost.waiting() + std::max<qint64>(unread, lately);
}

qint64 VirtualPort::discardTowardHost(qint64 takenFromProgram)
{
    if (!m_host.isOpen())
        return 0;
    const std::lock_guard<std::mutex> still(m_moving);
    // The last bytes handed to the host's end reach its line discipline, where they are seen.
    std::this_thread::sleep_for(std::chrono::nanoseconds(kSettleNs + 1'000'000));
    const qint64 inProgramPty = std::max<qint64>(0, takenFromProgram - m_readFromProgram);
    const qint64 thrown = inProgramPty + m_toHost.waiting() + m_host.discardSlaveInput();
    m_port.discardMasterInput();
    m_toHost.discard();
    m_hostSentXoff = false;
    m_roomBound = 0;
    m_readFromProgram = std::max(m_readFromProgram, takenFromProgram);
    m_wake.wake();
    return thrown;
}

bool VirtualPort::carriesInput(qint64 takenByProgram)
{
    if (!m_host.isOpen())
        return false;
    const std::lock_guard<std::mutex> still(m_moving);
    if (m_toPort.waiting() > 0 || m_host.unreadAtMaster() > 0 || steadyNs() < m_hostReadUntilNs)
        return true;
    // Bytes written to a pty master reach its slave through a kernel work queue, which a busy
    // machine can hold up for longer than a frame's silence. Once they have had time to
    // arrive, any still missing never will (the program flushed its input): forgotten.
    const qint64 missing = m_handedToProgram - m_lostBeforeProgram - takenByProgram;
    if (missing <= 0)
        return false;
    if (steadyNs() < m_recentToProgramUntilNs)
        return true;
    m_lostBeforeProgram += missing;
    return false;
}

// The room found at the last look, less what was handed since, is never more than there is
// (the host only makes more by reading): the host's end is asked again only when that runs low,
// not for every byte of a paced stream.
qint64 VirtualPort::hostRoom(qint64 nowNs)
{
    if (m_roomBound > kRoomSlack)
        return m_roomBound;
    const qint64 lately = nowNs < m_recentUntilNs ? m_recentToHost : 0;
    m_roomBound = kHostQueue - m_host.unreadAtSlave() - lately;
    return m_roomBound;
}

qint64 VirtualPort::moveDue(qint64 nowNs)
{
    // The host's bytes first: an XOFF among them stops the instrument before its next byte.
    const qint64 before = m_toPort.waiting() + m_toPort.flowTakenInAll();
    qint64 untilNs = std::min(m_nextSpeedLookNs, m_toPort.move(m_port.master(), nowNs, CableDirection::kChunk));
    const qint64 after = m_toPort.waiting() + m_toPort.flowTakenInAll();
    if (after < before) {
        m_handedToProgram += before - after;
        m_recentToProgramUntilNs = nowNs + kArrivalBoundNs;
    }
    if (const std::optional<bool> xoff = m_toPort.takeFlowStop()) {
        m_hostSentXoff = *xoff;
        applyFlow(nowNs);
    }
    if (m_toHost.waiting() > 0) {
        const qint64 room = hostRoom(nowNs);
        const qint64 waited = m_toHost.waiting();
        qint64 nextNs = m_toHost.move(m_host.master(), nowNs, room);
        const qint64 handed = waited - m_toHost.waiting();
        if (handed > 0) {
            m_roomBound -= handed;
            m_recentToHost = (nowNs < m_recentUntilNs ? m_recentToHost : 0) + handed;
            m_recentUntilNs = nowNs + kSettleNs;
        }
        // A full host's end is looked at again soon: a pty master tells no one it was read.
        if (m_toHost.waiting() > 0 && hostRoom(nowNs) <= 0)
            nextNs = nowNs + std::min(kHostRecheckNs, std::max<qint64>(m_recentUntilNs - nowNs, 0) + 1);
        untilNs = std::min(untilNs, nextNs);
    } else {
        // The rest that ends a frame a mismatched receiver was reading.
        untilNs = std::min(untilNs, m_toHost.move(m_host.master(), nowNs, hostRoom(nowNs)));
    }
    return std::max<qint64>(untilNs - nowNs, 0);
}

void VirtualPort::relay()
{
    DescriptorIo::preciseWakeups();
    bool portReadable = true;
    bool hostReadable = true;
    for (;;) {
        std::unique_lock<std::mutex> moving(m_moving);
        const qint64 nowNs = steadyNs();
        if (nowNs >= m_nextSpeedLookNs) {
            lookAtHostSpeed();
            m_nextSpeedLookNs = nowNs + kSpeedLookNs;
        }
        const qint64 waitNs = moveDue(nowNs);
        // An end is read only once what came from it has been passed on: the back-pressure
        // that keeps a full host side from losing bytes.
        DescriptorIo::Watch watches[3] = {
            { m_port.master(), m_toHost.wantsInput() && portReadable, false },
            { m_host.master(), m_toPort.wantsInput() && hostReadable, false },
            { m_wake.readEnd(), true, false },
        };
        // A master that only reports an error would wake the loop without end; while both
        // slaves are held this does not happen, but a stuck end must not spin a core.
        if (!portReadable && !hostReadable && m_toHost.waiting() == 0 && m_toPort.waiting() == 0)
            return;
        moving.unlock();
        if (!DescriptorIo::waitNs(watches, 3, waitNs))
            return;
        if (m_stopping.load())
            return;
        moving.lock();
        const qint64 readNs = steadyNs();
        if (watches[2].readable)
            m_wake.drain();
        if (watches[0].readable && m_toHost.wantsInput()) {
            const qint64 before = m_toHost.readInAll();
            portReadable = m_toHost.fill(m_port.master(), readNs);
            m_readFromProgram += m_toHost.readInAll() - before;
        }
        if (watches[1].readable && m_toPort.wantsInput()) {
            // A host that has just set its speed writes at once: the bytes go at that speed.
            lookAtHostSpeed();
            const qint64 before = m_toPort.readInAll();
            hostReadable = m_toPort.fill(m_host.master(), readNs);
            if (m_toPort.readInAll() > before)
                m_hostReadUntilNs = readNs + kHostWriteSettleNs;
        }
    }
}
