#include "profile/modbus/registertype.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace Profile::Modbus {

namespace {

quint32 clampedInteger(double number, double low, double high)
{
    if (std::isnan(number))
        return 0;
    const double rounded = std::round(std::clamp(number, low, high));
    return rounded < 0 ? quint32(qint32(rounded)) : quint32(rounded);
}

} // namespace

std::optional<RegisterType> registerType(QStringView name)
{
    if (name == u"u16")
        return RegisterType::U16;
    if (name == u"i16")
        return RegisterType::I16;
    if (name == u"u32")
        return RegisterType::U32;
    if (name == u"i32")
        return RegisterType::I32;
    if (name == u"f32")
        return RegisterType::F32;
    return std::nullopt;
}

int wordsOf(RegisterType type)
{
    return type == RegisterType::U16 || type == RegisterType::I16 ? 1 : 2;
}

std::array<quint16, 2> encodeWords(double number, RegisterType type, WordOrder order)
{
    quint32 bits = 0;
    switch (type) {
    case RegisterType::U16:
        return { quint16(clampedInteger(number, 0, 65535)), 0 };
    case RegisterType::I16:
        return { quint16(clampedInteger(number, -32768, 32767)), 0 };
    case RegisterType::U32:
        bits = clampedInteger(number, 0, 4294967295.0);
        break;
    case RegisterType::I32:
        bits = clampedInteger(number, -2147483648.0, 2147483647.0);
        break;
    case RegisterType::F32: {
        const float single = float(number);
        std::memcpy(&bits, &single, sizeof bits);
        break;
    }
    }
    const quint16 high = quint16(bits >> 16);
    const quint16 low = quint16(bits & 0xFFFF);
    return order == WordOrder::HighFirst ? std::array<quint16, 2> { high, low }
                                         : std::array<quint16, 2> { low, high };
}

} // namespace Profile::Modbus
