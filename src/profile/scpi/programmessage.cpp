#include "profile/scpi/programmessage.h"

#include <algorithm>

namespace Profile::Scpi {

namespace {
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The end of the unit from begin: the ';' outside quotes, or the end. open: a quote was left
// open.
const char *unitEnd(const char *begin, const char *end, bool *open)
{
    char quote = 0;
    for (const char *p = begin; p < end; ++p) {
        if (quote) {
            if (*p == quote)
                quote = 0; // a doubled quote closes and opens again
        } else if (*p == '"' || *p == '\'') {
            quote = *p;
        } else if (*p == ';') {
            *open = false;
            return p;
        }
    }
    *open = quote != 0;
    return end;
}

bool readParameter(const char *begin, const char *end, Parameter *out)
{
    while (begin < end && isSpace(*begin))
        ++begin;
    while (end > begin && isSpace(end[-1]))
        --end;
    if (begin == end)
        return false;
    if (*begin != '"' && *begin != '\'') {
        // "1 2" is two words where one parameter stands: no reading of it is safe.
        out->text = QByteArray(begin, end - begin);
        return std::none_of(begin, end, isSpace);
    }
    const char quote = *begin;
    out->quoted = true;
    out->quote = quote;
    for (const char *p = begin + 1; p < end; ++p) {
        if (*p != quote) {
            out->text += *p;
        } else if (p + 1 < end && p[1] == quote) {
            out->text += quote;
            ++p;
        } else {
            return p + 1 == end; // nothing may follow the closing quote
        }
    }
    return false;
}

void readUnit(const char *begin, const char *end, ProgramUnit *unit)
{
    unit->text = QByteArray(begin, end - begin);
    const char *header = begin;
    while (header < end && !isSpace(*header))
        ++header;
    if (!ReceivedHeader::parse(QByteArray(begin, header - begin), &unit->header)) {
        unit->syntaxError = true;
        return;
    }
    const char *p = header;
    while (p < end && isSpace(*p))
        ++p;
    if (p == end)
        return;
    // Commas inside quoted strings belong to them.
    char quote = 0;
    const char *start = p;
    for (; p <= end; ++p) {
        if (p < end && quote) {
            if (*p == quote)
                quote = 0;
            continue;
        }
        if (p < end && (*p == '"' || *p == '\'')) {
            quote = *p;
            continue;
        }
        if (p == end || *p == ',') {
            Parameter parameter;
            if (!readParameter(start, p, &parameter)) {
                unit->syntaxError = true;
                return;
            }
            unit->parameters.push_back(std::move(parameter));
            start = p + 1;
        }
    }
}
} // namespace

std::vector<ProgramUnit> parseProgramMessage(const QByteArray &message)
{
    std::vector<ProgramUnit> units;
    const char *p = message.constData();
    const char *end = p + message.size();
    while (end > p && (end[-1] == '\r' || end[-1] == '\n'))
        --end;
    while (p < end) {
        bool open = false;
        const char *stop = unitEnd(p, end, &open);
        const char *first = p;
        const char *last = stop;
        while (first < last && isSpace(*first))
            ++first;
        while (last > first && isSpace(last[-1]))
            --last;
        if (first < last) {
            ProgramUnit unit;
            readUnit(first, last, &unit);
            unit.syntaxError = unit.syntaxError || open;
            units.push_back(std::move(unit));
        }
        p = stop < end ? stop + 1 : end;
    }
    return units;
}

} // namespace Profile::Scpi
