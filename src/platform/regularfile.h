#pragma once

#include <QByteArray>
#include <QString>

// Reads a file that must be a regular file of at most maxBytes, without ever waiting on it:
// a FIFO with no writer, a device such as /dev/zero or a folder is refused at once, so a
// path given by a user or a harness can never hold up the program or exhaust its memory.
// (Windows would check GetFileType() for FILE_TYPE_DISK.)
namespace RegularFile {

// False with the reason ("not a regular file", "larger than 16 MiB", the system's words).
bool read(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *error);

} // namespace RegularFile
