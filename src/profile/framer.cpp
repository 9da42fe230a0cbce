#include "profile/framer.h"

#include "profile/modbus/rtuframer.h"

#include <algorithm>

namespace Profile {

namespace {
// An endless flood is counted in full, but only this much of it is kept for the log.
constexpr qsizetype kKeptDropped = 1 << 20;
} // namespace

void Framer::append(const QByteArray &bytes, qint64 atNs)
{
    if (m_buffer.isEmpty())
        m_firstByteNs = atNs;
    m_buffer += bytes;
}

void Framer::handOut(qsizetype length, qint64 completeNs, std::vector<Frame> *out)
{
    out->push_back(Frame { m_buffer.left(length), m_firstByteNs, completeNs });
    m_buffer.remove(0, length);
    // What follows in the same read arrived with the bytes that completed this frame.
    m_firstByteNs = completeNs;
}

void Framer::dropFront(qsizetype length)
{
    m_discarded += length;
    m_dropped += m_buffer.left(qMin(length, qMax<qsizetype>(0, kKeptDropped - m_dropped.size())));
    m_buffer.remove(0, length);
    m_skipping = false;
}

void Framer::discard()
{
    dropFront(m_buffer.size());
}

void Framer::skipOverLong(qsizetype keep)
{
    dropFront(qMax<qsizetype>(0, m_buffer.size() - keep));
    m_skipping = true;
}

QByteArray Framer::takeDropped()
{
    if (m_skipping)
        return QByteArray();
    QByteArray dropped;
    dropped.swap(m_dropped);
    return dropped;
}

void Framer::armStaleDeadline(qint64 atNs)
{
    const bool waiting = !m_buffer.isEmpty() || m_skipping;
    m_deadlineNs = !waiting || m_staleNs <= 0 ? kNoDeadline : atNs + m_staleNs;
}

void Framer::clear()
{
    m_buffer.clear();
    m_skipping = false;
    m_deadlineNs = kNoDeadline;
}

QByteArray Framer::takeUnfinished()
{
    QByteArray unfinished;
    unfinished.swap(m_buffer);
    m_deadlineNs = kNoDeadline;
    return unfinished;
}

std::vector<Frame> Framer::expire(qint64 nowNs)
{
    std::vector<Frame> frames;
    if (nowNs >= m_deadlineNs) {
        m_deadlineNs = kNoDeadline;
        timeUp(&frames);
    }
    return frames;
}

std::vector<Frame> Framer::feed(const QByteArray &bytes, qint64 atNs)
{
    std::vector<Frame> frames = expire(atNs);
    if (!bytes.isEmpty())
        take(bytes, atNs, &frames);
    return frames;
}

namespace {

class TerminatorFramer : public Framer
{
public:
    explicit TerminatorFramer(const Framing &framing)
        : Framer(framing.maxBytes, framing.gapNs)
        , m_terminator(framing.terminator)
    { }

protected:
    void take(const QByteArray &bytes, qint64 atNs, std::vector<Frame> *out) override
    {
        // A terminator may have begun in the previous read.
        qsizetype from = qMax<qsizetype>(0, m_buffer.size() - m_terminator.size() + 1);
        append(bytes, atNs);
        for (;;) {
            const qsizetype end = m_buffer.indexOf(m_terminator, from);
            if (end < 0)
                break;
            const qsizetype length = end + m_terminator.size();
            if (skipping() || length > maxBytes())
                dropFront(length);
            else
                handOut(length, atNs, out);
            from = 0;
        }
        // Without a whole terminator yet, what waits can only grow into an over-long command.
        if (skipping() || m_buffer.size() >= maxBytes())
            skipOverLong(m_terminator.size() - 1);
        armStaleDeadline(atNs);
    }

private:
    QByteArray m_terminator;
};

class GapFramer : public Framer
{
public:
    explicit GapFramer(const Framing &framing)
        : Framer(framing.maxBytes)
        , m_gapNs(framing.gapNs)
    { }

protected:
    void take(const QByteArray &bytes, qint64 atNs, std::vector<Frame> *out) override
    {
        Q_UNUSED(out);
        append(bytes, atNs);
        if (skipping() || m_buffer.size() > maxBytes())
            skipOverLong();
        m_deadlineNs = m_buffer.isEmpty() && !skipping() ? kNoDeadline : atNs + m_gapNs;
        m_lastByteNs = atNs;
    }

    void timeUp(std::vector<Frame> *out) override
    {
        if (skipping())
            discard();
        else
            handOut(m_buffer.size(), m_lastByteNs + m_gapNs, out);
    }

private:
    qint64 m_gapNs;
    qint64 m_lastByteNs = 0;
};

class LengthFramer : public Framer
{
public:
    explicit LengthFramer(const Framing &framing)
        : Framer(framing.maxBytes, framing.gapNs)
        , m_length(framing.length)
    { }

protected:
    void take(const QByteArray &bytes, qint64 atNs, std::vector<Frame> *out) override
    {
        append(bytes, atNs);
        while (m_buffer.size() >= m_length)
            handOut(m_length, atNs, out);
        armStaleDeadline(atNs);
    }

private:
    int m_length;
};

// Asks the rules after every byte (see CommandReach for the whole story); silence ends what
// they leave waiting, as in the gap framing.
class RulesFramer : public Framer
{
public:
    RulesFramer(const Framing &framing, std::unique_ptr<CommandReach> reach)
        : Framer(framing.maxBytes)
        , m_gapNs(framing.gapNs)
        , m_reach(std::move(reach))
    { }

protected:
    void take(const QByteArray &bytes, qint64 atNs, std::vector<Frame> *out) override
    {
        // Nothing waits after a frame, a drop, clear() or takeUnfinished(): a new start.
        if (m_buffer.isEmpty()) {
            m_judged = 0;
            m_noise = false;
        }
        append(bytes, atNs);
        while (!skipping() && m_judged < m_buffer.size())
            judgeNext(atNs, out);
        if (skipping())
            skipOverLong();
        m_deadlineNs = m_buffer.isEmpty() && !skipping() ? kNoDeadline : atNs + m_gapNs;
        m_lastByteNs = atNs;
    }

