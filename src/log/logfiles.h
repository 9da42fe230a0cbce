#pragma once

#include <QDate>
#include <QString>

class CommLog;

// Saving the communication log as a text file: one quoted record per log line, CR LF, on one
// file line each; the bytes of a line are written as LogText::appendSaved() gives them.
namespace LogFiles {

inline QString folderName() { return QStringLiteral("LogData"); }

// folder/YYYYMMDD-N.txt with the first N (from 1) that names no existing file, so a gap
// left by a deleted file is filled first.
QString proposedName(const QString &folder, const QDate &day);

// The name to write: used as it is when it ends in ".txt" exactly, else with ".txt" added.
QString withTxtExtension(const QString &chosen);

// Makes sure folder exists; on failure error names it and says why.
bool ensureFolder(const QString &folder, QString *error);

// Writes the whole log atomically: the file is the complete log or stays as it was.
bool save(const CommLog &log, const QString &path, QString *error);

} // namespace LogFiles
