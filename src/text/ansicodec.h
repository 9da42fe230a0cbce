#pragma once

#include <QByteArray>
#include <QString>

// The program's "ANSI" text is code page 932 on every system, so files written on a
// Japanese Windows PC read the same here and the bytes on the wire match the original.
namespace Ansi {

// Encodes text as code page 932. Characters that the code page cannot hold are not
// dropped or replaced: the call fails and names them in unmappable (each once, in order).
bool encode(const QString &text, QByteArray *out, QString *unmappable = nullptr);

// Encodes text for a place that must take whatever it is given (a log line): characters
// outside the code page become "?", as Windows does, so nothing silently disappears.
QByteArray encodeLossy(const QString &text);

// Decodes code page 932. Byte sequences that are not valid become U+FFFD, one per bad
// byte, so a garbled file shows where it is garbled instead of losing characters.
QString decode(const QByteArray &bytes);

} // namespace Ansi
