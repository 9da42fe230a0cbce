#pragma once

#include "profile/profile.h"
#include "profile/rulematcher.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace Profile {

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

    bool hasContinuous() const { return m_instrument.continuous.has_value(); }
    // The next continuous text, expanded; empty without one.
    QByteArray continuousText();

    // The line speed for pace = "baud": a byte takes bitsPerByte bits (start, data, parity,
    // stop bits; 10 for 8N1).
    void setLineSpeed(int baud, int bitsPerByte = 10);

    // Sets a stored value (one with an initial text), as a rule's set does. False, with the
    // reason, for a value that does not exist or is not stored.
    bool setValue(const QString &name, const QByteArray &text, QString *error);
    // Switches a fault the rule has on or off; an empty rule name means every rule that has
    // it. False when no rule has that fault.
    bool setFaultEnabled(const QString &rule, FaultKind kind, bool enabled);
    // Local time for clock values; the real clock unless a test sets one.
    void setWallClock(std::function<QDateTime()> now) { m_values.setWallClock(std::move(now)); }

    quint64 seed() const { return m_seed; }
    const Instrument &instrument() const { return m_instrument; }

private:
    struct RuleState
    {
        Rng rng;
        FaultCounters counters;
    };

    void addRuleStates();
    qint64 byteGapNs(const Behaviour &behaviour) const;

    Instrument m_instrument;
    quint64 m_seed;
    ValueBank m_values;
    RuleMatcher m_matcher;
    std::vector<RuleState> m_ruleStates;
    int m_baud = 9600;
    int m_bitsPerByte = 10;
};

// A seed for a profile that names none, from the system's random source.
quint64 drawSeed();

} // namespace Profile
