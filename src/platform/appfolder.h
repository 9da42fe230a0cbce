#pragma once

#include <QString>

namespace AppFolder {

// The folder where the program keeps its settings files and LogData: the executable's own
// folder when the program may write there (a copy unpacked anywhere, the build tree), else
// the per-user application data folder (a system-wide install), created on first use.
// Returns an empty string when neither can be written.
QString resolve(const QString &executableFolder);

// True when a file can really be created in folder: permission bits say nothing for root
// or on a read-only mount, so this tries it.
bool isWritable(const QString &folder);

// True for an existing file whose permissions say nobody may write it. An atomic save
// replaces the file through a rename, which the file's own permissions would not stop.
bool isReadOnlyFile(const QString &path);

// The path of a file of the program in folder, with the separator of this system.
QString filePath(const QString &folder, const QString &fileName);

} // namespace AppFolder
