#pragma once

#include "profile/matchbudget.h"
#include "profile/pcre2code.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <bitset>
#include <optional>

namespace Profile {

// A regular expression (PCRE2, 8 bits, no UTF) over the raw bytes of a frame, so "\r",
// "\x0D" and "." (any byte, line ends too) work on bytes; \d, \w and (?i) know ASCII only.
// The pattern must match the whole frame, terminator included. A character beyond ASCII in
// the pattern stands for its code page 932 bytes, as in the notation.
class ByteRegex
{
public:
    // False, with the reason, for a pattern PCRE refuses.
    static std::optional<ByteRegex> compile(const QString &pattern, QString *error);

    // Matches the whole frame within what the budget has left; on a match captures holds the
    // frame as {0} and then each group's bytes (empty for a group that took no part).
    MatchBudget::Outcome match(const QByteArray &frame, MatchBudget &budget,
                               QList<QByteArray> *captures) const;
    // The same with a frame's budget of its own: the regex as it matches alone.
    bool matchAlone(const QByteArray &frame, QList<QByteArray> *captures) const;

    int captureCount() const { return m_captureCount; }
    // The pattern PCRE runs, anchored at both ends, in bytes.
    const QString &pattern() const { return m_pattern; }
    // Bytes every frame the pattern matches starts with (empty when it fixes no start): a
    // frame without them skips the regex, which keeps a thousand rules cheap.
    const QByteArray &literalPrefix() const { return m_prefix; }
    // For a pattern without a literal prefix: the bytes a matching frame can start with, and
    // whether the empty frame matches. Found once by asking PCRE whether each byte alone
    // could begin a match (a partial match), so "(?i)meas", "[A-Z]{3}" or "(?:R|S)\d" are
    // still tried only on the frames they can match.
    bool canStartWith(quint8 byte) const { return m_firstBytes[byte]; }
    bool matchesEmpty() const { return m_matchesEmpty; }
    // The pattern with a failing end where pattern() ends the frame: tried on the start of a
    // frame under PCRE2_PARTIAL_HARD, it is partial exactly when the subject ran out inside
    // the pattern, that is when a longer frame beginning with it could match. Empty for a
    // pattern whose backtracking verbs or recursion into the whole could make it say no
    // where a longer frame matches.
    QString startPattern() const;

private:
    void findFirstBytes();

    QString m_pattern;
    Pcre2Code m_compiled;
    int m_captureCount = 0;
    QByteArray m_prefix;
    std::bitset<256> m_firstBytes;
    bool m_matchesEmpty = false;
};

} // namespace Profile
