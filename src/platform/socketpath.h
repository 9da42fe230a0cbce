#pragma once

#include <QString>

// The file of a Unix-domain socket that a run listens on. A run that was killed leaves its
// socket file behind, and the next one must not trip over it; but a socket someone still
// listens on, another user's socket, and any other file belong to someone else and are left
// alone, and so is a path through a link that others could have put there (see SafeFile).
namespace SocketPath {

// sockaddr_un holds 108 bytes, the path's closing NUL among them.
constexpr int kMaxPathBytes = 107;

// Makes path free for a new socket: nothing there, or a socket nobody listens on any more,
// which is removed. False with the reason for a path too long for a socket address, a socket
// that answers, or a file of any other kind.
bool claim(const QString &path, QString *error);

// A listening socket bound at path, made with mode 0600 from the start, so nobody else can
// connect even for a moment. QLocalServer's owner-only option binds under a longer temporary
// name first and fails for paths near the limit. The descriptor, or -1 with the reason.
int listenOwnerOnly(const QString &path, QString *error);

// Only the owner may connect: mode 0600, read back to make sure. False with the reason.
bool restrictToOwner(const QString &path, QString *error);

} // namespace SocketPath
