#pragma once

#include <QByteArray>

#include <deque>

namespace Profile::Scpi {

// An entry of the error/event queue: the number and its text, as SYSTem:ERRor? writes them.
struct QueuedError
{
    int code = 0;
    QByteArray text;
};

// The errors a host has not read yet, oldest first, as SCPI keeps them: a host that polls
// SYSTem:ERRor? after a batch of commands learns every fault in order, not just the last.
// Bounded: the entry that finds it full takes the last place as -350 "Queue overflow", so the
// host knows something was lost, and later ones are lost until there is room.
class ErrorQueue
{
public:
    static constexpr size_t kCapacity = 20;
    static constexpr int kOverflow = -350;

    // False when the queue was full: the error was lost (and the last is the overflow).
    bool push(int code, const QByteArray &text);
    // The oldest, taken out; +0 "No error" when empty.
    QueuedError take();
    bool isEmpty() const { return m_errors.empty(); }
    size_t size() const { return m_errors.size(); }
    void clear() { m_errors.clear(); }

    // "-113,\"Undefined header\"", "+0,\"No error\"".
    static QByteArray written(const QueuedError &error);

private:
    std::deque<QueuedError> m_errors;
};

} // namespace Profile::Scpi
