#include "profile/regexbatch.h"

namespace Profile {

namespace {
// "(?" may open only groups that neither capture by name nor refer to others, and inline
// options other than x (whose comments would run past the alternative's end).
bool plainGroupAt(const QString &pattern, qsizetype at)
{
    const QStringView rest = QStringView(pattern).mid(at + 2);
    for (const char *opener : { ":", "=", "!", ">", "<=", "<!" }) {
        if (rest.startsWith(QLatin1String(opener)))
            return true;
    }
    qsizetype i = 0;
    while (i < rest.size() && QStringLiteral("imsnU-^").contains(rest[i]))
        ++i;
    return i > 0 && i < rest.size() && (rest[i] == QLatin1Char(')') || rest[i] == QLatin1Char(':'));
}
} // namespace

bool RegexBatch::combinable(const QString &pattern)
{
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('\\')) {
            if (++i == pattern.size())
                return false;
            const QChar e = pattern[i];
            if (e.isDigit() || QStringLiteral("gkQEK").contains(e))
                return false;
        } else if (c == QLatin1Char('#')) {
            return false;
        } else if (c == QLatin1Char('(') && i + 1 < pattern.size()) {
            if (pattern[i + 1] == QLatin1Char('*'))
                return false;
            if (pattern[i + 1] == QLatin1Char('?') && !plainGroupAt(pattern, i))
                return false;
        }
    }
    return true;
}

bool RegexBatch::build(const std::vector<std::pair<int, const ByteRegex *>> &members)
{
    QString pattern;
    int group = 1;
    m_members.clear();
    for (const auto &[rule, regex] : members) {
        if (!m_members.empty())
            pattern += QLatin1Char('|');
        pattern += QLatin1Char('(') + regex->pattern() + QLatin1Char(')');
        m_members.push_back(Member { rule, group, regex->captureCount() });
        group += 1 + regex->captureCount();
    }
    QString error;
    m_compiled = Pcre2Code::compile(pattern, &error);
    return !m_members.empty() && m_compiled.code && m_compiled.captureCount() == group - 1;
}

MatchBudget::Outcome RegexBatch::match(const QByteArray &frame, MatchBudget &budget, int *rule,
                                       QList<QByteArray> *captures) const
{
    const MatchBudget::Outcome outcome = budget.run(
        m_compiled.code.get(), frame.constData(), size_t(frame.size()), m_compiled.data.get());
    if (outcome != MatchBudget::Outcome::Match)
        return outcome;
    for (const Member &member : m_members) {
        if (!m_compiled.tookPart(member.group))
            continue;
        captures->clear();
        captures->append(frame);
        for (int i = 1; i <= member.captureCount; ++i)
            captures->append(m_compiled.group(frame, member.group + i));
        *rule = member.rule;
        return outcome;
    }
    return MatchBudget::Outcome::NoMatch;
}

} // namespace Profile
