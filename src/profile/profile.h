#pragma once

#include "profile/answertemplate.h"
#include "profile/byteregex.h"
#include "profile/faults.h"
#include "profile/framer.h"
#include "profile/modbus/registermap.h"
#include "profile/modemlines.h"
#include "profile/scpi/scpitable.h"
#include "profile/values.h"
#include "serial/lineflow.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// An instrument described by a profile file (TOML): how commands are framed, the values
// its answers carry, the rules that answer commands, faults and pacing, and the continuous
// text. Plain values: the loader (profileloader.h) makes them, a Responder (responder.h)
// plays them. Nothing here touches a port, a clock or a window.
namespace Profile {

// One [[rule.part]] of an answer given in parts (an acknowledgement, then the reading).
struct AnswerPart
{
    AnswerTemplate text;
    // From the end of the part before (the first: from the end of the command); none: the
    // rule's delay_ms for the first part, no pause for the others.
    std::optional<std::pair<qint64, qint64>> delayNs;
};

// One [[rule]]: which commands it answers and how. The first rule in file order that
// matches a command (and whose when holds) answers it.
struct Rule
{
    QString name;
    // The command, byte for byte; empty when the rule has a regex instead.
    QByteArray exact;
    // break = true: the rule answers a break from the host, not a command.
    bool isBreak = false;
    std::optional<ByteRegex> regex;
    // The number of a Lua expression that must give true for the rule to be tried; -1: none.
    int when = -1;
    // None: the rule takes the command (and sets its values) but sends nothing.
    std::optional<AnswerTemplate> answer;
    // Instead of answer: the answer in parts, each sent on its own schedule.
    std::vector<AnswerPart> parts;
    // Values the rule sets, by value index, in file order, before its answer is expanded.
    std::vector<std::pair<int, AnswerTemplate>> sets;
    // Switches continuous output on or off.
    std::optional<bool> continuous;
    // Sets lines the instrument drives.
    ModemLinesChange lines;
    Behaviour behaviour;
};

// A Lua expression of the profile ({= }, when), compiled for each run.
struct Expression
{
    QByteArray code;
    // The profile's line it is written on, for messages.
    int line = 1;
};

// The [continuous] table.
struct Continuous
{
    std::optional<AnswerTemplate> text;
    // Seconds; none: the settings' interval.
    std::optional<double> intervalSeconds;
    // Whether it runs from Start; none: as the settings' output type says, as before the key.
    std::optional<bool> enabled;
    // Each output due on a whole second of the wall clock.
    bool alignSecond = false;
};

// A default Instrument is the program without a profile: the one-second window, no values,
// no rules of its own.
struct Instrument
{
    // The file (or the name a text was loaded under), for messages.
    QString source;
    // None: the engine draws one and logs it, so a session can be replayed.
    std::optional<quint64> seed;
    Framing framing;
    std::vector<ValueDef> values;
    std::vector<Rule> rules;
    // The [faults] table: the behaviour of a rule that sets none of its own, and of the
    // dialog's patterns appended after the rules.
    Behaviour defaults;
    // None: continuous output as the settings have it.
    std::optional<Continuous> continuous;
    // [line] as a settings text ("4800,N,8,1"); empty: the settings' own.
    QString line;
    // [line] pace: false when the profile's bytes go as fast as a virtual port moves them.
    bool linePaced = true;
    // [line] flow: the flow control the instrument keeps with the host.
    LineFlow flow = LineFlow::None;
    // [line] buffer: the instrument's receive buffer in bytes (commands it has not answered
    // yet and the one under way); 0 for one without end. Past it input is lost (an overrun);
    // with flow control the instrument asks the host to wait before that.
    int receiveBuffer = 0;
    // [line] cts, dsr, dcd, ri: the lines the instrument drives, for a host run by --exec.
    ModemLines lines;
    // The Lua script (script = "FILE") and the expressions; a profile without either runs
    // no Lua at all.
    QByteArray script;
    QString scriptName;
    // The folder of the profile, where the script and what it requires are found.
    QString folder;
    std::vector<Expression> expressions;
    // The name expressions carry in messages (the profile's file name).
    QString expressionChunk;
    // [modbus]: requests answered from the map when no rule takes them first.
    std::optional<Modbus::Map> modbus;
    // [scpi]: answers what no rule takes, as a SCPI instrument does.
    std::optional<Scpi::Table> scpi;

    bool usesScript() const { return !script.isEmpty() || !scriptName.isEmpty() || !expressions.empty(); }
};

} // namespace Profile
