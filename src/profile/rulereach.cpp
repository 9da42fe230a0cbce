#include "profile/rulereach.h"

#include <algorithm>
#include <cstring>

namespace Profile {

namespace {
// Byte order: the commands that begin with some bytes follow them in it, side by side.
bool before(QByteArrayView a, QByteArrayView b)
{
    const int order = std::memcmp(a.data(), b.data(), size_t(std::min(a.size(), b.size())));
    return order != 0 ? order < 0 : a.size() < b.size();
}
} // namespace

RuleReach::RuleReach(const std::vector<Rule> &rules)
{
    for (const Rule &rule : rules) {
        if (!rule.regex) {
            if (!rule.exact.isEmpty())
                m_commands.push_back(rule.exact);
            continue;
        }
        Pattern pattern { rule.regex->literalPrefix(), *rule.regex, {} };
        const QString start = rule.regex->startPattern();
        QString error;
        if (!start.isEmpty())
            pattern.start = Pcre2Code::compile(start, &error, PCRE2_JIT_PARTIAL_HARD);
        const int index = int(m_patterns.size());
        for (int byte = 0; byte < 256; ++byte) {
            if (pattern.prefix.isEmpty() ? rule.regex->canStartWith(quint8(byte))
                                         : quint8(pattern.prefix[0]) == byte)
                m_byFirstByte[size_t(byte)].push_back(index);
        }
        m_patterns.push_back(std::move(pattern));
    }
    std::sort(m_commands.begin(), m_commands.end(), before);
    m_commands.erase(std::unique(m_commands.begin(), m_commands.end()), m_commands.end());
}

void RuleReach::restart()
{
    m_fresh = true;
    m_candidates.clear();
    m_budget.startFrame();
}

CommandReach::Reach RuleReach::extend(QByteArrayView command)
{
    if (m_fresh) {
        m_fresh = false;
        for (const int pattern : m_byFirstByte[quint8(command[0])])
            m_candidates.push_back(Candidate { pattern, !m_patterns[size_t(pattern)].start.code });
    }
    auto next = std::lower_bound(m_commands.begin(), m_commands.end(), command, before);
    const bool exact = next != m_commands.end() && QByteArrayView(*next) == command;
    if (exact)
        ++next;
    bool grows = next != m_commands.end() && next->startsWith(command);
    // Once something grows the rest are not asked: a candidate that can no longer grow is
    // found at a later byte as well, and only one that ends at this byte can take it whole.
    std::vector<int> ended;
    size_t kept = 0;
    for (Candidate candidate : m_candidates) {
        if (!grows && !candidate.undecided) {
            const Growth growing = growth(m_patterns[size_t(candidate.pattern)], command);
            if (growing == Growth::Ends) {
                ended.push_back(candidate.pattern);
                continue;
            }
            candidate.undecided = growing == Growth::Unknown;
        }
        grows = true;
        m_candidates[kept++] = candidate;
    }
    m_candidates.resize(kept);
    if (grows)
        return Reach::Longer;
    return exact || matchesWhole(ended, command) ? Reach::Whole : Reach::Neither;
}

RuleReach::Growth RuleReach::growth(const Pattern &pattern, QByteArrayView command)
{
    // Within the bytes the regex fixes, they alone tell.
    if (command.size() < pattern.prefix.size())
        return pattern.prefix.startsWith(command) ? Growth::Grows : Growth::Ends;
    if (!pattern.start.code)
        return Growth::Unknown;
    switch (m_budget.run(pattern.start.code.get(), command.data(), size_t(command.size()),
                         pattern.start.data.get(), PCRE2_PARTIAL_HARD)) {
    case MatchBudget::Outcome::Partial:
        return Growth::Grows;
    case MatchBudget::Outcome::NoMatch:
        return Growth::Ends;
    default:
        return Growth::Unknown;
    }
}

bool RuleReach::matchesWhole(const std::vector<int> &patterns, QByteArrayView command)
{
    const QByteArray frame = QByteArray::fromRawData(command.data(), command.size());
    for (const int pattern : patterns) {
        // A frame the command's steps cannot judge goes to the rules, which judge it afresh.
        const MatchBudget::Outcome outcome
            = m_patterns[size_t(pattern)].whole.match(frame, m_budget, nullptr);
        if (outcome != MatchBudget::Outcome::NoMatch && outcome != MatchBudget::Outcome::GaveUp)
            return true;
    }
    return false;
}

} // namespace Profile
