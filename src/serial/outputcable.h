#pragma once

#include <QtGlobal>

// A cable of the program's own between its port and the host (the virtual port): bytes the
// driver has taken may still be on their way through it. The port asks it how many, to wait
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
};
