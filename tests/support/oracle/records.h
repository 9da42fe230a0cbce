#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// The two file formats as the README gives them, read and written by the tests themselves:
// settings records ("f1","f2",... CR LF, no escapes) and saved logs ("line" CR LF).
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
// A saved log: the caption, then stamped lines. A line holds any bytes, so one ends only
// where a quote, CR LF and the next stamped line (or the end of the file) follow.
std::optional<QList<SavedLine>> savedLog(const QByteArray &file);

} // namespace Oracle
