#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace Profile {

// The strict form of the settings notation that profile texts use: [NAME] from the token
// codec's table, [xHH] for any byte, other characters as their code page 932 bytes, as the
// dialog sends them. Where the dialog drops an unknown name or copies a lone "[", a profile
// is refused: a typo there must not reach the wire unnoticed. A literal "[" is [x5B].
//
// Appends the bytes of text to out. False, with the reason, for an unknown name, a "[" without
// "]" or a character code page 932 cannot hold.
bool appendNotation(QStringView text, QByteArray *out, QString *error);

// The notation of bytes, for messages and tools: printable ASCII as itself, the rest as
// names ([CR]) or [xHH], "[" as [x5B]. appendNotation() reads it back to the same bytes.
QString toNotation(const QByteArray &bytes);

// The value of one hexadecimal digit, either case; -1 for any other character. [xHH] and a
// regex's \xHH read their bytes alike.
int hexDigit(QChar c);

} // namespace Profile
