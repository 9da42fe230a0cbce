#include "profile/seededrandom.h"

namespace Profile {

quint64 splitMix64(quint64 *state)
{
    quint64 z = (*state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

Rng::Rng(quint64 seed)
{
    quint64 s = seed;
    for (quint64 &word : m_state)
        word = splitMix64(&s);
}

Rng Rng::stream(quint64 seed, quint64 streamId)
{
    // Mixing the stream number through splitmix first keeps streams 1 and 2 of seed 7 apart
    // from streams 0 and 1 of seed 8.
    quint64 s = streamId;
    return Rng(seed ^ splitMix64(&s));
}

namespace {
quint64 rotl(quint64 x, int k)
{
    return (x << k) | (x >> (64 - k));
}
} // namespace

quint64 Rng::next()
{
    const quint64 result = rotl(m_state[1] * 5, 7) * 9;
    const quint64 t = m_state[1] << 17;
    m_state[2] ^= m_state[0];
    m_state[3] ^= m_state[1];
    m_state[1] ^= m_state[2];
    m_state[0] ^= m_state[3];
    m_state[2] ^= t;
    m_state[3] = rotl(m_state[3], 45);
    return result;
}

double Rng::unit()
{
    return double(next() >> 11) * 0x1.0p-53;
}

qint64 Rng::between(qint64 lo, qint64 hi)
{
    if (hi <= lo)
        return lo;
    const quint64 span = quint64(hi) - quint64(lo) + 1;
    if (span == 0) // the whole 64-bit range
        return qint64(next());
    // Numbers below the threshold would make the low residues more likely.
    const quint64 threshold = (0 - span) % span;
    quint64 r = next();
    while (r < threshold)
        r = next();
    return qint64(quint64(lo) + r % span);
}

double Rng::uniform(double lo, double hi)
{
    return lo + unit() * (hi - lo);
}

bool Rng::chance(double p)
{
    return unit() < p;
}

} // namespace Profile
