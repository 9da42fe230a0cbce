#include "profile/scpi/receivedheader.h"

namespace Profile::Scpi {

namespace {
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool readNode(const char *begin, const char *end, bool common, ReceivedNode *node)
{
    const char *p = begin;
    if (common && p < end && *p == '*')
        ++p;
    if (p == end || !isLetter(*p))
        return false;
    for (const char *q = p; q < end; ++q) {
        if (!isLetter(*q) && !isDigit(*q) && *q != '_')
            return false;
    }
    node->full = QByteArray(begin, end - begin).toUpper();
    const char *digits = end;
    while (digits > p && isDigit(digits[-1]))
        --digits;
    // A suffix past nine digits is no number a host means.
    if (common || digits == end || end - digits > 9) {
        node->stem = node->full;
        node->suffix = -1;
        return true;
    }
    node->stem = node->full.left(digits - begin);
    node->suffix = QByteArray(digits, end - digits).toInt();
    return true;
}
} // namespace

bool ReceivedHeader::parse(const QByteArray &text, ReceivedHeader *out)
{
    const char *p = text.constData();
    const char *end = p + text.size();
    out->nodes.clear();
    out->absolute = p < end && *p == ':';
    if (out->absolute)
        ++p;
    out->common = p < end && *p == '*';
    out->query = p < end && end[-1] == '?';
    if (out->query)
        --end;
    if (out->common && out->absolute)
        return false;
    while (p <= end) {
        const char *colon = p;
        while (colon < end && *colon != ':')
            ++colon;
        ReceivedNode node;
        if (!readNode(p, colon, out->common, &node))
            return false;
        out->nodes.push_back(std::move(node));
        if (out->common && colon != end)
            return false;
        p = colon + 1;
    }
    return !out->nodes.empty();
}

} // namespace Profile::Scpi
