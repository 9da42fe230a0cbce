#include "profile/script/luahelpers.h"

#include "profile/checksums.h"
#include "profile/clockformat.h"

#include <QByteArrayView>
#include <QDateTime>

#include <lua.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

namespace Profile {

namespace {

QByteArrayView checkBytes(lua_State *L, int index)
{
    size_t length = 0;
    const char *data = luaL_checklstring(L, index, &length);
    return QByteArrayView(data, qsizetype(length));
}

// A number rounded and wrapped to the width, as the raw formats write it.
quint64 wrapped(lua_State *L)
{
    const lua_Number n = luaL_checknumber(L, 1);
    if (!std::isfinite(n))
        luaL_argerror(L, 1, "not a finite number");
    const double rounded = std::nearbyint(n);
    // Beyond 2^63 only the low bits matter, and they are zero.
    if (std::fabs(rounded) >= 9.2e18)
        return 0;
    return quint64(qint64(rounded));
}

template <int Bytes, bool Big>
int packInteger(lua_State *L)
{
    const quint64 value = wrapped(L);
    char out[Bytes];
    for (int i = 0; i < Bytes; ++i) {
        const int shift = Big ? 8 * (Bytes - 1 - i) : 8 * i;
        out[i] = char(value >> shift);
    }
    lua_pushlstring(L, out, Bytes);
    return 1;
}

template <bool Big>
int packFloat(lua_State *L)
{
    const float value = float(luaL_checknumber(L, 1));
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    char out[4];
    for (int i = 0; i < 4; ++i)
        out[i] = char(bits >> (Big ? 8 * (3 - i) : 8 * i));
    lua_pushlstring(L, out, 4);
    return 1;
}

// The bytes at a 1-based position, or an error naming where they fall short.
quint64 unpack(lua_State *L, int bytes, bool big)
{
    const QByteArrayView s = checkBytes(L, 1);
    const lua_Integer at = luaL_optinteger(L, 2, 1);
    if (at < 1 || at - 1 + bytes > s.size())
        luaL_error(L, "bytes %d to %d lie outside a string of %d", int(at), int(at - 1 + bytes),
                   int(s.size()));
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int shift = big ? 8 * (bytes - 1 - i) : 8 * i;
        value |= quint64(quint8(s[qsizetype(at - 1 + i)])) << shift;
    }
    return value;
}

template <int Bytes, bool Big>
int unpackInteger(lua_State *L)
{
    lua_pushinteger(L, lua_Integer(unpack(L, Bytes, Big)));
    return 1;
}

template <bool Big>
int unpackFloat(lua_State *L)
{
    const quint32 bits = quint32(unpack(L, 4, Big));
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    lua_pushnumber(L, lua_Number(value));
    return 1;
}

int hex(lua_State *L)
{
    const QByteArray text = checkBytes(L, 1).toByteArray().toHex().toUpper();
    lua_pushlstring(L, text.constData(), size_t(text.size()));
    return 1;
}

int unhex(lua_State *L)
{
    const QByteArrayView text = checkBytes(L, 1);
    const auto valid = [](char c) { return std::isxdigit(quint8(c)) != 0; };
    if (text.size() % 2 != 0 || !std::all_of(text.begin(), text.end(), valid))
        return luaL_argerror(L, 1, "not pairs of hex digits");
    const QByteArray bytes = QByteArray::fromHex(text.toByteArray());
    lua_pushlstring(L, bytes.constData(), size_t(bytes.size()));
    return 1;
}

template <ChecksumKind Kind>
int sumOf(lua_State *L)
{
    lua_pushinteger(L, lua_Integer(checksum(Kind, checkBytes(L, 1))));
    return 1;
}

int timeIn(lua_State *L, bool utc)
{
    size_t length = 0;
    const char *format = luaL_optlstring(L, 1, "%H:%M:%S", &length);
    // Raised once the C++ objects are gone: Lua's long jump would skip their destructors.
    {
        QString error;
        const std::optional<ClockFormat> clock
                = ClockFormat::parse(QString::fromUtf8(format, qsizetype(length)), &error);
        if (clock) {
            const QDateTime now = utc ? QDateTime::currentDateTimeUtc() : QDateTime::currentDateTime();
            QByteArray out;
            clock->append(LocalTime { now.date(), now.time() }, &out);
            lua_pushlstring(L, out.constData(), size_t(out.size()));
            return 1;
        }
        const QByteArray message = error.toUtf8();
        lua_pushlstring(L, message.constData(), size_t(message.size()));
    }
    return luaL_argerror(L, 1, lua_tostring(L, -1));
}

int utcTime(lua_State *L)
{
    return timeIn(L, true);
}

int localTime(lua_State *L)
{
    return timeIn(L, false);
}

const luaL_Reg kHelpers[] = {
    { "u8", packInteger<1, true> },
    { "be16", packInteger<2, true> },
    { "le16", packInteger<2, false> },
    { "be32", packInteger<4, true> },
    { "le32", packInteger<4, false> },
    { "f32be", packFloat<true> },
    { "f32le", packFloat<false> },
    { "u8_at", unpackInteger<1, true> },
    { "be16_at", unpackInteger<2, true> },
    { "le16_at", unpackInteger<2, false> },
    { "be32_at", unpackInteger<4, true> },
    { "le32_at", unpackInteger<4, false> },
    { "f32be_at", unpackFloat<true> },
    { "f32le_at", unpackFloat<false> },
    { "hex", hex },
    { "unhex", unhex },
    { "sum8", sumOf<ChecksumKind::Sum8> },
    { "xor", sumOf<ChecksumKind::Xor> },
    { "lrc", sumOf<ChecksumKind::Lrc> },
    { "crc8", sumOf<ChecksumKind::Crc8> },
    { "crc16_modbus", sumOf<ChecksumKind::Crc16Modbus> },
    { "crc16_ccitt", sumOf<ChecksumKind::Crc16Ccitt> },
    { "crc16_xmodem", sumOf<ChecksumKind::Crc16Xmodem> },
    { "crc32", sumOf<ChecksumKind::Crc32> },
    { "utc", utcTime },
    { "localtime", localTime },
    { nullptr, nullptr },
};

} // namespace

void openHelpers(lua_State *state)
{
    lua_pushglobaltable(state);
    luaL_setfuncs(state, kHelpers, 0);
    lua_pop(state, 1);
}

const char *const *helperNames()
{
    static const char *const *names = [] {
        static std::vector<const char *> list;
        for (const luaL_Reg &helper : kHelpers)
            list.push_back(helper.name);
        return list.data();
    }();
    return names;
}

} // namespace Profile
