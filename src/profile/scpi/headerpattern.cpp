#include "profile/scpi/headerpattern.h"

#include <algorithm>

namespace Profile::Scpi {

namespace {
bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
} // namespace

std::optional<HeaderPattern> HeaderPattern::parse(const QByteArray &written, QString *error)
{
    HeaderPattern pattern;
    QByteArray text = written.trimmed();
    const auto fail = [&](const QString &reason) {
        *error = QStringLiteral("header '%1': %2").arg(QString::fromUtf8(written), reason);
        return std::nullopt;
    };
    if (text.startsWith(':'))
        text.remove(0, 1);
    pattern.m_query = text.endsWith('?');
    if (pattern.m_query)
        text.chop(1);
    pattern.m_common = text.startsWith('*');
    qsizetype groupStart = -1;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == ':') {
            ++pos;
            continue;
        }
        if (c == '[') {
            if (groupStart >= 0)
                return fail(QStringLiteral("brackets do not nest"));
            groupStart = qsizetype(pattern.m_nodes.size());
            ++pos;
            continue;
        }
        if (c == ']') {
            if (groupStart < 0 || groupStart == qsizetype(pattern.m_nodes.size()))
                return fail(QStringLiteral("']' without a bracketed keyword"));
            pattern.m_nodes[size_t(groupStart)].skipTo = pattern.m_nodes.size();
            groupStart = -1;
            ++pos;
            continue;
        }
        qsizetype end = pos;
        while (end < text.size() && !QByteArray(":[]<").contains(text[end]))
            ++end;
        Node node;
        if (!Mnemonic::parse(text.mid(pos, end - pos), &node.word))
            return fail(QStringLiteral("'%1' is no keyword: upper-case short form, then the "
                                       "rest of the long form in lower case")
                            .arg(QString::fromUtf8(text.mid(pos, end - pos))));
        pos = end;
        if (pos < text.size() && text[pos] == '<') {
            const qsizetype close = text.indexOf('>', pos);
            const QByteArray name = close < 0 ? QByteArray() : text.mid(pos + 1, close - pos - 1);
            if (name.isEmpty() || !std::all_of(name.begin(), name.end(), isNameChar)
                || (name[0] >= '0' && name[0] <= '9'))
                return fail(QStringLiteral("a suffix is <name>, the name in lower case"));
            if (std::find(pattern.m_suffixNames.begin(), pattern.m_suffixNames.end(), name)
                != pattern.m_suffixNames.end())
                return fail(QStringLiteral("suffix <%1> is used twice").arg(QString::fromUtf8(name)));
            node.suffixSlot = int(pattern.m_suffixNames.size());
            pattern.m_suffixNames.push_back(name);
            pos = close + 1;
        }
        pattern.m_nodes.push_back(std::move(node));
    }
    if (groupStart >= 0)
        return fail(QStringLiteral("'[' without ']'"));
    if (pattern.m_nodes.empty())
        return fail(QStringLiteral("no keyword"));
    if (pattern.m_common && (pattern.m_nodes.size() > 1 || pattern.m_nodes[0].skipTo))
        return fail(QStringLiteral("a common command is one keyword"));
    if (!pattern.m_common && pattern.m_nodes[0].skipTo == pattern.m_nodes.size())
        return fail(QStringLiteral("a header of optional keywords only"));
    return pattern;
}

bool HeaderPattern::matches(const std::vector<const ReceivedNode *> &path, Suffixes *suffixes) const
{
    suffixes->resize(qsizetype(m_suffixNames.size()));
    std::fill(suffixes->begin(), suffixes->end(), 1);
    return matchFrom(0, 0, path, suffixes);
}

bool HeaderPattern::matchFrom(size_t at, size_t received,
                              const std::vector<const ReceivedNode *> &path, Suffixes *suffixes) const
{
    if (at == m_nodes.size())
        return received == path.size();
    const Node &node = m_nodes[at];
    if (received < path.size()) {
        const ReceivedNode &sent = *path[received];
        bool accepted = false;
        if (node.suffixSlot < 0) {
            // A suffix of 1 is the keyword without one.
            accepted = node.word.accepts(sent.full) || (sent.suffix == 1 && node.word.accepts(sent.stem));
        } else if (node.word.accepts(sent.stem)) {
            accepted = true;
            (*suffixes)[node.suffixSlot] = sent.suffix < 0 ? 1 : sent.suffix;
        }
        if (accepted && matchFrom(at + 1, received + 1, path, suffixes))
            return true;
    }
    if (node.skipTo == 0)
        return false;
    for (size_t i = at; i < node.skipTo; ++i) {
        if (m_nodes[i].suffixSlot >= 0)
            (*suffixes)[m_nodes[i].suffixSlot] = 1;
    }
    return matchFrom(node.skipTo, received, path, suffixes);
}

} // namespace Profile::Scpi
