#pragma once

#include <functional>

// Ends the program at once, from wherever it is: also from inside a communication run,
// which waits in nested event loops that a normal quit would not leave.
class ProcessExit
{
public:
    virtual ~ProcessExit() = default;
    virtual void endNow() = 0;
};

class RealProcessExit : public ProcessExit
{
public:
    // beforeExit releases what the process holds outside itself (the instance lock).
    explicit RealProcessExit(std::function<void()> beforeExit) : m_beforeExit(std::move(beforeExit)) { }
    void endNow() override;

private:
    std::function<void()> m_beforeExit;
};
