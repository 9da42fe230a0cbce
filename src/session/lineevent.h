#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// One thing that happened on the line, for whoever follows a run from outside (an event
// stream, a test harness). The log tells the same story for people; this tells it for
// programs, with the bytes whole and the time to the nanosecond.
struct LineEvent
{
    enum class Kind {
        Start, // seed, profile
        Stop,
        Received, // bytes of one read, at its arrival
        Sent, // bytes the port took
        Answer, // command, bytes sent, rule, faults
        Unanswered, // bytes dropped without an answer; rule: where match steps ran out;
                    // message: the Lua error that left the rule taking it without an answer
        Fault, // command, rule, faults
        Port, // message: a port problem or its end
        DroppedOutput, // count, message (the device)
        Refused, // command, bytes that went out, rule, faults, message (why the rest did not)
        Load, // profile, seed (none until communication starts): another profile is in force
        LogNotSaved, // message: the saved log could not be written, and why
        ScriptError, // rule (or "continuous", "script"), message: a profile's Lua failed
        LineSettings, // hostLine, instrumentLine, agree: the host's settings against the instrument's
        HostLines, // dtr, rts: the host set its lines
        Break, // count: a break from the host, its length in ms
        Flow, // message: "XOFF"/"XON" or "CTS off"/"CTS on" the instrument signalled, count: its
              // receive buffer's fill, size: its size
        Overrun, // bytes lost to a full receive buffer
        BreakSent, // count: a break toward the host, its length in ms
    };

    Kind kind = Kind::Start;
    // On the session clock.
    qint64 atNs = 0;
    QByteArray bytes;
    QByteArray command;
    QString rule;
    QStringList faults;
    QString message;
    qint64 count = 0;
    qint64 size = 0;
    std::optional<quint64> seed;
    QString profile;
    QString hostLine;
    QString instrumentLine;
    bool agree = true;
    bool dtr = false;
    bool rts = false;
};

// What a run has done so far, from its first Start.
struct LineCounters
{
    qint64 commandsSeen = 0;
    qint64 answered = 0;
    qint64 dropped = 0;
    // Answers the port did not take whole (or a stop cut off).
    qint64 refused = 0;
    qint64 bytesIn = 0;
    qint64 bytesOut = 0;
};
