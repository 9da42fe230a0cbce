// Windows: a named pipe (\\.\pipe\...), kept to its owner by its ACL, not a file mode.

#include "platform/socketpath.h"

#include "platform/safefile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace SocketPath {

namespace {
QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

sockaddr_un addressOf(const QByteArray &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(),
                size_t(std::min<qsizetype>(path.size(), kMaxPathBytes)));
    return address;
}

// 0 when someone accepts connections at path, else the errno of the attempt.
int connectError(const QByteArray &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const sockaddr_un address = addressOf(path);
    const int result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    const int error = result == 0 ? 0 : errno;
    ::close(fd);
    return error;
}
} // namespace

bool claim(const QString &path, QString *error)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() > kMaxPathBytes) {
        *error = QStringLiteral("%1: %2 bytes long; a socket's path holds at most %3")
                         .arg(path).arg(encoded.size()).arg(kMaxPathBytes);
        return false;
    }
    if (!SafeFile::checkPath(path, error))
        return false;
    struct stat status {};
    if (::lstat(encoded.constData(), &status) != 0) {
        if (errno == ENOENT)
            return true;
        *error = QStringLiteral("%1: %2").arg(path, systemReason());
        return false;
    }
    if (!S_ISSOCK(status.st_mode)) {
        *error = QStringLiteral("%1 exists and is no socket; it is left as it is").arg(path);
        return false;
    }
    // Another user's socket is theirs to remove, whether anyone listens on it or not.
    if (!SafeFile::checkOwner(path, error))
        return false;
    const int refused = connectError(encoded);
    if (refused == 0) {
        *error = QStringLiteral("%1: another program listens on this socket").arg(path);
        return false;
    }
    if (refused != ECONNREFUSED) {
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(refused)));
        return false;
    }
    if (::unlink(encoded.constData()) != 0 && errno != ENOENT) {
        *error = QStringLiteral("%1: the stale socket cannot be removed: %2")
                         .arg(path, systemReason());
        return false;
    }
    return true;
}

int listenOwnerOnly(const QString &path, QString *error)
{
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = QStringLiteral("%1: %2").arg(path, systemReason());
        return -1;
    }
    const sockaddr_un address = addressOf(encoded);
    // The mask belongs to the process; no other thread makes files while the run starts.
    const mode_t savedMask = ::umask(S_IRWXG | S_IRWXO | S_IXUSR);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    const int bindError = errno;
    ::umask(savedMask);
    if (bound != 0 || ::listen(fd, SOMAXCONN) != 0) {
        errno = bound != 0 ? bindError : errno;
        *error = QStringLiteral("%1: %2").arg(path, systemReason());
        ::close(fd);
        if (bound == 0)
            ::unlink(encoded.constData());
        return -1;
    }
    return fd;
}

bool restrictToOwner(const QString &path, QString *error)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat status {};
    if (::chmod(encoded.constData(), S_IRUSR | S_IWUSR) != 0
        || ::lstat(encoded.constData(), &status) != 0) {
        *error = QStringLiteral("%1: %2").arg(path, systemReason());
        return false;
    }
    if ((status.st_mode & 07777) != (S_IRUSR | S_IWUSR)) {
        *error = QStringLiteral("%1: mode %2 instead of 600")
                         .arg(path)
                         .arg(status.st_mode & 07777, 0, 8);
        return false;
    }
    return true;
}

} // namespace SocketPath
