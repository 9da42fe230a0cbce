#pragma once

#include "profile/framer.h"
#include "profile/matchbudget.h"
#include "profile/pcre2code.h"
#include "profile/profile.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <vector>

namespace Profile {

// The rules as the rules framing sees them (see CommandReach). Exact commands are kept
// sorted, so those that begin with the bytes are found by one search. A command's regexes
// are those its first byte can begin; each stays a candidate while a longer frame could
// match it, which PCRE2 tells by a hard partial match of the regex's start pattern, and
// only past the bytes it fixes at its start: a candidate that cannot grow never comes back
// within the command. While one candidate can grow the others are not asked, so a byte costs
// a search and about one try.
//
// Every try of a command is paid from one MatchBudget, as the matcher pays for a frame: a
// regex that gives up, or runs out of the command's steps, or has no start pattern, is taken
// to grow for the rest of the command, which silence then ends.
//
// Holds its own copies of the regexes; used on the thread of the responder whose rules it
// copied (their match data is shared).
class RuleReach : public CommandReach
{
public:
    explicit RuleReach(const std::vector<Rule> &rules);

    void restart() override;
    Reach extend(QByteArrayView command) override;

private:
    struct Pattern
    {
        QByteArray prefix;
        ByteRegex whole;
        // Empty when the regex cannot tell (see ByteRegex::startPattern()).
        Pcre2Code start;
    };
    struct Candidate
    {
        int pattern;
        // No more tries: it is taken to grow.
        bool undecided;
    };
    enum class Growth { Grows, Ends, Unknown };

    Growth growth(const Pattern &pattern, QByteArrayView command);
    bool matchesWhole(const std::vector<int> &patterns, QByteArrayView command);

    std::vector<QByteArray> m_commands;
    std::vector<Pattern> m_patterns;
    std::array<std::vector<int>, 256> m_byFirstByte;
    std::vector<Candidate> m_candidates;
    bool m_fresh = true;
    MatchBudget m_budget;
};

} // namespace Profile
