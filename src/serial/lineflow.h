#pragma once

// How the two ends of a line keep each other from sending too much: not at all, by the
// XON and XOFF characters in the data, or by RTS and CTS.
enum class LineFlow { None, XonXoff, RtsCts };

namespace FlowCharacter {
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;
} // namespace FlowCharacter
