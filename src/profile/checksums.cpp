#include "profile/checksums.h"

#include <array>

namespace Profile {

namespace {
constexpr std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table {};
    for (int n = 0; n < 256; ++n) {
        quint16 crc = quint16(n);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
        table[size_t(n)] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> kCrcTable = makeCrcTable();

void appendHex(quint8 byte, QByteArray *out)
{
    static const char digits[] = "0123456789ABCDEF";
    out->append(digits[byte >> 4]);
    out->append(digits[byte & 15]);
}
} // namespace

quint8 sum8(QByteArrayView bytes)
{
    unsigned sum = 0;
    for (const char c : bytes)
        sum += quint8(c);
    return quint8(sum);
}

quint8 xor8(QByteArrayView bytes)
{
    quint8 x = 0;
    for (const char c : bytes)
        x ^= quint8(c);
    return x;
}

quint8 lrc8(QByteArrayView bytes)
{
    return quint8(0x100 - sum8(bytes));
}

quint16 crc16Modbus(QByteArrayView bytes)
{
    quint16 crc = 0xFFFF;
    for (const char c : bytes)
        crc = quint16((crc >> 8) ^ kCrcTable[(crc ^ quint8(c)) & 0xFF]);
    return crc;
}

std::optional<ChecksumKind> checksumKind(QStringView name)
{
    if (name == QLatin1String("sum8"))
        return ChecksumKind::Sum8;
    if (name == QLatin1String("xor"))
        return ChecksumKind::Xor;
    if (name == QLatin1String("lrc"))
        return ChecksumKind::Lrc;
    if (name == QLatin1String("crc16_modbus"))
        return ChecksumKind::Crc16Modbus;
    return std::nullopt;
}

void appendChecksum(ChecksumKind kind, bool raw, QByteArrayView over, QByteArray *out)
{
    if (kind == ChecksumKind::Crc16Modbus) {
        const quint16 crc = crc16Modbus(over);
        if (raw) {
            out->append(char(crc & 0xFF));
            out->append(char(crc >> 8));
        } else {
            appendHex(quint8(crc >> 8), out);
            appendHex(quint8(crc & 0xFF), out);
        }
        return;
    }
    const quint8 value = kind == ChecksumKind::Sum8 ? sum8(over)
        : kind == ChecksumKind::Xor                 ? xor8(over)
                                                    : lrc8(over);
    if (raw)
        out->append(char(value));
    else
        appendHex(value, out);
}

} // namespace Profile
