// Windows: CreateFileW with FILE_FLAG_OPEN_REPARSE_POINT, owners from GetSecurityInfo.

#include "platform/safefile.h"

#include "platform/stoprequest.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {

namespace {
// As the kernel allows for one path.
constexpr int kMaxLinks = 40;
// How often a FIFO without a reader is tried again: short against a stop, long against a
// busy wait.
constexpr long kFifoRetryNs = 5'000'000;

bool ownedByUs(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// The links in /proc/PID/fd stand for open descriptors, not for paths: /dev/stdout ends here.
bool isDescriptorLink(const QString &path)
{
    static const QRegularExpression pattern(QStringLiteral("^/proc/[0-9]+/fd/[0-9]+$"));
    return pattern.match(path).hasMatch();
}

// Empty when the link at path may be followed, else why not.
QString linkProblem(const QString &path, const struct stat &link)
{
    if (!ownedByUs(link.st_uid))
        return QStringLiteral("a symbolic link owned by another user (uid %1); it is not followed")
                .arg(link.st_uid);
    struct stat folder {};
    const QString holder = folderOf(path);
    if (::stat(QFile::encodeName(holder).constData(), &folder) != 0)
        return systemReason(errno);
    if (!ownedByUs(folder.st_uid) || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("a symbolic link in %1, which others may write; it is not followed")
                .arg(holder);
    return QString();
}

QString joined(const QString &folder, const QString &name)
{
    return folder == QLatin1String("/") ? folder + name : folder + QLatin1Char('/') + name;
}

struct Walked
{
    QString path; // every link resolved, as far as the path exists
    bool descriptor = false; // path names an open descriptor of ours
};

// Walks path as the system would, judging each link before it is followed.
bool walk(const QString &path, Walked *walked, QString *error)
{
    const QString absolute =
            QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
    QStringList rest = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString done = QStringLiteral("/");
    int links = 0;
    while (!rest.isEmpty()) {
        const QString name = rest.takeFirst();
        if (name == QLatin1String("."))
            continue;
        if (name == QLatin1String("..")) {
            done = folderOf(done);
            continue;
        }
        const QString next = joined(done, name);
        struct stat status {};
        if (::lstat(QFile::encodeName(next).constData(), &status) != 0
            || !S_ISLNK(status.st_mode)) {
            // What does not exist (yet) holds no link; other problems are the open's to tell.
            done = next;
            continue;
        }
        const QString problem = linkProblem(next, status);
        if (!problem.isEmpty()) {
            const QString where = next == absolute
                    ? path
                    : QStringLiteral("%1 (on the way to %2)").arg(next, path);
            *error = QStringLiteral("%1: %2").arg(where, problem);
            return false;
        }
        if (isDescriptorLink(next)) {
            walked->path = next;
            walked->descriptor = true;
            if (rest.isEmpty())
                return true;
            *error = QStringLiteral("%1: %2").arg(path, systemReason(ENOTDIR));
            return false;
        }
        if (++links > kMaxLinks) {
            *error = QStringLiteral("%1: %2").arg(path, systemReason(ELOOP));
            return false;
        }
        const QByteArray raw = QFile::encodeName(next);
        char buffer[4096];
        const ssize_t n = ::readlink(raw.constData(), buffer, sizeof buffer);
        if (n <= 0 || size_t(n) >= sizeof buffer) {
            *error = QStringLiteral("%1: %2").arg(path, systemReason(n < 0 ? errno : ENAMETOOLONG));
            return false;
        }
        const QString pointed = QFile::decodeName(QByteArray(buffer, int(n)));
        if (pointed.startsWith(QLatin1Char('/')))
            done = QStringLiteral("/");
        rest = pointed.split(QLatin1Char('/'), Qt::SkipEmptyParts) + rest;
    }
    walked->path = done;
    return true;
}

// A FIFO opened for writing without blocking says ENXIO until a reader has it open.
int openWaitingForReader(const QByteArray &path, int flags)
{
    for (;;) {
        const int fd = ::open(path.constData(), flags, S_IRUSR | S_IWUSR);
        if (fd >= 0 || errno != ENXIO || StopRequest::raised())
            return fd;
        const timespec pause { 0, kFifoRetryNs };
        ::nanosleep(&pause, nullptr);
    }
}
} // namespace

QString systemReason(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

bool checkPath(const QString &path, QString *error)
{
    Walked walked;
    return walk(path, &walked, error);
}

bool checkOwner(const QString &path, QString *error)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return true;
    if (ownedByUs(status.st_uid))
        return true;
    *error = QStringLiteral("%1: belongs to another user (uid %2); it is left as it is")
                     .arg(path)
                     .arg(status.st_uid);
    return false;
}

int openStream(const QString &path, QString *error)
{
    Walked walked;
    if (!walk(path, &walked, error))
        return -1;
    const bool descriptor = walked.descriptor;
    if (!descriptor && !checkOwner(walked.path, error))
        return -1;
    // No O_TRUNC: a file is emptied only once it is known to be ours.
    const int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK | (descriptor ? 0 : O_CREAT | O_NOFOLLOW);
    const int fd = openWaitingForReader(QFile::encodeName(walked.path), flags);
    if (fd < 0) {
        *error = errno == ENXIO ? QString()
                                : QStringLiteral("%1: %2").arg(path, systemReason(errno));
        return -1;
    }
    struct stat status {};
    QString problem;
    if (::fstat(fd, &status) != 0)
        problem = systemReason(errno);
    else if (!descriptor && !ownedByUs(status.st_uid))
        problem = QStringLiteral("belongs to another user (uid %1)").arg(status.st_uid);
    else if (S_ISREG(status.st_mode) && ::ftruncate(fd, 0) != 0)
        problem = systemReason(errno);
    if (!problem.isEmpty()) {
        ::close(fd);
        *error = QStringLiteral("%1: %2").arg(path, problem);
        return -1;
    }
    return fd;
}

} // namespace SafeFile
