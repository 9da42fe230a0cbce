#include "serial/virtualport.h"

#include "platform/descriptorio.h"

#include <algorithm>
#include <chrono>

namespace {
// A pty's line discipline holds this much unread input, and FIONREAD counts it; more waits
// in the flip buffers, which nothing counts. The relay hands the host's end no more than its
// line discipline can hold, and each time lets the kernel move the bytes there before it
// hands more, so what the host has not read is always known.
constexpr int kHostQueue = 4095;
constexpr int kSettleMs = 2;
// How often the relay looks whether a host that stopped reading has read again: a pty master
// reports no such thing.
constexpr int kHostRecheckMs = 5;

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
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs + 1));
    const qint64 inProgramPty = std::max<qint64>(0, takenFromProgram - m_readFromProgram);
    const qint64 thrown = inProgramPty + qint64(m_toHost.size()) + m_host.unreadAtSlave();
    m_port.discardMasterInput();
    m_host.discardSlaveInput();
    m_toHost.begin = m_toHost.end = 0;
    m_readFromProgram = std::max(m_readFromProgram, takenFromProgram);
    m_wake.wake();
    return thrown;
}

void VirtualPort::relay()
{
    bool portReadable = true;
    bool hostReadable = true;
    bool settling = false;
    for (;;) {
        std::unique_lock<std::mutex> moving(m_moving);
        // An end is read only once what came from it has been passed on: the back-pressure
        // that keeps a full host side from losing bytes. The host's end takes no more than its
        // line discipline holds; while it is full, the relay looks again soon.
        const bool hostFull =
                !m_toHost.empty() && (settling || m_host.unreadAtSlave() >= kHostQueue);
        DescriptorIo::Watch watches[3] = {
            { m_port.master(), m_toHost.empty() && portReadable, !m_toPort.empty() },
            { m_host.master(), m_toPort.empty() && hostReadable, !m_toHost.empty() && !hostFull },
            { m_wake.readEnd(), true, false },
        };
        // A master that only reports an error would wake the loop without end; while both
        // slaves are held this does not happen, but a stuck end must not spin a core.
        if (!portReadable && !hostReadable && m_toHost.empty() && m_toPort.empty())
            return;
        moving.unlock();
        if (!DescriptorIo::wait(watches, 3, settling ? kSettleMs : hostFull ? kHostRecheckMs : -1))
            return;
        settling = false;
        if (m_stopping.load())
            return;
        moving.lock();
        if (watches[2].readable)
            m_wake.drain();
        if (watches[0].readable && m_toHost.empty()) {
            portReadable = fill(m_port.master(), m_toHost);
            m_readFromProgram += qint64(m_toHost.size());
        }
        if (watches[1].readable && m_toPort.empty())
            hostReadable = fill(m_host.master(), m_toPort);
        const int room = kHostQueue - m_host.unreadAtSlave();
        if (!m_toHost.empty() && room > 0) {
            const size_t before = m_toHost.size();
            spill(m_host.master(), m_toHost, size_t(room));
            settling = m_toHost.size() != before;
        }
        if (!m_toPort.empty())
            spill(m_port.master(), m_toPort, m_toPort.size());
    }
}
