#pragma once

#include <QByteArray>
#include <QString>

#include <array>

// The notation of the texts that go on the line: control characters written as their
// names in square brackets ("ABC+[CR]+[LF]"), everything else standing for itself.
namespace mdlSUCMD {

struct ControlToken
{
    const char *name;
    char code;
};

// The names exactly as the instrument's users know them: 02 is SXT, 03 is EOT and 04 is
// EXT; there is no STX, ETX or DEL.
extern const std::array<ControlToken, 33> ControlTokenTable;

// The bytes on the wire for a text: tokens become their codes, unknown or empty names
// vanish, other characters take their code page 932 bytes. Text after the last "]" and a
// "[" without a "]" are copied as they stand.
QByteArray ConvertTokenText(const QString &text);

} // namespace mdlSUCMD
