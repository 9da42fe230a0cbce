#pragma once

#include "profile.h"
#include "regexbatch.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <array>
#include <optional>
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
    };

    // The rules are not copied; they must outlive the matcher and keep their places.
    void build(const std::vector<Rule> &rules);
    Match find(const QByteArray &frame) const;

    // The window framing's view of the rules (see WindowLengths).
    WindowLengths windowLengths() const;

private:
    const std::vector<Rule> *m_rules = nullptr;
    // Command -> the first rule with it.
    QHash<QByteArray, int> m_exact;
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
    // The regex rules once more, in order, as batches of consecutive combinable ones and
    // single rules between them: for a frame with many candidates, fewer tries than one each.
    struct Segment
    {
        int rule;
        std::optional<RegexBatch> batch;
    };
    std::vector<Segment> m_segments;

    void buildSegments(const std::vector<Rule> &rules);
    int firstMatchBySegments(const QString &subject, int before, Match *found) const;
};

} // namespace Profile
