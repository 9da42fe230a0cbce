#include "profile/byteregex.h"

#include "profile/regexbatch.h"
#include "text/ansicodec.h"
#include "text/notation.h"

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

// A verb such as (*COMMIT) can end the whole match when the path after it fails, and (?R)
// meets the failing end inside the recursion: either hides the paths that ran out of subject.
bool failsPathsOfItsOwn(const QString &pattern)
{
    for (qsizetype i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == QLatin1Char('\\')) {
            ++i;
        } else if (pattern[i] == QLatin1Char('(')) {
            const QStringView next = QStringView(pattern).mid(i + 1, 2);
            if (next.startsWith(QLatin1Char('*')) || next == QLatin1String("?R")
                || next == QLatin1String("?0"))
                return true;
        }
    }
    return false;
}
} // namespace

std::optional<ByteRegex> ByteRegex::compile(const QString &pattern, QString *error)
{
    QString bytePattern;
    if (!toBytePattern(pattern, &bytePattern, error))
        return std::nullopt;
    ByteRegex regex;
    regex.m_pattern = QStringLiteral("\\A(?:%1)\\z").arg(bytePattern);
    QString reason;
    regex.m_compiled = Pcre2Code::compile(regex.m_pattern, &reason);
    if (!regex.m_compiled.code) {
        *error = QStringLiteral("bad regex: %1").arg(reason);
        return std::nullopt;
    }
    regex.m_captureCount = regex.m_compiled.captureCount();
    regex.m_prefix = fixedStart(pattern);
    if (regex.m_prefix.isEmpty() && !RegexBatch::combinable(bytePattern)) {
        // Verbs and references can make a partial match say no where a whole one says yes.
        regex.m_firstBytes.set();
        regex.m_matchesEmpty = regex.matchAlone(QByteArray(), nullptr);
    } else if (regex.m_prefix.isEmpty()) {
        regex.findFirstBytes();
    }
    return regex;
}

// Asks the interpreter (the JIT was compiled for whole matches only) whether each byte alone
// could begin a match.
void ByteRegex::findFirstBytes()
{
    pcre2_match_context *context = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(context, MatchBudget::kStepsPerTry);
    pcre2_set_depth_limit(context, MatchBudget::kStepsPerTry);
    pcre2_match_data *data = m_compiled.data.get();
    for (int byte = 0; byte < 256; ++byte) {
        const unsigned char subject = quint8(byte);
        const int rc = pcre2_match(m_compiled.code.get(), &subject, 1, 0,
                                   PCRE2_PARTIAL_SOFT | PCRE2_NO_JIT, data, context);
        m_firstBytes[size_t(byte)] = rc >= 0 || rc == PCRE2_ERROR_PARTIAL;
    }
    pcre2_match_context_free(context);
    m_matchesEmpty = matchAlone(QByteArray(), nullptr);
}

QString ByteRegex::startPattern() const
{
    if (failsPathsOfItsOwn(m_pattern))
        return QString();
    // In place of the closing \z, which under a hard partial match would call every whole
    // match partial.
    return m_pattern.chopped(2) + QLatin1String("(*FAIL)");
}

MatchBudget::Outcome ByteRegex::match(const QByteArray &frame, MatchBudget &budget,
                                      QList<QByteArray> *captures) const
{
    const MatchBudget::Outcome outcome = budget.run(
        m_compiled.code.get(), frame.constData(), size_t(frame.size()), m_compiled.data.get());
    if (outcome == MatchBudget::Outcome::Match && captures) {
        captures->clear();
        for (int i = 0; i <= m_captureCount; ++i)
            captures->append(m_compiled.group(frame, i));
    }
    return outcome;
}

bool ByteRegex::matchAlone(const QByteArray &frame, QList<QByteArray> *captures) const
{
    static thread_local MatchBudget budget;
    budget.startFrame();
    return match(frame, budget, captures) == MatchBudget::Outcome::Match;
}

} // namespace Profile
