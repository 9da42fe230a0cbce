#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

// The host's input as the program must hold it on virtual time: one window of a second from
// the first byte of an arrival; when it closes, input equal to a device command is answered,
// a proper beginning of one is kept for the next arrival, anything else is dropped with a
// log line. Where events fall too near a window's end to say which came first, or the port
// may not have taken the bytes, the model gives up foreseeing until it is reset.
class HeldInput
{
public:
    static constexpr qint64 kWindowNs = 1'000'000'000;
    static constexpr qint64 kMarginNs = 100'000'000;

    enum class Verdict { Answered, Kept, Dropped };
    // Called for every window the model is sure of, at the moment it closes.
    std::function<void(qint64 at, const QByteArray &input, Verdict verdict)> judged;

    // Start, or a port opened afresh: nothing held, nothing open.
    void reset()
    {
        m_held.clear();
        m_windowEnd = -1;
        m_sure = true;
    }
    // Stop at t: the program drops what it held; a window still open closes without a word.
    void stop(qint64 t, const QList<QByteArray> &commands)
    {
        closeBefore(t, commands);
        m_held.clear();
        m_windowEnd = -1;
    }
    // The device is lost at t, or at some moment soon after: a window still open keeps its
    // handler busy for a time the model does not know.
    void lose(qint64 t, const QList<QByteArray> &commands)
    {
        closeBefore(t, commands);
        m_sure = m_sure && m_windowEnd < 0;
        stop(t, commands);
    }
    // Input that reached a port the model cannot say was open.
    void unsure() { m_sure = false; }

    // Judges the windows that closed before t.
    void closeBefore(qint64 t, const QList<QByteArray> &commands)
    {
        if (m_windowEnd < 0)
            return;
        if (t <= m_windowEnd + kMarginNs) {
            m_sure = m_sure && t < m_windowEnd - kMarginNs;
            return;
        }
        Verdict verdict = Verdict::Dropped;
        for (const QByteArray &command : commands) {
            if (command.isEmpty())
                continue;
            if (m_held == command) {
                verdict = Verdict::Answered;
                break;
            }
            if (command.startsWith(m_held))
                verdict = Verdict::Kept;
        }
        if (m_sure && judged)
            judged(m_windowEnd, m_held, verdict);
        m_windowEnd = -1;
        if (verdict != Verdict::Kept)
            m_held.clear();
    }

    void arrive(qint64 t, const QByteArray &bytes, const QList<QByteArray> &commands)
    {
        closeBefore(t, commands);
        if (m_windowEnd < 0)
            m_windowEnd = t + kWindowNs;
        m_held += bytes;
    }

    // Nothing held and no window open at t: a command arriving now has the line to itself.
    bool isClear(qint64 t, const QList<QByteArray> &commands)
    {
        closeBefore(t, commands);
        return m_sure && m_windowEnd < 0 && m_held.isEmpty();
    }

private:
    QByteArray m_held;
    qint64 m_windowEnd = -1;
    bool m_sure = true;
};
