#include "profile/faults.h"

#include <numeric>
#include <vector>

namespace Profile {

namespace {
const char *const kFaultNames[kFaultKinds]
    = { "drop", "truncate", "corrupt", "duplicate", "garbage" };

bool fires(const FaultSetting &setting, quint64 *answers, Rng &rng)
{
    if (!setting.configured || !setting.enabled)
        return false;
    if (setting.every > 0)
        return ++*answers % quint64(setting.every) == 0;
    return rng.chance(setting.probability);
}

void truncate(const FaultSetting &setting, Rng &rng, QByteArray *answer)
{
    const qint64 cut
        = setting.keep >= 0 ? setting.keep : rng.between(1, qMax<qint64>(1, answer->size() - 1));
    answer->truncate(cut);
}

// Distinct places, each with one bit flipped: the byte always differs from what it was.
void corrupt(const FaultSetting &setting, Rng &rng, QByteArray *answer)
{
    std::vector<int> places(size_t(answer->size()));
    std::iota(places.begin(), places.end(), 0);
    const int count = qMin(setting.bytes, int(answer->size()));
    for (int i = 0; i < count; ++i) {
        std::swap(places[size_t(i)], places[size_t(rng.between(i, int(places.size()) - 1))]);
        (*answer)[places[size_t(i)]] ^= char(1 << rng.between(0, 7));
    }
}

QByteArray garbage(const FaultSetting &setting, Rng &rng)
{
    QByteArray bytes(rng.between(setting.minLength, setting.maxLength), Qt::Uninitialized);
    for (char &b : bytes)
        b = char(rng.between(0, 255));
    return bytes;
}
} // namespace

QString faultName(FaultKind kind)
{
    return QLatin1String(kFaultNames[int(kind)]);
}

std::optional<FaultKind> faultKind(QStringView name)
{
    for (int k = 0; k < kFaultKinds; ++k) {
        if (name == QLatin1String(kFaultNames[k]))
            return FaultKind(k);
    }
    return std::nullopt;
}

FaultOutcome applyFaults(
    const Behaviour &behaviour, FaultCounters &counters, Rng &rng, QByteArray *answer)
{
    std::array<bool, kFaultKinds> fired {};
    for (int k = 0; k < kFaultKinds; ++k)
        fired[size_t(k)] = fires(behaviour.faults[size_t(k)], &counters.answers[size_t(k)], rng);

    FaultOutcome outcome;
    if (fired[size_t(FaultKind::Drop)]) {
        outcome.dropped = true;
        outcome.applied << faultName(FaultKind::Drop);
        answer->clear();
        return outcome;
    }
    const auto apply = [&](FaultKind kind, auto &&change) {
        if (!fired[size_t(kind)])
            return;
        const QByteArray before = *answer;
        change(behaviour.fault(kind));
        if (*answer != before)
            outcome.applied << faultName(kind);
    };
    apply(FaultKind::Truncate, [&](const FaultSetting &s) { truncate(s, rng, answer); });
    apply(FaultKind::Corrupt, [&](const FaultSetting &s) { corrupt(s, rng, answer); });
    apply(FaultKind::Duplicate, [&](const FaultSetting &) { answer->append(QByteArray(*answer)); });
    apply(FaultKind::Garbage, [&](const FaultSetting &s) { answer->prepend(garbage(s, rng)); });
    return outcome;
}

} // namespace Profile
