#include "serial/uartline.h"

#include <QtAlgorithms>

#include <algorithm>
#include <numeric>

namespace {

// Fine enough that an idle gap rounded to the tick moves a start edge by far less than the
// 1/16 bit a real receiver's sampling clock already blurs it by, at any common speed.
constexpr qint64 kMinTicksPerSecond = 4'000'000;
constexpr qint64 kNsPerSecond = 1'000'000'000;

__extension__ typedef __int128 Wide;

bool parityBitFor(char parity, quint32 data)
{
    const bool odd = qPopulationCount(data) & 1;
    switch (parity) {
    case 'E': return odd;
    case 'O': return !odd;
    case 'M': return true;
    default: return false;
    }
}

} // namespace

bool UartFormat::isValid() const
{
    return baud > 0 && dataBits >= 5 && dataBits <= 8 && stopHalfBits >= 2 && stopHalfBits <= 4
            && (parity == 'N' || parity == 'E' || parity == 'O' || parity == 'M' || parity == 'S');
}

QString UartFormat::text() const
{
    const QString stop = stopHalfBits % 2 ? QStringLiteral("%1.5").arg(stopHalfBits / 2)
                                          : QString::number(stopHalfBits / 2);
    return QStringLiteral("%1 %2%3%4").arg(baud).arg(dataBits).arg(QChar::fromLatin1(parity)).arg(stop);
}

double UartFormat::bitsPerByte() const
{
    return 1 + dataBits + (hasParity() ? 1 : 0) + stopHalfBits / 2.0;
}

qint64 UartFormat::byteNs() const
{
    const qint64 halfBits = 2 * (1 + dataBits + (hasParity() ? 1 : 0)) + stopHalfBits;
    return (halfBits * kNsPerSecond + baud) / (2 * qint64(baud));
}

qint64 UartLine::ticksPerSecond(int baudA, int baudB)
{
    const qint64 common = std::lcm(2 * qint64(baudA), 2 * qint64(baudB));
    return common * ((kMinTicksPerSecond + common - 1) / common);
}

UartLine::UartLine(UartFormat sender, UartFormat receiver, UartReceiverFlags flags)
    : m_sender(sender), m_receiver(receiver), m_flags(flags)
{
    Q_ASSERT(sender.isValid() && receiver.isValid());
    const qint64 rate = ticksPerSecond(sender.baud, receiver.baud);
    m_senderHalfBit = rate / (2 * qint64(sender.baud));
    m_receiverHalfBit = rate / (2 * qint64(receiver.baud));
    m_stopSample = 1 + receiver.dataBits + (receiver.hasParity() ? 1 : 0);
    m_receiverFrame = 2 * (m_stopSample + 1) * m_receiverHalfBit;
}

bool UartLine::transparent() const
{
    return m_sender.baud == m_receiver.baud && m_sender.dataBits == m_receiver.dataBits
            && m_sender.parity == m_receiver.parity;
}

qint64 UartLine::ticksOf(qint64 ns, qint64 cap) const
{
    if (ns <= 0)
        return 0;
    const Wide rate = ticksPerSecond(m_sender.baud, m_receiver.baud);
    return qint64(std::min<Wide>(Wide(ns) * rate / kNsPerSecond, cap));
}

QByteArray UartLine::send(const QByteArray &bytes, qint64 idleNsBefore)
{
    // Mark longer than one of the receiver's frames finishes all it reads: longer is the same.
    qint64 gap = ticksOf(idleNsBefore, m_receiverFrame);
    const int bits = 1 + m_sender.dataBits + (m_sender.hasParity() ? 1 : 0);
    const qint64 bitTicks = 2 * m_senderHalfBit;
    const qint64 stopTicks = m_sender.stopHalfBits * m_senderHalfBit;
    if (bytes.isEmpty()) {
        m_end += gap;
        m_endAtMark = m_endAtMark || gap > 0;
    }
    for (const char byte : bytes) {
        append(gap, frameMarks(quint8(byte)), bits, bitTicks, stopTicks);
        gap = 0;
    }
    QByteArray out;
    receive(m_end, &out);
    forget();
    return out;
}

QByteArray UartLine::idle()
{
    m_end += m_receiverFrame;
    m_endAtMark = true;
    QByteArray out;
    receive(m_end, &out);
    forget();
    return out;
}

QByteArray UartLine::sendBreak(qint64 durationNs, qint64 idleNsBefore)
{
    const qint64 gap = ticksOf(idleNsBefore, m_receiverFrame);
    // Within two of the receiver's frames it has read all it can of a break and waits for
    // mark: a longer break gives the same.
    const qint64 length = ticksOf(durationNs, 2 * m_receiverFrame);
    if (length > 0) {
        append(gap, 0, 1, length, 0);
    } else {
        m_end += gap;
        m_endAtMark = m_endAtMark || gap > 0;
    }
    QByteArray out;
    receive(m_end, &out);
    forget();
    return out;
}

void UartLine::append(qint64 gapTicks, quint32 marks, int bits, qint64 bitTicks, qint64 tailTicks)
{
    const qint64 start = m_end + gapTicks;
    const qint64 end = start + bits * bitTicks + tailTicks;
    m_spans.push_back({ start, end, bitTicks, marks, bits, gapTicks > 0 || m_endAtMark });
    m_end = end;
    m_endAtMark = tailTicks > 0 || ((marks >> (bits - 1)) & 1);
}

