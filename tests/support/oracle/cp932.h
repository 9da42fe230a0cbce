#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Code page 932 as glibc's iconv knows it: the tests' own view of the bytes a text becomes,
// apart from the program's encoder, so a fault in that encoder cannot hide on both sides.
namespace Oracle {

// nullopt when the text holds a character the code page has no bytes for.
std::optional<QByteArray> toCp932(const QString &text);
// For texts the tests chose to be encodable; anything else is a fault of the test.
QByteArray cp932(const QString &text);
// nullopt when the bytes are no valid code page 932.
std::optional<QString> fromCp932(const QByteArray &bytes);

} // namespace Oracle
