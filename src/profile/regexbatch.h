#pragma once

#include "profile/byteregex.h"
#include "profile/pcre2code.h"

#include <QList>

#include <utility>
#include <vector>

namespace Profile {

// Regexes of consecutive rules tried as one PCRE alternation, in their order. When a frame
// could begin a match of hundreds of rules, one pass through one pattern costs a small part
// of hundreds of separate matches, and it finds the same first rule with the same captures:
// each alternative is the rule's own anchored pattern in a group of its own.
class RegexBatch
{
public:
    // Whether a pattern keeps its meaning as one alternative among others: nothing in it may
    // name a group by number or name, reach past its own alternative (a comment, \Q, a
    // backtracking verb) or renumber groups.
    static bool combinable(const QString &pattern);

    // members: rule index and its regex, in rule order, each combinable. False when PCRE
    // refuses the whole; the regexes must then be tried one by one.
    bool build(const std::vector<std::pair<int, const ByteRegex *>> &members);

    // The outcome of one try of the whole alternation; on a match, *rule is the first member
    // that matches, with its captures ({0} the frame). The alternation gives up as a whole at
    // its step limit, where its members alone might not: the caller then tries them alone.
    MatchBudget::Outcome match(const QByteArray &frame, MatchBudget &budget, int *rule,
                               QList<QByteArray> *captures) const;

    int firstRule() const { return m_members.front().rule; }
    int lastRule() const { return m_members.back().rule; }

private:
    struct Member
    {
        int rule;
        int group;
        int captureCount;
    };
    Pcre2Code m_compiled;
    std::vector<Member> m_members;
};

} // namespace Profile