    void timeUp(std::vector<Frame> *out) override
    {
        if (skipping() || m_noise)
            discard();
        else if (!m_buffer.isEmpty())
            handOut(m_buffer.size(), m_lastByteNs + m_gapNs, out);
    }

private:
    using Reach = CommandReach::Reach;

    void judgeNext(qint64 atNs, std::vector<Frame> *out)
    {
        if (m_noise) {
            m_reach->restart();
            const Reach first = m_reach->extend(QByteArrayView(m_buffer).sliced(m_judged, 1));
            if (first == Reach::Neither) {
                ++m_judged;
                if (m_judged >= maxBytes())
                    dropNoise(atNs);
                return;
            }
            dropNoise(atNs);
            m_noise = false;
            judged(first, atNs, out);
            return;
        }
        if (m_judged == 0)
            m_reach->restart();
        const Reach reach = m_reach->extend(QByteArrayView(m_buffer).first(m_judged + 1));
        if (reach == Reach::Neither && m_judged > 0) {
            // The byte is no part of what waited; it is asked about again, alone.
            handOut(m_judged, atNs, out);
            m_judged = 0;
            return;
        }
        judged(reach, atNs, out);
    }

    // The byte after the m_judged that waited is part of the command (or the noise).
    void judged(Reach reach, qint64 atNs, std::vector<Frame> *out)
    {
        ++m_judged;
        if (reach == Reach::Neither) {
            m_noise = true;
            if (m_judged >= maxBytes())
                dropNoise(atNs);
        } else if (m_judged > maxBytes()) {
            // A whole command ends here; one that could grow runs on up to the silence.
            if (reach == Reach::Whole)
                dropFront(m_judged);
            else
                skipOverLong();
            m_judged = 0;
        } else if (reach == Reach::Whole) {
            handOut(m_judged, atNs, out);
            m_judged = 0;
        }
    }

    void dropNoise(qint64 atNs)
    {
        dropFront(m_judged);
        m_judged = 0;
        // What follows came with this read.
        m_firstByteNs = atNs;
    }

    qint64 m_gapNs;
    std::unique_ptr<CommandReach> m_reach;
    qint64 m_lastByteNs = 0;
    // The bytes at the front of the buffer asked about so far: a command that may grow, or
    // noise.
    qsizetype m_judged = 0;
    bool m_noise = false;
};

// The rule the engine has without a profile: a window opens with a byte that arrives while
// none is open, and when it ends, what waits is a command if some rule can match that many
// bytes. The beginning of a command stays for the next window, which the next byte opens;
// anything else is dropped, so a stray byte cannot swallow the next command.
class WindowFramer : public Framer
{
public:
    WindowFramer(const Framing &framing, const WindowLengths &lengths)
        : Framer(framing.maxBytes)
        , m_windowNs(framing.windowNs)
        , m_exact(framing.windowExact)
        , m_lengths(lengths)
    {
        std::sort(m_lengths.lengths.begin(), m_lengths.lengths.end());
    }

protected:
    void take(const QByteArray &bytes, qint64 atNs, std::vector<Frame> *out) override
    {
        Q_UNUSED(out);
        append(bytes, atNs);
        if (m_deadlineNs == kNoDeadline)
            m_deadlineNs = atNs + m_windowNs;
        // What the window holds past the limit goes, and so does the rest of the window.
        if (skipping() || m_buffer.size() > maxBytes())
            skipOverLong();
        m_windowEndNs = m_deadlineNs;
    }

    void timeUp(std::vector<Frame> *out) override
    {
        if (skipping()) {
            discard();
            return;
        }
        const int waiting = int(m_buffer.size());
        const std::vector<int> &lengths = m_lengths.lengths;
        const bool handsOut = m_exact
                ? std::find(m_lengths.commands.begin(), m_lengths.commands.end(), m_buffer)
                        != m_lengths.commands.end()
                : m_lengths.any || std::binary_search(lengths.begin(), lengths.end(), waiting);
        if (handsOut) {
            handOut(waiting, m_windowEndNs, out);
            return;
        }
        const bool begins = std::any_of(m_lengths.commands.begin(), m_lengths.commands.end(),
                                        [this](const QByteArray &c) { return c.startsWith(m_buffer); });
        if (!begins)
            discard();
    }

    bool deadlineIsSilence() const override { return false; }

private:
    qint64 m_windowNs;
    bool m_exact;
    WindowLengths m_lengths;
    qint64 m_windowEndNs = 0;
};

} // namespace

std::unique_ptr<Framer> Framer::create(const Framing &framing, const WindowLengths &lengths,
                                       std::unique_ptr<CommandReach> reach)
{
    switch (framing.mode) {
    case Framing::Mode::Rules:
        if (reach)
            return std::make_unique<RulesFramer>(framing, std::move(reach));
        return std::make_unique<GapFramer>(framing);
    case Framing::Mode::Terminator:
        return std::make_unique<TerminatorFramer>(framing);
    case Framing::Mode::Gap:
        return std::make_unique<GapFramer>(framing);
    case Framing::Mode::Length:
        return std::make_unique<LengthFramer>(framing);
    case Framing::Mode::ModbusRtu:
        return std::make_unique<Modbus::RtuFramer>(framing);
    case Framing::Mode::Window:
        break;
    }
    return std::make_unique<WindowFramer>(framing, lengths);
}

} // namespace Profile
