#pragma once

#include "platform/sessionclock.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <functional>
#include <map>
#include <utility>

// A session clock on virtual time. Waits jump straight to their deadline after running,
// in time order, every action scheduled up to it; the program's own delayed calls are such
// actions too. Between actions the real event loop runs a few short passes, so bytes
// written into a real pty reach the program before the next step.
class VirtualClock : public SessionClock
{
public:
    // What a pass of event processing costs in virtual time: back-to-back cycles move on.
    static constexpr qint64 kPassNs = 10'000'000;

    qint64 nowNs() const override { return m_now; }

    void waitUntil(qint64 deadlineNs) override
    {
        const qint64 entry = m_now;
        settle();
        for (;;) {
            const auto next = m_actions.begin();
            if (next == m_actions.end() || next->first.first > deadlineNs)
                break;
            Action action = std::move(next->second);
            m_now = std::max(m_now, next->first.first);
            m_actions.erase(next);
            if (!action.hasContext || action.context)
                action.fn();
            if (action.settle)
                settle();
        }
        m_now = std::max(m_now, deadlineNs);
        if (m_now == entry)
            m_now += kPassNs;
        if (m_atDeadline) {
            // Runs as the wait ends, with nothing in between and the program's next step.
            const std::function<void()> fn = std::move(m_atDeadline);
            m_atDeadline = nullptr;
            fn();
        }
    }

    void callAfter(int ms, QObject *context, std::function<void()> fn) override
    {
        add(m_now + qint64(ms) * 1'000'000, { std::move(fn), context, true, true });
    }

    void callAt(qint64 deadlineNs, QObject *context, std::function<void()> fn) override
    {
        add(std::max(m_now, deadlineNs), { std::move(fn), context, true, true });
    }

    // A pass of event processing costs its time here too, or back-to-back work would never
    // let the clock move on.
    void callSoon(QObject *context, std::function<void()> fn) override
    {
        add(m_now + kPassNs, { std::move(fn), context, true, true });
    }

    // Runs fn when the clock reaches atNs; settle: let the real event loop run afterwards.
    void schedule(qint64 atNs, std::function<void()> fn, bool settleAfter = true)
    {
        add(atNs, { std::move(fn), nullptr, false, settleAfter });
    }
    // Time passes without a wait, as while the program is busy.
    void advance(qint64 ns) { m_now += ns; }
    // Runs fn at the very end of the next wait that completes.
    void atNextDeadline(std::function<void()> fn) { m_atDeadline = std::move(fn); }

    static void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::usleep(100);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

private:
    struct Action
    {
        std::function<void()> fn;
        QPointer<QObject> context;
        bool hasContext = false;
        bool settle = true;
    };
    void add(qint64 at, Action action)
    {
        m_actions.emplace(std::make_pair(at, m_seq++), std::move(action));
    }

    qint64 m_now = 0;
    quint64 m_seq = 0;
    std::map<std::pair<qint64, quint64>, Action> m_actions;
    std::function<void()> m_atDeadline;
};
