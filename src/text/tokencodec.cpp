#include "text/tokencodec.h"

#include "text/ansicodec.h"

namespace mdlSUCMD {

const std::array<ControlToken, 33> ControlTokenTable { {
        { "NUL", 0x00 }, { "SOH", 0x01 }, { "SXT", 0x02 }, { "EOT", 0x03 }, { "EXT", 0x04 },
        { "ENQ", 0x05 }, { "ACK", 0x06 }, { "BEL", 0x07 }, { "BS", 0x08 },  { "HT", 0x09 },
        { "LF", 0x0A },  { "VT", 0x0B },  { "FF", 0x0C },  { "CR", 0x0D },  { "SO", 0x0E },
        { "SI", 0x0F },  { "DLE", 0x10 }, { "DC1", 0x11 }, { "DC2", 0x12 }, { "DC3", 0x13 },
        { "DC4", 0x14 }, { "NAK", 0x15 }, { "SYN", 0x16 }, { "ETB", 0x17 }, { "CAN", 0x18 },
        { "EM", 0x19 },  { "SUB", 0x1A }, { "ESC", 0x1B }, { "FS", 0x1C },  { "GS", 0x1D },
        { "RS", 0x1E },  { "US", 0x1F },  { "SP", 0x20 },
} };

namespace {
// Exact and case-sensitive: "cr" or " CR" name nothing.
void AppendTokenByte(const QString &name, QByteArray *result)
{
    for (const ControlToken &token : ControlTokenTable) {
        if (name == QLatin1String(token.name)) {
            result->append(token.code);
            return;
        }
    }
}
} // namespace

QByteArray ConvertTokenText(const QString &text)
{
    QByteArray result;
    qsizetype pos = 0;
    // Every token converts, however many there are.
    while (pos < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('['), pos);
        const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char(']'), open);
        if (close < 0) {
            result += Ansi::encodeLossy(text.mid(pos));
            break;
        }
        result += Ansi::encodeLossy(text.mid(pos, open - pos));
        const QString name = text.mid(open + 1, close - open - 1);
        if (!name.isEmpty())
            AppendTokenByte(name, &result);
        pos = close + 1;
    }
    return result;
}

} // namespace mdlSUCMD
