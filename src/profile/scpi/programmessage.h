#pragma once

#include "profile/scpi/receivedheader.h"

#include <QByteArray>

#include <vector>

namespace Profile::Scpi {

// A parameter as sent: a quoted string without its quotes (a doubled quote inside is one),
// anything else trimmed of white space.
struct Parameter
{
    QByteArray text;
    bool quoted = false;
    // The quote it was written with, to store it as sent.
    char quote = 0;
};

// One command of a program message: its header, then parameters after white space,
// separated by commas.
struct ProgramUnit
{
    // The unit as sent, for the log and for Lua's cap[0].
    QByteArray text;
    ReceivedHeader header;
    std::vector<Parameter> parameters;
    // Not a command at all (a bad header, an open quote, an empty parameter): the unit is
    // refused with -102 and the message goes on with the next.
    bool syntaxError = false;
};

// Splits a program message (its terminator taken off) at the semicolons outside quoted
// strings. A trailing CR or LF is dropped, so a host that ends lines with CR LF is
// understood where the terminator is LF; an empty unit (a trailing ';') is no command.
std::vector<ProgramUnit> parseProgramMessage(const QByteArray &message);

} // namespace Profile::Scpi
