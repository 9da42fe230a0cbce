#pragma once

// Frames are bytes: the 8-bit library, without UTF.
#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif
#include <pcre2.h>

#include <QtGlobal>

namespace Profile {

// The match steps one frame may spend on regexes, across all the rules it is tried on.
// Steps, not time, so a frame gets the same answer on any machine and under any load: PCRE2
// counts them and gives up at the limit each try is given. A try is charged every step it
// was allowed (PCRE2 does not say how many it used), first a few, and the full share only
// for a try that needs more. Before each try a stop asked from outside ends the frame's
// matching, so a stop waits for one try at most.
class MatchBudget
{
public:
    // The most one regex (or one batch of them) may take on a frame.
    static constexpr quint32 kStepsPerTry = 200'000;
    // The most all the tries on one frame may take together.
    static constexpr qint64 kStepsPerFrame = 10'000'000;

    // GaveUp: the try had its full share and needed more; a regex alone then matches nothing,
    // as PCRE has it. Exhausted: the frame had too few steps left for the try, which might
    // have matched. Stopped: a stop was asked for. Partial: only with PCRE2_PARTIAL_HARD, the
    // subject ended where the match could have gone on.
    enum class Outcome { Match, NoMatch, GaveUp, Exhausted, Stopped, Partial };

    MatchBudget();
    ~MatchBudget();
    MatchBudget(const MatchBudget &) = delete;
    MatchBudget &operator=(const MatchBudget &) = delete;

    void startFrame() { m_remaining = kStepsPerFrame; }
    bool exhausted() const { return m_remaining <= 0; }

    // One try of code on the whole subject, within what the frame has left; options are
    // pcre2_match()'s.
    Outcome run(const pcre2_code *code, const char *subject, size_t length, pcre2_match_data *data,
        quint32 options = 0);

private:
    int runWithin(quint32 steps, const pcre2_code *code, const char *subject, size_t length,
        pcre2_match_data *data, quint32 options);

    pcre2_match_context *m_context = nullptr;
    pcre2_jit_stack *m_jitStack = nullptr;
    qint64 m_remaining = kStepsPerFrame;
};

} // namespace Profile
