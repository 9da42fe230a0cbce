#pragma once

#include "profile/framer.h"
#include "record/recordedreads.h"

#include <QByteArray>

#include <vector>

// What a recording saw on both sides of the relay, and what it makes of it: the commands the
// host sent, the framing that cuts them, and the answer each one got. Plain values and one
// function; no port and no clock, so a recording made up in a test reads like a real one.
namespace Recording {

// One command of the host and what the instrument did about it.
struct Exchange
{
    QByteArray command;
    // When the instrument could know the command was whole: the read that brought its
    // terminator or, under gap framing, its last byte.
    qint64 completeNs = 0;
    bool answered = false;
    QByteArray answer;
    // From completeNs to the first read of the answer.
    qint64 delayNs = 0;
};

struct Exchanges
{
    // Terminator when every answered command ends in the same control characters, else Gap.
    Profile::Framing framing;
    std::vector<Exchange> exchanges;
    // Bytes of the instrument that no command asked for (before the first command, or after
    // an answer had already ended), which a profile cannot play.
    qint64 unaskedBytes = 0;
    // Host bytes after the last whole command.
    QByteArray unfinished;
};

// The end characters (CR, LF and the bytes 0x03, 0x04, 0x17: ETX, EOT, ETB in ASCII) every
// answered command ends with (every command when none was answered): "\r\n", "\n", "\x03";
// empty when they share none.
QByteArray commonTerminator(const RecordedReads &reads);

// Cuts the host's bytes into commands and gives each the instrument's bytes that followed it
// before the host spoke again. The latest command before an answer gets it; commands the host
// sent back to back without an answer between get none. Without a common terminator a
// command ends at a silence of the inferred gap or where the instrument began to answer;
// byteNs, the time of one byte on the line, sets the shortest gap.
Exchanges inferExchanges(const RecordedReads &reads, qint64 byteNs);

} // namespace Recording
