#pragma once

#include "serial/uartline.h"

#include <QByteArray>

#include <numeric>
#include <vector>

// A second, deliberately plain reading of a serial line to hold UartLine against: the sender's
// waveform drawn out tick by tick on the line's common clock, and a receiver that looks at
// every tick in turn. Slow, and meant to be obviously right rather than fast.
class SampledUart
{
public:
    SampledUart(UartFormat sender, UartFormat receiver, UartReceiverFlags flags)
        : m_sender(sender), m_receiver(receiver), m_flags(flags)
    {
        // The smallest multiple of both speeds' half bits that is at least 4 MHz.
        const qint64 both = std::lcm(2 * qint64(sender.baud), 2 * qint64(receiver.baud));
        m_rate = both;
        while (m_rate < 4'000'000)
            m_rate += both;
        m_senderBit2 = m_rate / (2 * qint64(sender.baud));
        m_receiverBit2 = m_rate / (2 * qint64(receiver.baud));
    }

    QByteArray send(const QByteArray &bytes, qint64 idleNs)
    {
        draw(true, ticks(idleNs));
        for (const char byte : bytes) {
            const int data = quint8(byte) & ((1 << m_sender.dataBits) - 1);
            draw(false, 2 * m_senderBit2);
            int ones = 0;
            for (int i = 0; i < m_sender.dataBits; ++i) {
                const bool bit = (data >> i) & 1;
                ones += bit;
                draw(bit, 2 * m_senderBit2);
            }
            if (m_sender.parity != 'N')
                draw(parityBit(m_sender.parity, ones), 2 * m_senderBit2);
            draw(true, m_sender.stopHalfBits * m_senderBit2);
        }
        return run();
    }

    QByteArray idle()
    {
        draw(true, 2 * (receiverBits() + 1) * m_receiverBit2);
        return run();
    }

    QByteArray sendBreak(qint64 durationNs, qint64 idleNs)
    {
        draw(true, ticks(idleNs));
        draw(false, ticks(durationNs));
        return run();
    }

    UartLine::Counters counters;

private:
    enum class State { Hunt, WaitMark, Frame };

    static bool parityBit(char parity, int ones)
    {
        switch (parity) {
        case 'E': return ones % 2 == 1;
        case 'O': return ones % 2 == 0;
        case 'M': return true;
        default: return false;
        }
    }

    // Start, data and parity bits: the index of the stop bit the receiver reads.
    int receiverBits() const { return 1 + m_receiver.dataBits + (m_receiver.parity != 'N'); }

    qint64 ticks(qint64 ns) const
    {
        Q_ASSERT(ns >= 0 && ns < 100'000'000'000LL); // ns * rate stays in 64 bits
        return ns * m_rate / 1'000'000'000;
    }

    void draw(bool mark, qint64 count) { m_wave.insert(m_wave.end(), size_t(count), mark); }

    QByteArray run()
    {
        QByteArray out;
        for (const bool mark : m_wave) {
            switch (m_state) {
            case State::WaitMark:
                if (mark)
                    m_state = State::Hunt;
                break;
            case State::Hunt:
                if (!mark) {
                    m_state = State::Frame;
                    m_sinceStart = 0;
                    m_samples.clear();
                }
                break;
            case State::Frame:
                ++m_sinceStart;
                if (m_sinceStart % (2 * m_receiverBit2) != m_receiverBit2)
                    break;
                m_samples.push_back(mark);
                if (m_samples.size() == 1 && mark)
                    m_state = State::Hunt; // no start bit after all
                else if (int(m_samples.size()) == receiverBits() + 1)
                    finish(&out);
                break;
            }
        }
        m_wave.clear();
        return out;
    }

    void finish(QByteArray *out)
    {
        int data = 0;
        int ones = 0;
        for (int i = 0; i < m_receiver.dataBits; ++i) {
            data |= int(m_samples[size_t(1 + i)]) << i;
            ones += m_samples[size_t(1 + i)];
        }
        const bool stop = m_samples.back();
        bool anyMark = stop || data != 0;
        bool parityWrong = false;
        if (m_receiver.parity != 'N') {
            const bool got = m_samples[size_t(1 + m_receiver.dataBits)];
            anyMark = anyMark || got;
            parityWrong = got != parityBit(m_receiver.parity, ones);
        }
        m_state = stop ? State::Hunt : State::WaitMark;

        ++counters.frames;
        if (!anyMark) {
            ++counters.breaks;
            if (!m_flags.ignoreBreak)
                out->append(m_flags.markErrors ? QByteArray("\xFF\0\0", 3) : QByteArray(1, '\0'));
            return;
        }
        counters.framingErrors += !stop;
        counters.parityErrors += parityWrong;
        if (m_flags.checkParity && (!stop || parityWrong)) {
            if (!m_flags.ignoreParityErrors)
                out->append(m_flags.markErrors ? QByteArray("\xFF\0", 2) + char(data) : QByteArray(1, '\0'));
            return;
        }
        if (m_flags.stripHighBit)
            data &= 0x7F;
        out->append(char(data));
        if (data == 0xFF && m_flags.markErrors)
            out->append(char(data));
    }

    UartFormat m_sender;
    UartFormat m_receiver;
    UartReceiverFlags m_flags;
    qint64 m_rate = 0;
    qint64 m_senderBit2 = 0; // ticks in half a bit
    qint64 m_receiverBit2 = 0;
    std::vector<bool> m_wave; // drawn and not yet looked at
    State m_state = State::Hunt;
    qint64 m_sinceStart = 0;
    std::vector<bool> m_samples;
};
