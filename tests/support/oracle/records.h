#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// The two file formats as docs/settings.md gives them, read and written by the tests themselves:
// settings records ("f1","f2",... CR LF, no escapes) and saved logs ("line" CR LF, the line
// in the notation of profiles).
namespace Oracle {

using Record = QList<QByteArray>;

QByteArray record(const Record &fields);
// The records of a settings file in order; nullopt when the file is anything else.
std::optional<QList<Record>> records(const QByteArray &file);

struct SavedLine
{
    QByteArray stamp; // "[YYYY/MM/DD HH:MM:SS]"; empty on the caption line
    QByteArray text; // the bytes after the stamp and its blank, as the program logged them
};
// A saved log: the caption, then stamped lines, each one quoted record on one file line with
// neither a quote nor a control byte in it; nullopt for any other file.
std::optional<QList<SavedLine>> savedLog(const QByteArray &file);

} // namespace Oracle
