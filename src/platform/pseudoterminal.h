#pragma once

#include <QString>

// One pseudo-terminal, raw from the start: a slave in cooked mode would echo the bytes the
// master is given back to it before anyone has opened the slave. The master is
// non-blocking. The slave is held open for the pseudo-terminal's life: when the last opener
// of a slave closes it, the master hangs up and keeps reporting so, and a host that
// reconnects would find no line.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;
    ~PseudoTerminal() { close(); }

    // False with "openpty: reason".
    bool open(QString *error);
    void close();
    bool isOpen() const { return m_slave >= 0; }

    int master() const { return m_master; }
    // The slave's path, to be opened like any serial device.
    QString path() const { return m_path; }

    // Bytes given to the master that wait unread at the slave, in its line discipline; more
    // may wait in the flip buffers, which nothing counts.
    int unreadAtSlave() const;
    // Bytes the slave's opener wrote that wait to be read at the master.
    int unreadAtMaster() const;
    // Throws away what waits to be read at the master.
    void discardMasterInput();
    // Throws away what waits to be read at the slave and says how many bytes that was. The
    // slave's other opener may be reading at the same time: each byte counted is one it
    // did not get, because this side reads them away rather than counting and then flushing.
    qint64 discardSlaveInput();
    // The line speed in bit/s that the slave's settings hold (whoever set them: a pty shares
    // one set between its two sides), 0 when it cannot be read. Any speed, standard or not.
    int slaveSpeed() const;
    // Sets that speed on the slave, as its opener would.
    bool setSlaveSpeed(int baud);

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
