#pragma once

#include <QString>

// Paths the program writes to on a machine it shares with other users. A symbolic link is
// followed only when nobody else could have put it there: the link belongs to us (or root)
// and the folder holding it belongs to us (or root) and nobody else may write it. So a link
// planted in /tmp cannot send our files into a file of someone else's choosing, while the
// links a user keeps in their own folders, and /dev/stdout or /dev/fd/N, work as ever. A file
// that is already there is written only when it is ours.
namespace SafeFile {

// True when path may be used: every link on the way to it may be followed. Else false with
// "path: reason".
bool checkPath(const QString &path, QString *error);

// True when whatever is at path is ours (or root's), or nothing is there. Else false with
// "path: reason".
bool checkOwner(const QString &path, QString *error);

// Opens path for a stream of lines: a new file is made with mode 0600 whatever the umask, a
// file of ours is emptied, a FIFO waits for its reader until one comes or a stop is requested
// (StopRequest). The descriptor is non-blocking. -1 on failure, with "path: reason" in error,
// or with an empty error after a stop.
int openStream(const QString &path, QString *error);

// The system's text for errno, for "path: reason" messages.
QString systemReason(int errorNumber);

} // namespace SafeFile
