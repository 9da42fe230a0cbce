#pragma once

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <bitset>
#include <optional>

namespace Profile {

// A regular expression (PCRE, as QRegularExpression has it) over the raw bytes of a frame:
// each byte is taken as the code point of the same number, so "\r", "\x0D" and "." (any
// byte, line ends too) work on bytes. The pattern must match the whole frame, terminator
// included. A character beyond ASCII in the pattern stands for its code page 932 bytes, as in
// the notation.
class ByteRegex
{
public:
    // False, with the reason, for a pattern PCRE refuses.
    static std::optional<ByteRegex> compile(const QString &pattern, QString *error);

    // The frame as the subject of matches; made once for all the rules a frame is tried on.
    static QString subject(const QByteArray &frame) { return QString::fromLatin1(frame); }

    // Matches the whole subject; on success captures holds the frame as {0} and then each
    // group's bytes (empty for a group that took no part).
    bool match(const QString &subject, QList<QByteArray> *captures) const;

    int captureCount() const { return m_captureCount; }
    // The pattern PCRE runs, anchored at both ends, in bytes.
    QString pattern() const { return m_regex.pattern(); }
    // Bytes every frame the pattern matches starts with (empty when it fixes no start): a
    // frame without them skips the regex, which keeps a thousand rules cheap.
    const QByteArray &literalPrefix() const { return m_prefix; }
    // For a pattern without a literal prefix: the bytes a matching frame can start with, and
    // whether the empty frame matches. Found once by asking PCRE whether each byte alone
    // could begin a match (a partial match), so "(?i)meas", "[A-Z]{3}" or "(?:R|S)\d" are
    // still tried only on the frames they can match.
    bool canStartWith(quint8 byte) const { return m_firstBytes[byte]; }
    bool matchesEmpty() const { return m_matchesEmpty; }

private:
    QRegularExpression m_regex;
    int m_captureCount = 0;
    QByteArray m_prefix;
    std::bitset<256> m_firstBytes;
    bool m_matchesEmpty = false;
};

} // namespace Profile
