#pragma once

#include <QString>

// A pipe that wakes a thread or an event loop waiting on its read end. wake() may be called
// from a signal handler; the pipe never blocks, and a full one already holds a wake-up.
class WakePipe
{
public:
    WakePipe() = default;
    WakePipe(const WakePipe &) = delete;
    WakePipe &operator=(const WakePipe &) = delete;
    ~WakePipe() { close(); }

    // False with "pipe: reason".
    bool open(QString *error);
    void close();

    // The descriptor to wait on for reading.
    int readEnd() const { return m_fds[0]; }
    void wake();
    // Reads away every wake-up so far.
    void drain();

private:
    int m_fds[2] = { -1, -1 };
};
