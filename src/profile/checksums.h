#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace Profile {

enum class ChecksumKind { Sum8, Xor, Lrc, Crc16Modbus };

// The byte sum modulo 256.
quint8 sum8(QByteArrayView bytes);
// All bytes XORed together (the BCC of many instruments).
quint8 xor8(QByteArrayView bytes);
// The two's complement of sum8: adding it to the sum gives 0.
quint8 lrc8(QByteArrayView bytes);
// CRC-16 as Modbus RTU has it: reflected polynomial 0xA001, start 0xFFFF.
quint16 crc16Modbus(QByteArrayView bytes);

// The placeholder name of a checksum ("sum8", "crc16_modbus"), or nothing.
std::optional<ChecksumKind> checksumKind(QStringView name);

// What a checksum placeholder writes for the bytes before it. The 8-bit sums give two
// upper-case hex characters, or with raw the byte itself. The CRC gives two raw bytes, low
// byte first as on a Modbus line, or with !raw four hex characters, high first.
void appendChecksum(ChecksumKind kind, bool raw, QByteArrayView over, QByteArray *out);

} // namespace Profile
