#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// One end's line settings, as the UART of that end is programmed.
struct UartFormat
{
    int baud = 9600;
    int dataBits = 8; // 5..8
    char parity = 'N'; // 'N', 'E', 'O', 'M' (mark), 'S' (space)
    int stopHalfBits = 2; // stop bits in halves: 2 = 1, 3 = 1.5, 4 = 2

    bool operator==(const UartFormat &o) const
    {
        return baud == o.baud && dataBits == o.dataBits && parity == o.parity
                && stopHalfBits == o.stopHalfBits;
    }
    bool operator!=(const UartFormat &o) const { return !(*this == o); }

    bool isValid() const;
    bool hasParity() const { return parity != 'N'; }
    // "9600 8N1", "19200 7E1", "9600 8N1.5".
    QString text() const;
    double bitsPerByte() const;
    // One frame, start bit to the end of the last stop bit, rounded to the nanosecond.
    qint64 byteNs() const;
};

// The receiving driver's termios input flags that change what its reader gets.
struct UartReceiverFlags
{
    bool ignoreParityErrors = false; // IGNPAR: with INPCK, bytes with framing/parity errors dropped
    bool markErrors = false; // PARMRK: an erroneous byte reaches the reader as 0xFF 0x00 b,
                             //         a real 0xFF (with !ISTRIP) as 0xFF 0xFF
    bool checkParity = false; // INPCK: errors reported at all (else the byte passes as read)
    bool stripHighBit = false; // ISTRIP
    bool ignoreBreak = false; // IGNBRK
};

// One direction of a cable: a sender's bytes as the receiving UART and its driver deliver them.
// The receiver hunts for a falling edge, checks the start bit at its middle, samples every bit
// at its middle by its own clock, and reads the first stop bit; its driver then treats errors
// and breaks as Linux's serial core and n_tty do.
//
// Time runs on an exact common clock: a whole number of ticks per half bit at either speed
// (at most 250 ns a tick), so no error builds up over any length of stream. Idle gaps and
// breaks given in nanoseconds are rounded down to whole ticks. A sample that falls exactly on
// an edge reads the bit that begins there.
//
// Stateful and streaming: a frame the receiver has begun can finish with the next call.
// Deterministic: the result depends only on the settings, the bytes and the idle gaps given.
class UartLine
{
public:
    UartLine(UartFormat sender, UartFormat receiver, UartReceiverFlags flags = {});

    // Bytes sent back to back; idleNsBefore: how long the line was idle (mark) before the first
    // of them since the end of the previous call's last stop bit (0 = contiguous). Returns what
    // the receiver's driver hands its reader as a result of everything up to the end of these
    // bytes' last stop bit (a frame the receiver has not finished by then stays pending).
    QByteArray send(const QByteArray &bytes, qint64 idleNsBefore);
    // The line rests at mark for one of the receiver's frames, which finishes whatever it was
    // reading; a later call's idle gap counts from the end of that rest.
    QByteArray idle();
    // The sender holds the line at space for durationNs (a break), then mark again; the next
    // call's idle gap counts from the end of the break.
    QByteArray sendBreak(qint64 durationNs, qint64 idleNsBefore);

    struct Counters
    {
        quint64 frames = 0, framingErrors = 0, parityErrors = 0, breaks = 0;
    };
    const Counters &counters() const { return m_counters; }

    // True when sender and receiver agree in every respect the model uses (speed, data bits,
    // parity; the receiver reads one stop bit whatever its setting): the model is then the
    // identity, up to what ISTRIP and PARMRK do to any byte.
    bool transparent() const;

    // The common clock of two speeds, in ticks per second.
    static qint64 ticksPerSecond(int baudA, int baudB);

private:
    // What the sender put on the line from `start`: `bits` bits of bitTicks each, bit i at
    // mark when bit i of `marks` is set, then mark up to `end` (stop bits; none for a break).
    struct Span
    {
        qint64 start, end, bitTicks;
        quint32 marks;
        int bits;
        bool markBefore; // the line was at mark the tick before start
    };

    qint64 ticksOf(qint64 ns, qint64 cap) const;
    void append(qint64 gapTicks, quint32 marks, int bits, qint64 bitTicks, qint64 tailTicks);
    quint32 frameMarks(quint8 byte) const;
    // Runs the receiver over everything known before `horizon`.
    void receive(qint64 horizon, QByteArray *out);
    // The next falling edge the receiver takes for a start, among what was sent.
    bool findStartEdge();
    bool levelAt(qint64 tick, size_t *cursor) const;
    void readFrame(QByteArray *out);
    void deliver(quint8 data, bool framingError, bool parityError, bool isBreak, QByteArray *out);
    void forget();

    UartFormat m_sender;
    UartFormat m_receiver;
    UartReceiverFlags m_flags;
    qint64 m_senderHalfBit = 0; // ticks
    qint64 m_receiverHalfBit = 0;
    int m_stopSample = 0; // index of the receiver's stop bit: start, data, parity, stop
    qint64 m_receiverFrame = 0; // ticks, start to the end of the first stop bit

    std::vector<Span> m_spans; // the line from the receiver's last decision on
    size_t m_firstSpan = 0;
    qint64 m_end = 0; // the end of the last stop bit or break sent
    bool m_endAtMark = true; // the line's level just before m_end
    bool m_hunting = true;
    qint64 m_scanFrom = -1; // hunting: a start edge at tick t needs t - 1 >= m_scanFrom
    qint64 m_frameStart = 0; // reading a frame: the tick of its start edge
    Counters m_counters;
};
