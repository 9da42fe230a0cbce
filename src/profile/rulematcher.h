#pragma once

#include "profile/profile.h"
#include "profile/regexbatch.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QVarLengthArray>

#include <array>
#include <memory>
#include <vector>

namespace Profile {

// Finds the first rule, in order, that matches a frame, without trying every rule: exact
// commands sit in a hash, and regexes are tried in order only up to the first exact hit and
// only when the frame starts with the bytes the regex fixes at its start (found through a
// hash too) or, for a regex that fixes none, with a byte it can start with.
class RuleMatcher
{
public:
    struct Match
    {
        // -1: no rule matches.
        int rule = -1;
        // {0} the frame, then the regex's groups.
        QList<QByteArray> captures;
        // When the frame's match steps ran out: the rule whose try they could not pay for;
        // the frame then has no rule. -1 otherwise.
        int exhaustedAt = -1;
        // A stop was asked for while the frame was matched: it has no rule.
        bool stopped = false;
    };

    // The rules are not copied; they must outlive the matcher and keep their places.
    void build(const std::vector<Rule> &rules);
    // Within one budget of match steps for the frame (see MatchBudget). Rules up to after
    // are passed over: the next one is looked for when a rule that matched declined.
    Match find(const QByteArray &frame, int after = -1);

    // The window framing's view of the rules (see WindowLengths).
    WindowLengths windowLengths() const;
    // The rules framing's: what the bytes of a command so far can still become. It copies
    // what it needs, and compiles each regex's start pattern.
    std::unique_ptr<CommandReach> commandReach() const;

private:
    const std::vector<Rule> *m_rules = nullptr;
    // Command -> the rules with it, in order.
    QHash<QByteArray, std::vector<int>> m_exact;
    // Regex rules in order under the first bytes they fix, one table for each length of
    // those; rules that fix no start under each byte they can start with, and apart those
    // that match the empty frame.
    struct PrefixTable
    {
        int length;
        QHash<QByteArray, std::vector<int>> rules;
    };
    std::vector<PrefixTable> m_regexByPrefix;
    std::array<std::vector<int>, 256> m_regexByFirstByte;
    std::vector<int> m_regexMatchingEmpty;
    // Consecutive combinable regex rules as batches: for a frame with many candidates, fewer
    // tries than one each. m_batchOf: for each rule, its batch or -1.
    std::vector<RegexBatch> m_batches;
    std::vector<int> m_batchOf;
    MatchBudget m_budget;

    void buildBatches(const std::vector<Rule> &rules);
    // The regexes of the candidates, in order; true when the frame's matching ended without
    // a rule (steps or a stop), else found->rule is the first that matched or -1.
    bool tryCandidates(const QByteArray &frame, const QVarLengthArray<int, 32> &candidates,
                       int before, bool batched, Match *found);
    // Ends the frame's matching for an outcome other than a match or none; false otherwise.
    static bool ends(MatchBudget::Outcome outcome, int rule, Match *found);
};

} // namespace Profile
