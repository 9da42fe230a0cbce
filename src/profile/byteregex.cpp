#include "byteregex.h"

#include "ansicodec.h"
#include "notation.h"
#include "regexbatch.h"

#include <cstring>

namespace Profile {

namespace {
// Characters beyond ASCII become their code page 932 bytes, grouped so that a quantifier
// after one still repeats the whole character.
bool toBytePattern(const QString &pattern, QString *bytePattern, QString *error)
{
    bool inClass = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c.unicode() < 0x80) {
            bytePattern->append(c);
            if (c == QLatin1Char('\\') && i + 1 < pattern.size()) {
                bytePattern->append(pattern[++i]);
                if (pattern[i].unicode() >= 0x80) {
                    *error
                        = QStringLiteral("regex: write '\\%1' as its bytes, \\xHH").arg(pattern[i]);
                    return false;
                }
            } else if (c == QLatin1Char('[')) {
                inClass = true;
            } else if (c == QLatin1Char(']')) {
                inClass = false;
            }
            continue;
        }
        QByteArray bytes;
        QString unmappable;
        if (inClass || !Ansi::encode(QString(c), &bytes, &unmappable)) {
            *error = QStringLiteral("regex: write '%1' as its bytes, \\xHH").arg(c);
            return false;
        }
        bytePattern->append(QLatin1String("(?:"));
        for (const char b : bytes)
            bytePattern->append(QStringLiteral("\\x{%1}").arg(quint8(b), 2, 16, QLatin1Char('0')));
        bytePattern->append(QLatin1Char(')'));
    }
    return true;
}

// One byte a pattern fixes at its position: a plain ASCII character, an escaped punctuation
// character or a byte escape. -1 when the position is not a single known byte.
int literalAt(const QString &pattern, qsizetype *pos)
{
    const QChar c = pattern[*pos];
    if (c.unicode() >= 0x80 || std::strchr(".^$()[]{}*+?|", char(c.unicode())))
        return -1;
    if (c != QLatin1Char('\\')) {
        ++*pos;
        return c.unicode();
    }
    if (*pos + 1 >= pattern.size())
        return -1;
    const char16_t e = pattern[*pos + 1].unicode();
    static const char escapes[] = "r\rn\nt\tf\fa\ae\x1b";
    for (size_t k = 0; k + 1 < sizeof escapes; k += 2) {
        if (e == char16_t(escapes[k])) {
            *pos += 2;
            return quint8(escapes[k + 1]);
        }
    }
    if (e == 'x' && *pos + 3 < pattern.size()) {
        const int high = hexDigit(pattern[*pos + 2]);
        const int low = hexDigit(pattern[*pos + 3]);
        if (high >= 0 && low >= 0) {
            *pos += 4;
            return high * 16 + low;
        }
        return -1;
    }
    if (e < 0x80 && !QChar(e).isLetterOrNumber() && e > 0x20) {
        *pos += 2;
        return int(e);
    }
    return -1;
}

// The bytes every match starts with. An alternation anywhere could start differently, so a
// pattern with "|" fixes nothing; an atom made optional by ?, * or {} ends the prefix
// without itself, and one repeated by + ends it with itself (the "+" is no literal).
QByteArray fixedStart(const QString &pattern)
{
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == QLatin1Char('\\'))
            ++i;
        else if (pattern[i] == QLatin1Char('|'))
            return {};
    }
    QByteArray prefix;
    qsizetype pos = 0;
    while (pos < pattern.size()) {
        const int byte = literalAt(pattern, &pos);
        if (byte < 0)
            break;
        const QChar next = pos < pattern.size() ? pattern[pos] : QChar();
        if (next == QLatin1Char('?') || next == QLatin1Char('*') || next == QLatin1Char('{'))
            break;
        prefix.append(char(byte));
    }
    return prefix;
}
} // namespace

std::optional<ByteRegex> ByteRegex::compile(const QString &pattern, QString *error)
{
    QString bytePattern;
    if (!toBytePattern(pattern, &bytePattern, error))
        return std::nullopt;
    ByteRegex regex;
    regex.m_regex = QRegularExpression(QRegularExpression::anchoredPattern(bytePattern),
        QRegularExpression::DotMatchesEverythingOption);
    if (!regex.m_regex.isValid()) {
        *error = QStringLiteral("bad regex: %1").arg(regex.m_regex.errorString());
        return std::nullopt;
    }
    regex.m_regex.optimize();
    regex.m_captureCount = regex.m_regex.captureCount();
    regex.m_prefix = fixedStart(pattern);
    if (regex.m_prefix.isEmpty() && !RegexBatch::combinable(bytePattern)) {
        // Verbs and references can make a partial match say no where a whole one says yes.
        regex.m_firstBytes.set();
        regex.m_matchesEmpty = regex.m_regex.match(QString()).hasMatch();
    } else if (regex.m_prefix.isEmpty()) {
        for (int byte = 0; byte < 256; ++byte) {
            const QRegularExpressionMatch start = regex.m_regex.match(
                QString(QChar(byte)), 0, QRegularExpression::PartialPreferCompleteMatch);
            regex.m_firstBytes[size_t(byte)] = start.hasMatch() || start.hasPartialMatch();
        }
        regex.m_matchesEmpty = regex.m_regex.match(QString()).hasMatch();
    }
    return regex;
}

bool ByteRegex::match(const QString &subject, QList<QByteArray> *captures) const
{
    const QRegularExpressionMatch found = m_regex.match(subject);
    if (!found.hasMatch())
        return false;
    captures->clear();
    for (int i = 0; i <= m_captureCount; ++i)
        captures->append(found.captured(i).toLatin1());
    return true;
}

} // namespace Profile
