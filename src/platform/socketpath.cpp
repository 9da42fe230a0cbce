#include "socketpath.h"

#include <QFile>

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

// 0 when someone accepts connections at path, else the errno of the attempt.
int connectError(const QByteArray &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()) + 1);
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
        *error = QStringLiteral("%1: the stale socket cannot be removed: %2").arg(path, systemReason());
        return false;
    }
    return true;
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
