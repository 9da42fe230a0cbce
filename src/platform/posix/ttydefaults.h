#pragma once

#include <QString>

// A serial device a program opens for the first time is at 9600 baud, 8N1; the host end of
// the virtual port is made raw with no speed at all. This gives it the device's.
namespace TtyDefaults {

constexpr int kBaud = 9600;

// Raw, 9600 baud, 8N1, the receiver on, modem lines ignored. False with the reason.
bool apply(const QString &ttyPath, QString *error);

} // namespace TtyDefaults
