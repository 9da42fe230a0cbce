#include "profile/matchbudget.h"

#include "platform/stoprequest.h"

#include <algorithm>

namespace Profile {

namespace {
// Most regexes on most frames end within this; only what needs more is tried again with the
// full share, so a cheap try costs the frame little of its budget.
constexpr quint32 kFirstSteps = 10'000;

bool ranOut(int rc)
{
    return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT
        || rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT;
}

MatchBudget::Outcome outcomeOf(int rc)
{
    if (rc == PCRE2_ERROR_PARTIAL)
        return MatchBudget::Outcome::Partial;
    return rc >= 0 ? MatchBudget::Outcome::Match : MatchBudget::Outcome::NoMatch;
}
} // namespace

MatchBudget::MatchBudget()
    : m_context(pcre2_match_context_create(nullptr))
    , m_jitStack(pcre2_jit_stack_create(32 * 1024, 1024 * 1024, nullptr))
{
    // The JIT's default stack lives on the machine stack and is small; long frames need more.
    pcre2_jit_stack_assign(m_context, nullptr, m_jitStack);
}

MatchBudget::~MatchBudget()
{
    pcre2_jit_stack_free(m_jitStack);
    pcre2_match_context_free(m_context);
}

int MatchBudget::runWithin(quint32 steps, const pcre2_code *code, const char *subject,
    size_t length, pcre2_match_data *data, quint32 options)
{
    pcre2_set_match_limit(m_context, steps);
    // Nesting costs steps too; without the JIT this bounds the memory a try takes as well.
    pcre2_set_depth_limit(m_context, steps);
    m_remaining -= steps;
    return pcre2_match(
        code, reinterpret_cast<PCRE2_SPTR>(subject), length, 0, options, data, m_context);
}

MatchBudget::Outcome MatchBudget::run(const pcre2_code *code, const char *subject, size_t length,
    pcre2_match_data *data, quint32 options)
{
    if (StopRequest::raised())
        return Outcome::Stopped;
    if (exhausted())
        return Outcome::Exhausted;
    const auto left = [this] { return quint32(std::min<qint64>(kStepsPerTry, m_remaining)); };
    const quint32 first = std::min(kFirstSteps, left());
    int rc = runWithin(first, code, subject, length, data, options);
    if (!ranOut(rc))
        return outcomeOf(rc);
    // The second try gets the full share, or what the frame has left if that is less.
    const quint32 share = left();
    if (first < kFirstSteps || share <= first)
        return Outcome::Exhausted;
    rc = runWithin(share, code, subject, length, data, options);
    if (!ranOut(rc))
        return outcomeOf(rc);
    return share < kStepsPerTry ? Outcome::Exhausted : Outcome::GaveUp;
}

} // namespace Profile
