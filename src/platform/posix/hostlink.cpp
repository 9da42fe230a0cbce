// Windows: no pseudo-terminals to link; com0com ports keep the names they were given.

#include "platform/hostlink.h"

#include "platform/safefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

enum class Occupant { Nothing, StaleLink, LiveLink, Other, Unknown };

// File times move in steps of a few milliseconds: a link made in the same step as its pty
// counts as made after it.
bool notLater(const timespec &a, const timespec &b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec <= b.tv_nsec);
}

// A killed run's link points to its pty, which is gone; soon the system gives that number to
// another terminal, and the link points to that one. Both are stale. A pty exists only while
// some program holds its master, and is made when the master is opened: one made before the
// link is the one the link was made for, so the run that made it is still there. A link to
// anything else (a real adapter, a file) was set up by someone on purpose.
Occupant occupant(const QByteArray &path)
{
    struct stat link {};
    if (::lstat(path.constData(), &link) != 0)
        return errno == ENOENT ? Occupant::Nothing : Occupant::Unknown;
    if (!S_ISLNK(link.st_mode))
        return Occupant::Other;
    struct stat pty {};
    if (::stat(path.constData(), &pty) != 0 && errno == ENOENT)
        return Occupant::StaleLink;
    const QString target = QFileInfo(QFile::decodeName(path)).symLinkTarget();
    if (!target.startsWith(QLatin1String("/dev/pts/")))
        return Occupant::Other;
    return notLater(pty.st_ctim, link.st_ctim) ? Occupant::LiveLink : Occupant::StaleLink;
}
} // namespace

bool HostLink::check(const QString &path, QString *error)
{
    const QByteArray encoded = QFile::encodeName(path);
    const QString folder = QFileInfo(path).absolutePath();
    // The link itself is replaced, never followed; the folders on the way are.
    if (!SafeFile::checkPath(folder, error) || !SafeFile::checkOwner(path, error)) {
        error->prepend(QStringLiteral("--host-link: "));
        return false;
    }
    switch (occupant(encoded)) {
    case Occupant::Nothing:
        if (QFileInfo(folder).isDir())
            return true;
        *error = QStringLiteral("--host-link: %1: no such folder").arg(folder);
        return false;
    case Occupant::StaleLink:
        return true;
    case Occupant::LiveLink:
        *error = QStringLiteral("--host-link: %1 points at %2, which a running program holds "
                                "open; it is left as it is")
                         .arg(path, QFileInfo(path).symLinkTarget());
        return false;
    case Occupant::Other:
        *error = QStringLiteral("--host-link: %1 exists and is no link to a pseudo-terminal; it is "
                                "left as it is")
                         .arg(path);
        return false;
    case Occupant::Unknown:
        break;
    }
    *error = QStringLiteral("--host-link: %1: %2").arg(path, systemReason());
    return false;
}

bool HostLink::make(const QString &path, const QString &target, QString *error)
{
    if (!check(path, error))
        return false;
    const QByteArray encoded = QFile::encodeName(path);
    const QByteArray encodedTarget = QFile::encodeName(target);
    // A fresh name beside the old link, renamed over it, so the name never points nowhere.
    const QByteArray fresh = encoded + ".kalo-" + QByteArray::number(qint64(::getpid()));
    ::unlink(fresh.constData());
    if (::symlink(encodedTarget.constData(), fresh.constData()) != 0
        || ::rename(fresh.constData(), encoded.constData()) != 0) {
        *error = QStringLiteral("--host-link: %1: %2").arg(path, systemReason());
        ::unlink(fresh.constData());
        return false;
    }
    m_path = path;
    m_target = target;
    return true;
}

void HostLink::remove()
{
    if (m_path.isEmpty())
        return;
    if (QFileInfo(m_path).symLinkTarget() == QFileInfo(m_target).absoluteFilePath())
        QFile::remove(m_path);
    m_path.clear();
}