quint32 UartLine::frameMarks(quint8 byte) const
{
    // Bit 0 is the start bit (space), then the data LSB first, then the parity bit.
    const quint32 data = byte & ((1u << m_sender.dataBits) - 1);
    quint32 marks = data << 1;
    if (m_sender.hasParity() && parityBitFor(m_sender.parity, data))
        marks |= 1u << (1 + m_sender.dataBits);
    return marks;
}

void UartLine::receive(qint64 horizon, QByteArray *out)
{
    for (;;) {
        if (m_hunting) {
            if (!findStartEdge())
                return;
            m_hunting = false;
        }
        const qint64 startSample = m_frameStart + m_receiverHalfBit;
        if (startSample >= horizon)
            return;
        size_t cursor = m_firstSpan;
        if (levelAt(startSample, &cursor)) {
            // Back at mark by the middle of the start bit: a glitch, not a start.
            m_scanFrom = startSample;
            m_hunting = true;
            continue;
        }
        const qint64 stopSample = m_frameStart + (2 * m_stopSample + 1) * m_receiverHalfBit;
        if (stopSample >= horizon)
            return;
        readFrame(out);
        // A frame that ended at space (a framing error, a break) leaves the receiver waiting
        // for mark: the next start is the next falling edge after the stop bit's sample.
        m_scanFrom = stopSample;
        m_hunting = true;
    }
}

bool UartLine::findStartEdge()
{
    const qint64 from = m_scanFrom + 1;
    for (size_t i = m_firstSpan; i < m_spans.size(); ++i) {
        const Span &span = m_spans[i];
        if (span.end <= from) {
            m_firstSpan = i + 1; // nothing later reads it
            continue;
        }
        if (span.markBefore && span.start >= from) {
            m_frameStart = span.start;
            return true;
        }
        // Falling edges inside the span: a bit at space after one at mark.
        quint32 falling = (span.marks << 1) & ~span.marks & ((1u << span.bits) - 2);
        const qint64 first = from > span.start ? (from - span.start + span.bitTicks - 1) / span.bitTicks : 1;
        falling = first >= span.bits ? 0 : falling & ~((1u << first) - 1);
        if (falling) {
            m_frameStart = span.start + qint64(qCountTrailingZeroBits(falling)) * span.bitTicks;
            return true;
        }
    }
    return false;
}

bool UartLine::levelAt(qint64 tick, size_t *cursor) const
{
    while (*cursor < m_spans.size() && m_spans[*cursor].end <= tick)
        ++*cursor;
    if (*cursor == m_spans.size() || tick < m_spans[*cursor].start)
        return true; // idle between spans
    const Span &span = m_spans[*cursor];
    const qint64 bit = (tick - span.start) / span.bitTicks;
    return bit >= span.bits || ((span.marks >> bit) & 1);
}

void UartLine::readFrame(QByteArray *out)
{
    size_t cursor = m_firstSpan;
    const auto sample = [&](int index) {
        return levelAt(m_frameStart + (2 * index + 1) * m_receiverHalfBit, &cursor);
    };
    quint32 data = 0;
    for (int bit = 0; bit < m_receiver.dataBits; ++bit)
        data |= quint32(sample(1 + bit)) << bit;
    const bool parityMark = m_receiver.hasParity() && sample(1 + m_receiver.dataBits);
    const bool stopMark = sample(m_stopSample);

    const bool framingError = !stopMark;
    const bool parityError = m_receiver.hasParity() && parityMark != parityBitFor(m_receiver.parity, data);
    const bool isBreak = data == 0 && !parityMark && !stopMark;
    ++m_counters.frames;
    // A break is reported as a break alone, as the serial core does.
    if (isBreak) {
        ++m_counters.breaks;
    } else {
        m_counters.framingErrors += framingError;
        m_counters.parityErrors += parityError;
    }
    deliver(quint8(data), framingError, parityError, isBreak, out);
}

void UartLine::deliver(quint8 data, bool framingError, bool parityError, bool isBreak, QByteArray *out)
{
    if (isBreak) {
        if (m_flags.ignoreBreak)
            return;
        if (m_flags.markErrors)
            out->append("\xFF\x00", 2);
        out->append('\0');
        return;
    }
    // Without INPCK the serial core masks framing and parity errors out of what it reports,
    // and the byte passes as read; IGNPAR and PARMRK act only on reported errors.
    if ((framingError || parityError) && m_flags.checkParity) {
        if (m_flags.ignoreParityErrors)
            return;
        if (m_flags.markErrors) {
            out->append("\xFF\x00", 2);
            out->append(char(data));
        } else {
            out->append('\0');
        }
        return;
    }
    const quint8 c = m_flags.stripHighBit ? data & 0x7F : data;
    if (m_flags.markErrors && c == 0xFF)
        out->append(char(0xFF));
    out->append(char(c));
}

void UartLine::forget()
{
    if (m_firstSpan == m_spans.size()) {
        m_spans.clear();
        m_firstSpan = 0;
    } else if (m_firstSpan > 64) {
        m_spans.erase(m_spans.begin(), m_spans.begin() + qsizetype(m_firstSpan));
        m_firstSpan = 0;
    }
    qint64 origin = m_hunting ? m_scanFrom : m_frameStart;
    if (m_firstSpan < m_spans.size())
        origin = std::min(origin, m_spans[m_firstSpan].start);
    // Only differences of ticks matter: counting from the receiver's last decision keeps the
    // numbers small however long the stream runs, at a cost of a few live spans a call.
    if (origin <= 0)
        return;
    for (Span &span : m_spans) {
        span.start -= origin;
        span.end -= origin;
    }
    m_end -= origin;
    m_scanFrom -= origin;
    m_frameStart -= origin;
}
