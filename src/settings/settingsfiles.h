#pragma once

#include "settings/settingsrecords.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Reading and writing the settings files of the application folder.
namespace SettingsFiles {

// Files larger than this are not settings files; reading stops there instead of
// taking whatever a hand edit or a wrong copy put in the folder into memory.
constexpr qint64 kMaxFileSize = 1 << 20;

// The whole file, or nothing when it is missing or unreadable.
std::optional<QByteArray> readFile(const QString &path);

// Writes one record as the whole file, atomically: afterwards the file holds either the
// old contents or the new record, never part of it. On failure error names the file and
// the system's reason.
bool writeRecordFile(const QString &path, const QList<QByteArray> &fields, QString *error);

// Writes several record files as one change: every file is prepared in full before the
// first one replaces its old version, so a failure in preparing (read-only file, full
// disk) leaves all of them as they were. On failure error names the file and the reason.
struct RecordFile
{
    QString path;
    QList<QByteArray> fields;
};
bool writeRecordFiles(const QList<RecordFile> &files, QString *error);

// The fields of each record, in file order, as pointers for RecordFormat::Reader.
QList<QString *> fieldsOf(CommSettings &s);
QList<QString *> fieldsOf(ProtocolSettings &s);
QList<QByteArray *> fieldsOf(DeviceCommandTable &t);

// Field values for writing; text fields in code page 932. Returns false (and names the
// unmappable characters) when a text cannot be stored in the code page.
bool encodeFields(const QList<const QString *> &texts, QList<QByteArray> *out,
                  QString *unmappable = nullptr);
QList<const QString *> constFieldsOf(const CommSettings &s);
QList<const QString *> constFieldsOf(const ProtocolSettings &s);
QList<QByteArray> fieldValues(const DeviceCommandTable &t);

// The data without a UTF-8 byte-order mark in front, which hand edits sometimes add.
QByteArray withoutByteOrderMark(const QByteArray &data);

// Reads text records from data into fields, record after record until the data ends,
// so the last complete or partial record is in force. Returns the number of records.
// Text is code page 932; data that starts with a UTF-8 byte-order mark is read as UTF-8.
int readTextRecords(const QByteArray &data, const QList<QString *> &fields, bool firstOnly);

} // namespace SettingsFiles
