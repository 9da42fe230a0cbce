#include "rulematcher.h"

#include <algorithm>
#include <climits>
#include <set>

namespace Profile {

void RuleMatcher::build(const std::vector<Rule> &rules)
{
    m_rules = &rules;
    m_exact.clear();
    for (std::vector<int> &bucket : m_regexByFirstByte)
        bucket.clear();
    m_regexAnyStart.clear();
    for (int i = 0; i < int(rules.size()); ++i) {
        const Rule &rule = rules[size_t(i)];
        if (rule.regex) {
            const QByteArray &prefix = rule.regex->literalPrefix();
            if (prefix.isEmpty())
                m_regexAnyStart.push_back(i);
            else
                m_regexByFirstByte[quint8(prefix[0])].push_back(i);
        } else if (!m_exact.contains(rule.exact)) {
            m_exact.insert(rule.exact, i);
        }
    }
}

RuleMatcher::Match RuleMatcher::find(const QByteArray &frame) const
{
    Match found;
    const int exactHit = m_exact.value(frame, INT_MAX);
    static const std::vector<int> none;
    const std::vector<int> &keyed = frame.isEmpty() ? none : m_regexByFirstByte[quint8(frame[0])];
    // Both lists are in rule order: walk them together, lowest rule first.
    auto a = keyed.begin();
    auto b = m_regexAnyStart.begin();
    QString subject;
    for (;;) {
        const int nextA = a != keyed.end() ? *a : INT_MAX;
        const int nextB = b != m_regexAnyStart.end() ? *b : INT_MAX;
        const int next = std::min(nextA, nextB);
        if (next >= exactHit)
            break;
        (next == nextA ? a : b)++;
        const ByteRegex &regex = *(*m_rules)[size_t(next)].regex;
        if (!frame.startsWith(regex.literalPrefix()))
            continue;
        if (subject.isNull())
            subject = ByteRegex::subject(frame);
        if (regex.match(subject, &found.captures)) {
            found.rule = next;
            return found;
        }
    }
    if (exactHit != INT_MAX) {
        found.rule = exactHit;
        found.captures = { frame };
    }
    return found;
}

WindowLengths RuleMatcher::windowLengths() const
{
    WindowLengths lengths;
    lengths.any = !m_regexAnyStart.empty()
            || std::any_of(m_regexByFirstByte.begin(), m_regexByFirstByte.end(),
                           [](const std::vector<int> &bucket) { return !bucket.empty(); });
    std::set<int> distinct;
    for (auto it = m_exact.cbegin(); it != m_exact.cend(); ++it) {
        if (!it.key().isEmpty())
            distinct.insert(int(it.key().size()));
    }
    lengths.lengths.assign(distinct.begin(), distinct.end());
    return lengths;
}

} // namespace Profile
