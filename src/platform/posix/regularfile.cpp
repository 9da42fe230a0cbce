// Windows: CreateFileW, then GetFileType() == FILE_TYPE_DISK and GetFileSizeEx.

#include "platform/regularfile.h"

#include <QFile>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString sizeText(qint64 bytes)
{
    if (bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    return QStringLiteral("%1 bytes").arg(bytes);
}

// Closes the descriptor on every way out.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
} // namespace

namespace RegularFile {

bool read(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *error)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    Descriptor file;
    file.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) {
        *error = systemReason();
        return false;
    }
    struct stat status {};
    if (::fstat(file.fd, &status) != 0) {
        *error = systemReason();
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = S_ISDIR(status.st_mode) ? QStringLiteral("a folder, not a file")
                                          : QStringLiteral("not a regular file");
        return false;
    }
    const QString tooLarge = QStringLiteral("larger than %1").arg(sizeText(maxBytes));
    if (status.st_size > maxBytes) {
        *error = tooLarge;
        return false;
    }
    // The file may grow while it is read: one byte past the bound is enough to refuse it.
    QByteArray content(qsizetype(status.st_size) + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == content.size()) {
            if (content.size() > maxBytes) {
                *error = tooLarge;
                return false;
            }
            content.resize(std::min<qsizetype>(qsizetype(maxBytes) + 1, content.size() * 2));
        }
        const ssize_t n = ::read(file.fd, content.data() + filled, size_t(content.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = systemReason();
            return false;
        }
        if (n == 0)
            break;
        filled += n;
    }
    if (filled > maxBytes) {
        *error = tooLarge;
        return false;
    }
    content.truncate(filled);
    *bytes = std::move(content);
    return true;
}

} // namespace RegularFile
