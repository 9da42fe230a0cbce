#include "profile/rulematcher.h"

#include "profile/rulereach.h"

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
        if (rule.isBreak)
            continue;
        if (!rule.regex) {
            m_exact[rule.exact].push_back(i);
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
    buildBatches(rules);
}

void RuleMatcher::buildBatches(const std::vector<Rule> &rules)
{
    m_batches.clear();
    m_batchOf.assign(rules.size(), -1);
    std::vector<std::pair<int, const ByteRegex *>> pending;
    const auto flush = [&] {
        RegexBatch batch;
        if (pending.size() > 1 && batch.build(pending)) {
            for (const auto &member : pending)
                m_batchOf[size_t(member.first)] = int(m_batches.size());
            m_batches.push_back(std::move(batch));
        }
        pending.clear();
    };
    for (int i = 0; i < int(rules.size()); ++i) {
        const std::optional<ByteRegex> &regex = rules[size_t(i)].regex;
        if (!regex)
            continue;
        if (!RegexBatch::combinable(regex->pattern())) {
            flush();
            continue;
        }
        pending.emplace_back(i, &*regex);
        if (int(pending.size()) == kLargestBatch)
            flush();
    }
    flush();
}

bool RuleMatcher::ends(MatchBudget::Outcome outcome, int rule, Match *found)
{
    if (outcome == MatchBudget::Outcome::Exhausted)
        found->exhaustedAt = rule;
    else if (outcome == MatchBudget::Outcome::Stopped)
        found->stopped = true;
    else
        return false;
    return true;
}

RuleMatcher::Match RuleMatcher::find(const QByteArray &frame, int after)
{
    Match found;
    int exactHit = INT_MAX;
    if (const auto it = m_exact.constFind(frame); it != m_exact.cend()) {
        const auto next = std::upper_bound(it->begin(), it->end(), after);
        if (next != it->end())
            exactHit = *next;
    }
    QVarLengthArray<int, 32> candidates;
    const auto collect = [&](const std::vector<int> &rules) {
        for (const int rule : rules) {
            if (rule >= exactHit)
                break;
            if (rule > after)
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
    std::sort(candidates.begin(), candidates.end());
    m_budget.startFrame();
    // A batch reports its first hit, which may be a rule passed over: after a decline the
    // candidates are tried one by one.
    const bool batched = candidates.size() > kTryEachUpTo && after < 0;
    if (tryCandidates(frame, candidates, exactHit, batched, &found) || found.rule >= 0)
        return found;
    if (exactHit != INT_MAX) {
        found.rule = exactHit;
        found.captures = { frame };
    }
    return found;
}

bool RuleMatcher::tryCandidates(const QByteArray &frame, const QVarLengthArray<int, 32> &candidates,
                                int before, bool batched, Match *found)
{
    // Candidates before this index are tried alone: their batch gave up as a whole.
    qsizetype aloneUntil = 0;
    for (qsizetype i = 0; i < candidates.size();) {
        const int rule = candidates[i];
        const int batch = batched && i >= aloneUntil ? m_batchOf[size_t(rule)] : -1;
        qsizetype end = i + 1;
        while (batch >= 0 && end < candidates.size()
               && candidates[end] <= m_batches[size_t(batch)].lastRule())
            ++end;
        MatchBudget::Outcome outcome;
        int hit = rule;
        if (end - i > 1) {
            // Rules that are no candidates cannot match, so trying them with the others
            // changes nothing.
            outcome = m_batches[size_t(batch)].match(frame, m_budget, &hit, &found->captures);
            if (outcome == MatchBudget::Outcome::GaveUp)
                aloneUntil = end;
            else
                i = end;
        } else {
            outcome = (*m_rules)[size_t(rule)].regex->match(frame, m_budget, &found->captures);
            ++i;
        }
        if (outcome == MatchBudget::Outcome::Match) {
            // A batch's first hit may lie past the exact command, which then comes first.
            found->rule = hit < before ? hit : -1;
            return false;
        }
        if (ends(outcome, rule, found))
            return true;
    }
    return false;
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

std::unique_ptr<CommandReach> RuleMatcher::commandReach() const
{
    return std::make_unique<RuleReach>(m_rules ? *m_rules : std::vector<Rule>());
}

} // namespace Profile
