#include "profile/script/luaextent.h"

namespace Profile {

namespace {
// At a long bracket "[[" or "[==[": its level (the count of '='), else -1.
int longBracketLevel(QStringView text, qsizetype at)
{
    if (at >= text.size() || text[at] != QLatin1Char('['))
        return -1;
    qsizetype i = at + 1;
    while (i < text.size() && text[i] == QLatin1Char('='))
        ++i;
    return i < text.size() && text[i] == QLatin1Char('[') ? int(i - at - 1) : -1;
}

// Past the long string or comment opened at at with the level; -1 when it never closes.
qsizetype skipLong(QStringView text, qsizetype at, int level)
{
    const QString close = QLatin1Char(']') + QString(level, QLatin1Char('=')) + QLatin1Char(']');
    const qsizetype end = text.indexOf(close, at + level + 2);
    return end < 0 ? -1 : end + close.size();
}

qsizetype skipQuoted(QStringView text, qsizetype at)
{
    const QChar quote = text[at];
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\'))
            ++i;
        else if (text[i] == quote)
            return i + 1;
        else if (text[i] == QLatin1Char('\n'))
            return -1;
    }
    return -1;
}
} // namespace

qsizetype luaExpressionEnd(QStringView text, qsizetype from)
{
    int depth = 0;
    qsizetype i = from;
    while (i >= 0 && i < text.size()) {
        const QChar c = text[i];
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            i = skipQuoted(text, i);
        } else if (const int level = longBracketLevel(text, i); level >= 0) {
            i = skipLong(text, i, level);
        } else if (c == QLatin1Char('-') && i + 1 < text.size() && text[i + 1] == QLatin1Char('-')) {
            const int level = longBracketLevel(text, i + 2);
            if (level >= 0) {
                i = skipLong(text, i + 2, level);
            } else {
                const qsizetype line = text.indexOf(QLatin1Char('\n'), i);
                i = line < 0 ? -1 : line + 1;
            }
        } else if (c == QLatin1Char('{')) {
            ++depth;
            ++i;
        } else if (c == QLatin1Char('}')) {
            if (depth == 0)
                return i;
            --depth;
            ++i;
        } else {
            ++i;
        }
    }
    return -1;
}

} // namespace Profile
