#include "notation.h"

#include "cp932.h"

#include <QStringList>

namespace Oracle {
namespace {

// Names of the bytes 0x00 to 0x20 in order; the instrument's tool spells 02 to 04 its own way.
const QStringList &names()
{
    static const QStringList list
        = QStringLiteral("NUL SOH SXT EOT EXT ENQ ACK BEL BS HT LF VT FF CR SO SI "
                         "DLE DC1 DC2 DC3 DC4 NAK SYN ETB CAN EM SUB ESC FS GS RS US SP")
              .split(QLatin1Char(' '));
    return list;
}

} // namespace

int namedByte(const QString &name)
{
    bool isHex = false;
    const int hex = name.size() == 3 && name.startsWith(QLatin1Char('x')) ? name.mid(1).toInt(&isHex, 16) : -1;
    return isHex ? hex : int(names().indexOf(name));
}

QByteArray lineBytes(const QString &typed)
{
    QByteArray bytes;
    QString rest = typed;
    for (;;) {
        const qsizetype open = rest.indexOf(QLatin1Char('['));
        const qsizetype close = open < 0 ? -1 : rest.indexOf(QLatin1Char(']'), open);
        if (close < 0)
            return bytes + cp932(rest);
        bytes += cp932(rest.left(open));
        const qsizetype code = names().indexOf(rest.mid(open + 1, close - open - 1));
        if (code >= 0)
            bytes += char(code);
        rest = rest.mid(close + 1);
    }
}

} // namespace Oracle
