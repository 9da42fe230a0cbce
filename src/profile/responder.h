#pragma once

#include "profile/profile.h"
#include "profile/rulematcher.h"
#include "profile/script/scriptvalue.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Profile {

class LuaState;
class ValueGlobals;
namespace Modbus {
class Slave;
}
namespace Scpi {
class Engine;
}

// A part of an answer after the first, sent a pause after the part before has gone.
struct ReplyPart
{
    QByteArray bytes;
    qint64 pauseNs = 0;
};

// A Lua error while answering, for the log (once per rule) and the stream (every time).
struct ScriptProblem
{
    // The rule, or "continuous", or "script" for the script's own top level.
    QString where;
    QString message;
    bool firstOfItsKind = true;
};

// What the instrument does about one command.
struct Reply
{
    QByteArray command;
    // The rule that took the command ("rule 3", "pattern 1"); empty when none matched.
    QString rule;
    bool matched = false;
    // No rule took the command because the match steps of its frame ran out at this rule.
    QString budgetRule;
    // A drop fault took the answer: nothing is sent.
    bool dropped = false;
    // What to send, after expansion and faults; empty when nothing is sent.
    QByteArray bytes;
    // From the frame's completeNs to the first byte.
    qint64 delayNs = 0;
    // Between the starts of successive bytes; 0 sends them all at once.
    qint64 byteGapNs = 0;
    // The faults that changed the answer, in the order applied ("truncate", "garbage").
    QStringList faults;
    // An answer in parts: those after the first (bytes holds the first).
    std::vector<ReplyPart> laterParts;
    // The rule took the command but a Lua error left it without an answer: why. The command
    // then counts as unanswered.
    QString failure;
    // The rule switches continuous output on or off.
    std::optional<bool> continuous;
    // The rule sets lines the instrument drives.
    ModemLinesChange lines;
};

// Plays an instrument: given a command (a frame from the Framer), says what to send back,
// when, at what pace and with which faults. All randomness comes from the seed: the same
// profile, seed and sequence of commands and continuous texts give the same bytes, delays
// and faults, byte for byte; only clock values differ.
//
// The engine's receive path: bytes -> framer (makeFramer()) -> reply() -> a timed send of
// Reply::bytes -> log. Without a profile the engine plays a default Instrument, whose rules
// are just the dialog's five patterns (appendPatterns()), in the one-second window: the
// behaviour of the program without profiles.
//
// The responder plays its own copy of the instrument: appended patterns and run-time control
// (setValue(), setFaultEnabled(), for a later control channel) never change the loaded one.
// One thread; not copyable, its matcher points into its rules.
class Responder
{
public:
    Responder(Instrument instrument, quint64 seed);
    ~Responder();
    Responder(const Responder &) = delete;
    Responder &operator=(const Responder &) = delete;

    // The dialog's patterns as rules after the profile's, named "pattern 1" .. "pattern N":
    // exact commands with their answers sent as they are (no placeholders), sharing the
    // profile's framing and its [faults] behaviour. A pattern with an empty command is unused,
    // as in the engine. A profile rule that matches the same command (a fallback regex '.*')
    // comes first and wins. Call it before makeFramer(): the window framing needs the
    // commands' lengths.
    void appendPatterns(const QList<QByteArray> &commands, const QList<QByteArray> &answers);

    // The framer for the instrument's framing, knowing the rules as they are now.
    std::unique_ptr<Framer> makeFramer() const;

    Reply reply(const QByteArray &frame);
    // The answer to a break from the host: by the first rule with break = true whose when holds;
    // not matched without one.
    Reply replyToBreak();

    bool hasContinuous() const
    {
        return m_instrument.continuous.has_value() && m_instrument.continuous->text.has_value();
    }
    // The next continuous text, expanded; empty without one, or when a Lua error stopped it.
    QByteArray continuousText();
    // Lua errors since the last call, in order.
    std::vector<ScriptProblem> takeProblems() { return std::exchange(m_problems, {}); }

    // The line speed, for the silences that frame Modbus RTU: a byte takes bitsPerByte bits
    // (start, data, parity, stop bits; 10 for 8N1).
    void setLineSpeed(int baud, int bitsPerByte = 10);

    // Sets a stored value (one with an initial text), as a rule's set does. False, with the
    // reason, for a value that does not exist or is not stored. With a script, a name that is
    // no value sets a global of the script.
    bool setValue(const QString &name, const QByteArray &text, QString *error);
    bool setValue(const QString &name, const ScriptValue &value, QString *error);
    // The host's DTR and RTS, as the globals dtr and rts of the profile's Lua.
    void setHostLines(bool dtr, bool rts);
    // Calls a global function of the script; its first result.
    bool call(const QString &function, const std::vector<ScriptValue> &args, ScriptValue *result,
              QString *error);
    // Switches a fault the rule has on or off; an empty rule name means every rule that has
    // it; "modbus" and "scpi" name the answers of those tables. False when none has that fault.
    bool setFaultEnabled(const QString &rule, FaultKind kind, bool enabled);
    // Local time for clock values; the real clock unless a test sets one.
    void setWallClock(std::function<QDateTime()> now) { m_values.setWallClock(std::move(now)); }

    quint64 seed() const { return m_seed; }
    const Instrument &instrument() const { return m_instrument; }
    // The values as they stand, with their fault switches in instrument(): to look at only.
    const ValueBank &values() const { return m_values; }

private:
    struct RuleState
    {
        Rng rng;
        FaultCounters counters;
    };

    void addRuleStates();
    qint64 byteGapNs(const Behaviour &behaviour) const;
    void startScript();
    // The first matching rule whose when holds, from after on.
    RuleMatcher::Match findRule(const QByteArray &frame);
    RuleMatcher::Match findBreakRule();
    Reply replyTo(const QByteArray &frame, bool isBreak);
    bool applySets(const std::vector<std::pair<int, AnswerTemplate>> &sets, const Expansion &with,
                   QString *error);
    Reply scpiReply(Reply reply);
    bool expandAnswer(const Rule &rule, RuleState &state, const Expansion &with, Reply *reply);
    void report(const QString &where, int key, const QString &message);
    // A frame no rule took, answered by the [modbus] map with the [faults] behaviour.
    Reply answerByMap(Reply reply);

    Instrument m_instrument;
    quint64 m_seed;
    ValueBank m_values;
    RuleMatcher m_matcher;
    std::vector<RuleState> m_ruleStates;
    std::unique_ptr<ValueGlobals> m_globals;
    std::unique_ptr<LuaState> m_script;
    std::unique_ptr<Scpi::Engine> m_scpi;
    RuleState m_scpiState;
    std::vector<ScriptProblem> m_problems;
    // What has been logged already: each rule's first error (by rule, -1 the continuous text,
    // -2 the script).
    QSet<int> m_reported;
    std::unique_ptr<Modbus::Slave> m_modbus;
    Rule m_modbusRule;
    RuleState m_modbusState;
    int m_baud = 9600;
    int m_bitsPerByte = 10;
};

// A seed for a profile that names none, from the system's random source.
quint64 drawSeed();

} // namespace Profile
