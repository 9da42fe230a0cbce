#pragma once

struct lua_State;

namespace Profile {

// The byte work instruments need, as globals of a profile's Lua state: numbers to bytes (u8
// be16 le16 be32 le32 f32be f32le) and back (u8_at be16_at ... from a 1-based position), hex
// and unhex, the checksums of the placeholders as numbers (sum8 xor lrc crc8 crc16_modbus
// crc16_ccitt crc16_xmodem crc32), and the time now as utc(fmt) and localtime(fmt) in the
// clock notation.
void openHelpers(lua_State *state);

// The names above, which a value may not take.
const char *const *helperNames();

} // namespace Profile
