#pragma once

#include <QString>
#include <QStringList>

namespace AppFolder {

// The folder where the program keeps its settings files and LogData: the executable's own
// folder when the program may write there (a copy unpacked anywhere, the build tree), else
// the per-user application data folder, created on first use. An installed program (one
// with its data folder ../share/kalo_rs232c) always uses the per-user folder, so that
// root's settings do not land in /usr/bin. Empty when neither can be written; then each
// folder looked at, with why it would not do, is appended to refused.
QString resolve(const QString &executableFolder, QStringList *refused = nullptr);

// The data folder of an installed program, or an empty string for a copy that runs from
// its own folder.
QString installedDataFolder(const QString &executableFolder);

// True when a file can really be created in folder: permission bits say nothing for root
// or on a read-only mount, so this tries it.
bool isWritable(const QString &folder);

// Makes folder when it is missing and proves that a file can be created and removed in it,
// so that a save at the end of a long unattended run does not fail. A link on the way that
// others could have put there refuses it (see SafeFile). On failure error names the folder
// and the reason.
bool ensureWritableFolder(const QString &folder, QString *error);

// Makes folder (and what is missing above it) with mode 0700 for the folder itself.
bool makeOwnFolder(const QString &folder);

// True for an existing file whose permissions say nobody may write it. An atomic save
// replaces the file through a rename, which the file's own permissions would not stop.
bool isReadOnlyFile(const QString &path);

// The path of a file of the program in folder, with the separator of this system.
QString filePath(const QString &folder, const QString &fileName);

} // namespace AppFolder
