#include "rulematcher.h"

#include <QVarLengthArray>

#include <algorithm>
#include <climits>
#include <set>

namespace Profile {

namespace {
// Longer fixed starts are keyed by their first bytes only, which keeps the tables few.
constexpr int kLongestKey = 8;
// Up to this many candidates are tried one by one; more go through the batches.
constexpr int kTryEachUpTo = 16;
// A pattern of thousands of alternatives can outgrow what PCRE compiles in one piece.
constexpr int kLargestBatch = 128;
} // namespace

void RuleMatcher::build(const std::vector<Rule> &rules)
{
    m_rules = &rules;
    m_exact.clear();
    m_regexByPrefix.clear();
    for (std::vector<int> &rules : m_regexByFirstByte)
        rules.clear();
    m_regexMatchingEmpty.clear();
    for (int i = 0; i < int(rules.size()); ++i) {
        const Rule &rule = rules[size_t(i)];
        if (!rule.regex) {
            if (!m_exact.contains(rule.exact))
                m_exact.insert(rule.exact, i);
            continue;
        }
        const QByteArray key = rule.regex->literalPrefix().left(kLongestKey);
        if (key.isEmpty()) {
            for (int byte = 0; byte < 256; ++byte) {
                if (rule.regex->canStartWith(quint8(byte)))
                    m_regexByFirstByte[size_t(byte)].push_back(i);
            }
            if (rule.regex->matchesEmpty())
                m_regexMatchingEmpty.push_back(i);
            continue;
        }
        auto table = std::find_if(m_regexByPrefix.begin(), m_regexByPrefix.end(),
            [&](const PrefixTable &t) { return t.length == key.size(); });
        if (table == m_regexByPrefix.end())
            table = m_regexByPrefix.insert(
                m_regexByPrefix.end(), PrefixTable { int(key.size()), {} });
        table->rules[key].push_back(i);
    }
    buildSegments(rules);
}

void RuleMatcher::buildSegments(const std::vector<Rule> &rules)
{
    m_segments.clear();
    std::vector<std::pair<int, const ByteRegex *>> pending;
    const auto flush = [&] {
        RegexBatch batch;
        if (pending.size() > 1 && batch.build(pending)) {
            m_segments.push_back(Segment { pending.front().first, std::move(batch) });
        } else {
            for (const auto &member : pending)
                m_segments.push_back(Segment { member.first, std::nullopt });
        }
        pending.clear();
    };
    for (int i = 0; i < int(rules.size()); ++i) {
        const std::optional<ByteRegex> &regex = rules[size_t(i)].regex;
        if (!regex)
            continue;
        if (!RegexBatch::combinable(regex->pattern())) {
            flush();
            m_segments.push_back(Segment { i, std::nullopt });
            continue;
        }
        pending.emplace_back(i, &*regex);
        if (int(pending.size()) == kLargestBatch)
            flush();
    }
    flush();
}

int RuleMatcher::firstMatchBySegments(const QString &subject, int before, Match *found) const
{
    for (const Segment &segment : m_segments) {
        if (segment.rule >= before)
            break;
        const int rule = segment.batch
            ? segment.batch->match(subject, &found->captures)
            : ((*m_rules)[size_t(segment.rule)].regex->match(subject, &found->captures)
                      ? segment.rule
                      : -1);
        if (rule >= 0)
            return rule < before ? rule : -1;
    }
    return -1;
}

RuleMatcher::Match RuleMatcher::find(const QByteArray &frame) const
{
    Match found;
    const int exactHit = m_exact.value(frame, INT_MAX);
    QVarLengthArray<int, 32> candidates;
    const auto collect = [&](const std::vector<int> &rules) {
        for (const int rule : rules) {
            if (rule >= exactHit)
                break;
            candidates.append(rule);
        }
    };
    for (const PrefixTable &table : m_regexByPrefix) {
        if (frame.size() < table.length)
            continue;
        const auto it
            = table.rules.constFind(QByteArray::fromRawData(frame.constData(), table.length));
        if (it != table.rules.cend())
            collect(*it);
    }
    collect(frame.isEmpty() ? m_regexMatchingEmpty : m_regexByFirstByte[quint8(frame[0])]);
    QString subject;
    if (candidates.size() > kTryEachUpTo) {
        // Rules that are no candidates cannot match, so trying them in a batch changes nothing.
        subject = ByteRegex::subject(frame);
        found.rule = firstMatchBySegments(subject, exactHit, &found);
        if (found.rule >= 0)
            return found;
        candidates.clear();
    }
    std::sort(candidates.begin(), candidates.end());
    for (const int rule : candidates) {
        const ByteRegex &regex = *(*m_rules)[size_t(rule)].regex;
        if (subject.isNull())
            subject = ByteRegex::subject(frame);
        if (regex.match(subject, &found.captures)) {
            found.rule = rule;
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
    lengths.any = !m_regexByPrefix.empty() || !m_regexMatchingEmpty.empty()
        || std::any_of(m_regexByFirstByte.begin(), m_regexByFirstByte.end(),
            [](const std::vector<int> &rules) { return !rules.empty(); });
    std::set<int> distinct;
    for (auto it = m_exact.cbegin(); it != m_exact.cend(); ++it) {
        if (!it.key().isEmpty()) {
            distinct.insert(int(it.key().size()));
            lengths.commands.push_back(it.key());
        }
    }
    lengths.lengths.assign(distinct.begin(), distinct.end());
    return lengths;
}

} // namespace Profile
