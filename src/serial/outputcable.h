#pragma once

#include "serial/commparameters.h"
#include "serial/lineflow.h"

#include <QString>
#include <QtGlobal>

#include <functional>

// A cable of the program's own between its port and the host (the virtual port): it carries
// bytes at the line's speed, compares the two ends' settings, and bytes the driver has taken
// may still be on their way through it. The port asks it how many, to wait
// for a slow host before closing, and has it throw them away when it closes, so the count it
// logs as dropped is what the host will never get.
class OutputCable
{
public:
    virtual ~OutputCable() = default;
    // Bytes the host has not read yet, given how many the port's driver has taken in all.
    virtual qint64 bytesTowardHost(qint64 takenFromProgram) const = 0;
    // Throws those bytes away and returns how many they were; the cable stays usable.
    virtual qint64 discardTowardHost(qint64 takenFromProgram) = 0;

    // Bytes the host sent that are still on their way to the program, given how many the
    // port has had from its driver in all (read, or waiting to be): on the line, or handed
    // on and not through the system yet, so the line is not silent.
    virtual bool carriesInput(qint64 takenByProgram) = 0;

    // The instrument's line settings, which the cable carries its bytes at; paced false lets
    // them through as fast as the cable moves bytes.
    virtual void setInstrumentLine(const CommParameters &line, bool paced) = 0;
    // Called whenever the host's settings and the instrument's are compared anew and differ,
    // and once when they agree again: texts as UartFormat::text() writes them. Called on the cable's
    // own thread.
    // The flow control the instrument keeps: with XON/XOFF the host's XOFF stops what the
    // cable carries to it until its XON; with RTS/CTS the host's RTS (setHostReady) does.
    virtual void setFlow(LineFlow flow) = 0;
    virtual void setHostReady(bool ready) = 0;
    // A byte the instrument's UART sends ahead of what waits (its own XON or XOFF).
    virtual void sendAhead(char byte) = 0;
    // A break of ms toward the host once the first takenFromProgram bytes the port's driver
    // took in all have gone; bytes taken after them follow it.
    virtual void sendBreak(int ms, qint64 takenFromProgram) = 0;
    using LineWatcher = std::function<void(const QString &host, const QString &instrument, bool agree)>;
    virtual void watchLine(LineWatcher watcher) = 0;
};
