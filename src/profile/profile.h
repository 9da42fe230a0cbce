#pragma once

#include "profile/answertemplate.h"
#include "profile/byteregex.h"
#include "profile/faults.h"
#include "profile/framer.h"
#include "profile/values.h"

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

// One [[rule]]: which commands it answers and how. The first rule in file order that
// matches a command answers it.
struct Rule
{
    QString name;
    // The command, byte for byte; empty when the rule has a regex instead.
    QByteArray exact;
    std::optional<ByteRegex> regex;
    // None: the rule takes the command (and sets its values) but sends nothing.
    std::optional<AnswerTemplate> answer;
    // Values the rule sets, by value index, before its answer is expanded.
    std::vector<std::pair<int, AnswerTemplate>> sets;
    Behaviour behaviour;
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
    std::optional<AnswerTemplate> continuous;
};

} // namespace Profile
