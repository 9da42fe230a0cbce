#pragma once

#include <QtGlobal>

#include <array>

namespace Profile {

// The profile's own random numbers: xoshiro256** seeded through splitmix64, with the uniform
// mappings written out here. A seed must replay the same session with any compiler and any
// library version, which the std:: distributions do not promise.
class Rng
{
public:
    explicit Rng(quint64 seed = 0);
    // An independent stream for one user (a rule, a value): its numbers depend on the seed
    // and the stream only, never on how much the other streams were used.
    static Rng stream(quint64 seed, quint64 streamId);

    quint64 next();
    // In [0, 1), on 53 bits.
    double unit();
    // In [lo, hi], both ends included, without modulo bias.
    qint64 between(qint64 lo, qint64 hi);
    // In [lo, hi).
    double uniform(double lo, double hi);
    // True with probability p; p <= 0 never, p >= 1 always. Draws one number either way, so
    // that a switched probability does not shift the numbers after it.
    bool chance(double p);

private:
    std::array<quint64, 4> m_state {};
};

// splitmix64: one step of the generator that spreads a seed over the xoshiro state.
quint64 splitMix64(quint64 *state);

} // namespace Profile
