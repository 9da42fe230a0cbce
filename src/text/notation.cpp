#include "text/notation.h"

#include "text/ansicodec.h"
#include "text/tokencodec.h"

namespace Profile {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

namespace {
bool appendText(QStringView text, QByteArray *out, QString *error)
{
    QByteArray bytes;
    QString unmappable;
    if (!Ansi::encode(text.toString(), &bytes, &unmappable)) {
        *error = QStringLiteral("'%1' has no code page 932 byte").arg(unmappable);
        return false;
    }
    out->append(bytes);
    return true;
}

// The byte one bracket name stands for ("CR", "x0D"); -1 when it names none.
int notationByte(QStringView name)
{
    if (name.size() == 3 && name[0] == QLatin1Char('x')) {
        const int high = hexDigit(name[1]);
        const int low = hexDigit(name[2]);
        if (high >= 0 && low >= 0)
            return high * 16 + low;
    }
    for (const mdlSUCMD::ControlToken &token : mdlSUCMD::ControlTokenTable) {
        if (name == QLatin1String(token.name))
            return quint8(token.code);
    }
    return -1;
}
} // namespace

bool appendNotation(QStringView text, QByteArray *out, QString *error)
{
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('['), pos);
        if (open < 0)
            return appendText(text.mid(pos), out, error);
        if (!appendText(text.mid(pos, open - pos), out, error))
            return false;
        const qsizetype close = text.indexOf(QLatin1Char(']'), open);
        if (close < 0) {
            *error = QStringLiteral("'[' without ']' (write [x5B] for the character)");
            return false;
        }
        const QStringView name = text.mid(open + 1, close - open - 1);
        const int byte = notationByte(name);
        if (byte < 0) {
            *error = QStringLiteral("unknown name [%1]").arg(name.toString());
            return false;
        }
        out->append(char(byte));
        pos = close + 1;
    }
    return true;
}

QString toNotation(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    for (const char c : bytes) {
        const auto byte = quint8(c);
        if (byte < 0x20) {
            text += QLatin1Char('[') + QLatin1String(mdlSUCMD::ControlTokenTable[byte].name)
                    + QLatin1Char(']');
        } else if (byte < 0x7F && byte != '[') {
            text += QLatin1Char(c);
        } else {
            text += QLatin1String("[x") + QLatin1Char(digits[byte >> 4])
                    + QLatin1Char(digits[byte & 15]) + QLatin1Char(']');
        }
    }
    return text;
}

} // namespace Profile
