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

// Reads into an empty leg; false when the master reports an error or end that will not clear.
static bool fill(int fd, VirtualPort::Leg &leg)
{
    const qint64 n = DescriptorIo::readSome(fd, leg.data, VirtualPort::Leg::kChunk);
    if (n > 0) {
        leg.begin = 0;
        leg.end = size_t(n);
    }
    return n >= 0;
}

static void spill(int fd, VirtualPort::Leg &leg, size_t most)
{
    leg.begin += size_t(DescriptorIo::writeSome(fd, leg.data + leg.begin,
                                                qint64(std::min(leg.size(), most))));
}

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
    applyPacing();
    compareLines();
    m_wake.wake();
}

void VirtualPort::setPacingAllowed(bool allowed)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_pacingAllowed = allowed;
    applyPacing();
    m_wake.wake();
}

void VirtualPort::watchLine(LineWatcher watcher)
{
    const std::lock_guard<std::mutex> still(m_moving);
    m_watcher = std::move(watcher);
}

// The host sends at its own speed; until it has set one it is taken to follow the instrument.
void VirtualPort::applyPacing()
{
    const bool paced = m_pacingAllowed && m_pacedByLine;
    CommParameters host = m_instrument;
    if (m_hostSpeed > 0)
        host.baudRate = m_hostSpeed;
    m_toHostPacer.setByteNs(paced ? m_instrument.byteNs() : 0);
    m_toPortPacer.setByteNs(paced ? host.byteNs() : 0);
}

void VirtualPort::lookAtHostSpeed()
{
    const int speed = m_host.slaveSpeed();
    if (speed == m_hostSpeed)
        return;
    m_hostSpeed = speed;
    applyPacing();
    compareLines();
}

// A pty carries only the speed of the host's settings: its data bits and parity are the
// driver's 8N, whatever the host asked, so the host is compared on its speed.
void VirtualPort::compareLines()
{
    CommParameters host = m_instrument;
    if (m_hostSpeed > 0)
        host.baudRate = m_hostSpeed;
    const QString hostText = host.lineText();
    const QString instrumentText = m_instrument.lineText();
    const bool agree = host == m_instrument;
    if (hostText == m_lastHostText && instrumentText == m_lastInstrumentText)
        return;
    m_lastHostText = hostText;
    m_lastInstrumentText = instrumentText;
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
    return inProgramPty + qint64(m_toHost.size()) + m_host.unreadAtSlave();
}

qint64 VirtualPort::discardTowardHost(qint64 takenFromProgram)
{
    if (!m_host.isOpen())
        return 0;
    const std::lock_guard<std::mutex> still(m_moving);
    // The last bytes handed to the host's end reach its line discipline, where they are seen.
    std::this_thread::sleep_for(std::chrono::nanoseconds(kSettleNs + 1'000'000));
    const qint64 inProgramPty = std::max<qint64>(0, takenFromProgram - m_readFromProgram);
    const qint64 thrown = inProgramPty + qint64(m_toHost.size()) + m_host.unreadAtSlave();
    m_port.discardMasterInput();
    m_host.discardSlaveInput();
    m_toHost.begin = m_toHost.end = 0;
    m_readFromProgram = std::max(m_readFromProgram, takenFromProgram);
    m_wake.wake();
    return thrown;
}

qint64 VirtualPort::hostRoom(qint64 nowNs) const
{
    const qint64 lately = nowNs < m_recentUntilNs ? m_recentToHost : 0;
    return kHostQueue - m_host.unreadAtSlave() - lately;
}

qint64 VirtualPort::moveDue(qint64 nowNs)
{
    qint64 untilNs = m_nextSpeedLookNs - nowNs;
    if (!m_toHost.empty()) {
        const qint64 due = m_toHostPacer.due(nowNs, qint64(m_toHost.size()));
        const qint64 room = hostRoom(nowNs);
        if (due > 0 && room > 0) {
            const size_t before = m_toHost.size();
            spill(m_host.master(), m_toHost, size_t(std::min(due, room)));
            const qint64 handed = qint64(before - m_toHost.size());
            m_toHostPacer.handed(handed);
            m_recentToHost = (nowNs < m_recentUntilNs ? m_recentToHost : 0) + handed;
            m_recentUntilNs = nowNs + kSettleNs;
        } else if (due > 0) {
            m_toHostPacer.held(nowNs);
        }
        if (!m_toHost.empty()) {
            const qint64 nextNs = hostRoom(nowNs) > 0
                    ? m_toHostPacer.nextDueNs() - nowNs
                    : std::min(kHostRecheckNs, std::max<qint64>(m_recentUntilNs - nowNs, 0) + 1);
            untilNs = std::min(untilNs, nextNs);
        }
    }
    if (!m_toPort.empty()) {
        const qint64 due = m_toPortPacer.due(nowNs, qint64(m_toPort.size()));
        if (due > 0) {
            const size_t before = m_toPort.size();
            spill(m_port.master(), m_toPort, size_t(due));
            m_toPortPacer.handed(qint64(before - m_toPort.size()));
        }
        if (!m_toPort.empty())
            untilNs = std::min(untilNs, std::max<qint64>(m_toPortPacer.nextDueNs() - nowNs, 0));
    }
    return std::max<qint64>(untilNs, 0);
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
            { m_port.master(), m_toHost.empty() && portReadable, false },
            { m_host.master(), m_toPort.empty() && hostReadable, false },
            { m_wake.readEnd(), true, false },
        };
        // A master that only reports an error would wake the loop without end; while both
        // slaves are held this does not happen, but a stuck end must not spin a core.
        if (!portReadable && !hostReadable && m_toHost.empty() && m_toPort.empty())
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
        if (watches[0].readable && m_toHost.empty()) {
            portReadable = fill(m_port.master(), m_toHost);
            m_readFromProgram += qint64(m_toHost.size());
            if (!m_toHost.empty())
                m_toHostPacer.took(readNs);
        }
        if (watches[1].readable && m_toPort.empty()) {
            hostReadable = fill(m_host.master(), m_toPort);
            if (!m_toPort.empty())
                m_toPortPacer.took(readNs);
        }
    }
}
