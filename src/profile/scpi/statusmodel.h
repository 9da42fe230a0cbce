#pragma once

#include "profile/scpi/errorqueue.h"

#include <QtGlobal>

#include <utility>

namespace Profile::Scpi {

// IEEE 488.2's status reporting over the error queue: the event status register (ESR) with
// its enable mask (*ESE), and the status byte (*STB?) with its service request mask (*SRE).
// A driver that polls *STB? or *ESR? after a command instead of reading the queue sees the
// same faults the queue holds.
class StatusModel
{
public:
    enum EsrBit : quint8 {
        OperationComplete = 0x01,
        QueryError = 0x04,
        DeviceError = 0x08,
        ExecutionError = 0x10,
        CommandError = 0x20,
    };

    // Queues the error and sets the ESR bit of its class (-1xx command, -2xx execution,
    // -3xx device, -4xx query); an overflow sets the device bit.
    void report(int code, const QByteArray &text);
    void operationComplete() { m_esr |= OperationComplete; }

    // *ESR?: the register, then cleared.
    quint8 takeEsr() { return std::exchange(m_esr, quint8(0)); }
    // Bit 2 the queue holds an error, bit 5 an enabled ESR bit is set, bit 6 an enabled
    // status bit is set.
    quint8 statusByte() const;
    // *CLS.
    void clear()
    {
        m_esr = 0;
        m_queue.clear();
    }

    quint8 ese = 0;
    quint8 sre = 0;

    ErrorQueue &queue() { return m_queue; }

private:
    quint8 m_esr = 0;
    ErrorQueue m_queue;
};

} // namespace Profile::Scpi
