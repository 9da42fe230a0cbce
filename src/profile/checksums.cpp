#include "profile/checksums.h"

#include <array>

namespace Profile {

namespace {
constexpr std::array<quint16, 256> makeModbusTable()
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

constexpr std::array<quint16, 256> makeCcittTable()
{
    std::array<quint16, 256> table {};
    for (int n = 0; n < 256; ++n) {
        quint16 crc = quint16(n << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
        table[size_t(n)] = crc;
    }
    return table;
}

constexpr std::array<quint32, 256> makeCrc32Table()
{
    std::array<quint32, 256> table {};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 crc = n;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[n] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> kModbusTable = makeModbusTable();
constexpr std::array<quint16, 256> kCcittTable = makeCcittTable();
constexpr std::array<quint32, 256> kCrc32Table = makeCrc32Table();

quint16 crc16Forward(quint16 crc, QByteArrayView bytes)
{
    for (const char c : bytes)
        crc = quint16((crc << 8) ^ kCcittTable[((crc >> 8) ^ quint8(c)) & 0xFF]);
    return crc;
}

void appendHex(quint8 byte, QByteArray *out)
{
    static const char digits[] = "0123456789ABCDEF";
    out->append(digits[byte >> 4]);
    out->append(digits[byte & 15]);
}

struct Named
{
    const char *name;
    ChecksumKind kind;
    int bytes;
};

constexpr Named kNamed[] = {
    { "sum8", ChecksumKind::Sum8, 1 },
    { "xor", ChecksumKind::Xor, 1 },
    { "lrc", ChecksumKind::Lrc, 1 },
    { "crc8", ChecksumKind::Crc8, 1 },
    { "crc16_modbus", ChecksumKind::Crc16Modbus, 2 },
    { "crc16_ccitt", ChecksumKind::Crc16Ccitt, 2 },
    { "crc16_xmodem", ChecksumKind::Crc16Xmodem, 2 },
    { "crc32", ChecksumKind::Crc32, 4 },
};

int widthOf(ChecksumKind kind)
{
    for (const Named &named : kNamed) {
        if (named.kind == kind)
            return named.bytes;
    }
    return 1;
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

quint8 crc8(QByteArrayView bytes)
{
    quint8 crc = 0;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? quint8((crc << 1) ^ 0x07) : quint8(crc << 1);
    }
    return crc;
}

quint16 crc16Modbus(QByteArrayView bytes)
{
    quint16 crc = 0xFFFF;
    for (const char c : bytes)
        crc = quint16((crc >> 8) ^ kModbusTable[(crc ^ quint8(c)) & 0xFF]);
    return crc;
}

quint16 crc16Ccitt(QByteArrayView bytes)
{
    return crc16Forward(0xFFFF, bytes);
}

quint16 crc16Xmodem(QByteArrayView bytes)
{
    return crc16Forward(0, bytes);
}

quint32 crc32(QByteArrayView bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes)
        crc = (crc >> 8) ^ kCrc32Table[(crc ^ quint8(c)) & 0xFF];
    return crc ^ 0xFFFFFFFFu;
}

quint32 checksum(ChecksumKind kind, QByteArrayView bytes)
{
    switch (kind) {
    case ChecksumKind::Sum8:
        return sum8(bytes);
    case ChecksumKind::Xor:
        return xor8(bytes);
    case ChecksumKind::Lrc:
        return lrc8(bytes);
    case ChecksumKind::Crc8:
        return crc8(bytes);
    case ChecksumKind::Crc16Modbus:
        return crc16Modbus(bytes);
    case ChecksumKind::Crc16Ccitt:
        return crc16Ccitt(bytes);
    case ChecksumKind::Crc16Xmodem:
        return crc16Xmodem(bytes);
    case ChecksumKind::Crc32:
        return crc32(bytes);
    }
    return 0;
}

std::optional<ChecksumKind> checksumKind(QStringView name)
{
    for (const Named &named : kNamed) {
        if (name == QLatin1String(named.name))
            return named.kind;
    }
    return std::nullopt;
}

const char *const *checksumNames()
{
    static const char *const names[] = { "sum8", "xor", "lrc", "crc8", "crc16_modbus",
        "crc16_ccitt", "crc16_xmodem", "crc32", nullptr };
    return names;
}

bool rawByDefault(ChecksumKind kind)
{
    return widthOf(kind) > 1;
}

void appendChecksum(ChecksumKind kind, bool raw, QByteArrayView over, QByteArray *out)
{
    const quint32 value = checksum(kind, over);
    const int width = widthOf(kind);
    for (int i = 0; i < width; ++i) {
        // Modbus puts its CRC low byte first on the line; its hex form reads high first.
        const int shift = raw && kind == ChecksumKind::Crc16Modbus ? 8 * i : 8 * (width - 1 - i);
        const quint8 byte = quint8(value >> shift);
        if (raw)
            out->append(char(byte));
        else
            appendHex(byte, out);
    }
}

} // namespace Profile
