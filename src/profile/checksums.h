#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace Profile {

enum class ChecksumKind { Sum8, Xor, Lrc, Crc8, Crc16Modbus, Crc16Ccitt, Crc16Xmodem, Crc32 };

// The byte sum modulo 256.
quint8 sum8(QByteArrayView bytes);
// All bytes XORed together (the BCC of many instruments).
quint8 xor8(QByteArrayView bytes);
// The two's complement of sum8: adding it to the sum gives 0.
quint8 lrc8(QByteArrayView bytes);
// CRC-8: polynomial 0x07, start 0, not reflected.
quint8 crc8(QByteArrayView bytes);
// CRC-16 as Modbus RTU has it: reflected polynomial 0xA001, start 0xFFFF.
quint16 crc16Modbus(QByteArrayView bytes);
// CRC-16/CCITT-FALSE: polynomial 0x1021, start 0xFFFF, not reflected.
quint16 crc16Ccitt(QByteArrayView bytes);
// CRC-16/XMODEM: the same with start 0.
quint16 crc16Xmodem(QByteArrayView bytes);
// CRC-32 as zlib, PNG and Ethernet have it.
quint32 crc32(QByteArrayView bytes);

// Any of the above as a number.
quint32 checksum(ChecksumKind kind, QByteArrayView bytes);

// The placeholder name of a checksum ("sum8", "crc16_modbus"), or nothing.
std::optional<ChecksumKind> checksumKind(QStringView name);
// Every placeholder name, for the names values may not take.
const char *const *checksumNames();

// What a checksum placeholder writes for the bytes it covers. The 8-bit sums give two
// upper-case hex characters, or with raw the byte itself. The CRCs give their raw bytes (Modbus
// low byte first as on its line, the others high byte first), or with !raw hex characters,
// high first.
void appendChecksum(ChecksumKind kind, bool raw, QByteArrayView over, QByteArray *out);
// Whether the placeholder without :bin or :hex writes raw bytes.
bool rawByDefault(ChecksumKind kind);

} // namespace Profile
