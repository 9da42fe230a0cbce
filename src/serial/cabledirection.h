#pragma once

#include "serial/lineflow.h"
#include "serial/linepacer.h"
#include "serial/uartline.h"

#include <QByteArray>

#include <deque>
#include <limits>
#include <memory>
#include <optional>

// One direction of the virtual port's cable: bytes read from the sending end, handed to the
// receiving end no faster than the sender's line carries them, and, when the two ends'
// settings differ, as the receiver's UART would make them out of the sender's bits. Used by
// the relay thread alone.
class CableDirection
{
public:
    static constexpr qint64 kChunk = 4096;
    static constexpr qint64 kNothingDue = std::numeric_limits<qint64>::max();

    // The sender's and the receiver's settings, the receiver's driver flags; paced false
    // hands bytes on as soon as they came.
    void setLine(const UartFormat &sender, const UartFormat &receiver,
                 const UartReceiverFlags &flags, bool paced);

    // Read only once what came before has been passed on: the back-pressure that keeps a
    // full end from losing bytes.
    bool wantsInput() const { return m_begin == m_end && m_out.isEmpty(); }
    // Reads what fd has; false when it reports an error or an end that will not clear.
    bool fill(int fd, qint64 nowNs);
    // Hands fd what is due by nowNs, at most room bytes of what the receiver makes of them;
    // returns when more is due (kNothingDue when nothing waits). Due bytes without room wait
    // on the line, as a sender held by flow control does.
    qint64 move(int fd, qint64 nowNs, qint64 room);
    // Bytes read and not yet handed on.
    qint64 waiting() const { return qint64(m_end - m_begin) + m_out.size(); }
    void discard();

    // While stopped (the receiver sent XOFF, or dropped its RTS) no byte goes on but those
    // sent ahead; a byte under way on the line ends first.
    void setStopped(bool stopped, qint64 nowNs);
    bool stopped() const { return m_stopped; }
    // A flow-control character the sender's UART slips in before its waiting bytes, at the
    // next byte boundary, stopped or not.
    void sendAhead(char byte, qint64 nowNs);
    // Takes XON and XOFF out of the bytes handed on, as the receiver's UART does when it keeps
    // XON/XOFF flow control; whether the last one seen was XOFF is taken once.
    void setWatchFlow(bool watch) { m_watchFlow = watch; }
    std::optional<bool> takeFlowStop();
    // Flow-control characters taken out in all.
    qint64 flowTakenInAll() const { return m_flowTakenInAll; }

    // A break once the first `after` of the bytes read in all have gone on: the line held
    // at space for durationNs, what the receiver makes of it handed on, and the bytes that
    // follow sent after it.
    void scheduleBreak(qint64 after, qint64 durationNs);

    // Bytes read in all.
    qint64 readInAll() const { return m_readInAll; }

private:
    void writeOut(int fd);
    // False when the end took none of a byte sent ahead.
    bool handAhead(int fd, qint64 nowNs, qint64 room);
    qint64 firstEndNs(qint64 nowNs) const;
    // Sends the break that is due, if it is; false while the line is still busy with it.
    bool breakIfDue(qint64 nowNs);
    // Bytes read in all that have gone on.
    qint64 handedInAll() const;
    // The bytes before the next break have all gone on.
    bool breakReached() const;
    // How many waiting bytes may go before the next break.
    qint64 beforeBreak() const;
    // Hands on count bytes now (through the model, if any) and returns how many went.
    qint64 hand(int fd, const char *bytes, qint64 count, qint64 nowNs);
    QByteArray takeFlowCharacters(QByteArray seen);

    char m_data[kChunk];
    qint64 m_begin = 0;
    qint64 m_end = 0;
    // What the receiver made of the bytes handed on that its end has not taken yet.
    QByteArray m_out;
    LinePacer m_pacer;
    std::unique_ptr<UartLine> m_model;
    qint64 m_senderByteNs = 0;
    qint64 m_receiverByteNs = 0;
    // The end of the last byte handed on, on the sender's line; 0 before the first.
    qint64 m_lastEndNs = 0;
    // The model has been given bytes since the line last rested.
    bool m_modelBusy = false;
    qint64 m_readInAll = 0;
    bool m_stopped = false;
    QByteArray m_ahead;
    bool m_watchFlow = false;
    std::optional<bool> m_flowStop;
    qint64 m_flowTakenInAll = 0;
    UartFormat m_sender;
    UartFormat m_receiver;
    UartReceiverFlags m_flags;
    // (after how many bytes read in all, how long), in order.
    std::deque<std::pair<qint64, qint64>> m_breaks;
    qint64 m_breakEndNs = 0;
};
