#pragma once

#include "profile.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <vector>

namespace Profile {

// Finds the first rule, in order, that matches a frame, without trying every rule: exact
// commands sit in a hash, and regexes are tried in order only up to the first exact hit and
// only when the frame starts with the bytes the regex fixes at its start (found through a
// hash too). A regex that fixes no start is tried on every frame, at the price of a regex
// match each.
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
    // those; rules that fix no start apart.
    struct PrefixTable
    {
        int length;
        QHash<QByteArray, std::vector<int>> rules;
    };
    std::vector<PrefixTable> m_regexByPrefix;
    std::vector<int> m_regexAnyStart;
};

} // namespace Profile
