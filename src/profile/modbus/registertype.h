#pragma once

#include <QString>

#include <array>
#include <optional>

namespace Profile::Modbus {

// How a map entry's number becomes 16-bit register words: Modbus carries only words, so a
// 32-bit integer or a float is split over two registers, in the order the device chose.
enum class RegisterType { U16, I16, U32, I32, F32 };
enum class WordOrder { HighFirst, LowFirst };

std::optional<RegisterType> registerType(QStringView name);
// The registers one value of the type occupies: 1 or 2.
int wordsOf(RegisterType type);

// The words of a number, in register order. Integers are rounded to the nearest and clamped
// to the type's range, so a reading that drifts past it saturates as a real converter does.
std::array<quint16, 2> encodeWords(double number, RegisterType type, WordOrder order);

} // namespace Profile::Modbus
