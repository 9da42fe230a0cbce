#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The two readable forms of the bytes of a log line. Both read the bytes as code page 932,
// character by character, and both show a byte that is no character of its own (a lone
// lead byte, 0x80, 0xFD) as [xHH], so what follows it keeps its own characters.
namespace LogText {

// As the window shows it: control characters as the settings dialog names them ("[CR]",
// "[ACK]", "[DEL]"), everything else as its character.
void appendShown(QByteArrayView bytes, QString *out);
QString shown(QByteArrayView bytes);

// As a saved log holds it: one record on one file line that reads back to exactly these
// bytes in the profile notation. Control characters are named ("[CR]"), '"', '[' and 0x7F
// are [x22], [x5B] and [x7F], a pair that would not come back as the same two bytes is
// [xHH][xHH]; every other character keeps its code page 932 bytes.
void appendSaved(QByteArrayView bytes, QByteArray *out);

} // namespace LogText
