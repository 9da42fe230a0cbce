#pragma once

#include "profile/seededrandom.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace Profile {

// The faults an instrument can show, in the order they are judged and applied.
enum class FaultKind { Drop, Truncate, Corrupt, Duplicate, Garbage };
constexpr int kFaultKinds = 5;

// The key of a fault in a profile and in the engine's log ("drop", "truncate" ...).
QString faultName(FaultKind kind);
std::optional<FaultKind> faultKind(QStringView name);

// One fault of a rule as the profile sets it.
struct FaultSetting
{
    bool configured = false;
    // Switched at run time; a fault loads switched on unless its table says enabled = false.
    // Switched off it neither fires nor counts answers for every.
    bool enabled = true;
    // Every every-th answer of the rule, or each answer with the probability.
    int every = 0;
    double probability = 0;
    // Truncate: the bytes kept; -1 cuts at a random place inside the answer.
    int keep = -1;
    // Corrupt: how many bytes get one bit flipped.
    int bytes = 1;
    // Garbage: how many random bytes go before the answer.
    int minLength = 1;
    int maxLength = 8;
};

enum class Pace { None, Baud, CharGap };

// How a rule answers beyond its bytes: when, at what pace, with which faults. A rule's own
// keys replace those of the profile's [faults] table one by one.
struct Behaviour
{
    qint64 minDelayNs = 0;
    qint64 maxDelayNs = 0;
    Pace pace = Pace::None;
    qint64 charGapNs = 0;
    std::array<FaultSetting, kFaultKinds> faults;

    FaultSetting &fault(FaultKind kind) { return faults[size_t(kind)]; }
    const FaultSetting &fault(FaultKind kind) const { return faults[size_t(kind)]; }
};

// What a rule's faults did to one answer.
struct FaultOutcome
{
    bool dropped = false;
    // The names of the faults that changed the answer, in the order applied.
    QStringList applied;
};

// Counts a rule's answers for the faults that fire every n-th time.
struct FaultCounters
{
    std::array<quint64, kFaultKinds> answers {};
};

// Judges every switched-on fault of the behaviour for one answer, then applies those that
// fire: drop, or truncate, corrupt, duplicate (the damaged answer twice) and garbage in front.
// Each fault is judged on every answer, fired or not, so the rate of one does not depend on
// another. A fault that leaves the answer as it was (a cut beyond its end) is not named.
FaultOutcome applyFaults(
    const Behaviour &behaviour, FaultCounters &counters, Rng &rng, QByteArray *answer);

} // namespace Profile
