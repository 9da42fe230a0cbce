#pragma once

#include <QByteArray>
#include <QString>

// The settings dialog's notation as a user reads it off the hint: "[CR]" is one control byte,
// anything else is text in code page 932 ("+" included). The tests' own table and reader,
// written apart from the program's.
namespace Oracle {

// The bytes the program must send for a typed text. A bracketed name the table does not
// know stands for nothing; a "[" without a "]" after it is text.
QByteArray lineBytes(const QString &typed);

// The byte a bracketed name stands for in a profile or a saved log ("CR", "x5B"); -1 for none.
int namedByte(const QString &name);

} // namespace Oracle
