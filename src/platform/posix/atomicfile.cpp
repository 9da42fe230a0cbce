// Windows: a temporary file beside the target, FlushFileBuffers, then ReplaceFileW.

#include "platform/atomicfile.h"

#include "platform/safefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

AtomicFile::AtomicFile(const QString &path) : m_path(path) { }

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::open(QString *error)
{
    const QFileInfo info(m_path);
    if (!SafeFile::checkPath(info.absolutePath(), error) || !SafeFile::checkOwner(m_path, error))
        return false;
    m_temporary = QFile::encodeName(info.absolutePath() + QStringLiteral("/.")
                                    + info.fileName() + QStringLiteral(".kalo-XXXXXX"));
    // mkostemp makes the file with mode 0600 and O_EXCL: nothing else can be there or read it.
    m_fd = ::mkostemp(m_temporary.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_temporary.clear();
        *error = QStringLiteral("%1: %2").arg(m_path, SafeFile::systemReason(errno));
        return false;
    }
    m_problem.clear();
    return true;
}

bool AtomicFile::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (m_fd >= 0 && m_problem.isEmpty() && done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR)
            fail(errno);
    }
    return m_fd >= 0 && m_problem.isEmpty();
}

bool AtomicFile::commit(QString *error)
{
    if (m_fd < 0 && m_problem.isEmpty())
        m_problem = SafeFile::systemReason(EBADF);
    // A disk that filled up may say so only here.
    if (m_problem.isEmpty() && ::fsync(m_fd) != 0)
        fail(errno);
    if (m_problem.isEmpty()) {
        const int closed = ::close(m_fd);
        m_fd = -1;
        if (closed != 0)
            fail(errno);
    }
    if (m_problem.isEmpty()
        && ::rename(m_temporary.constData(), QFile::encodeName(m_path).constData()) != 0)
        fail(errno);
    if (!m_problem.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(m_path, m_problem);
        discard();
        return false;
    }
    m_temporary.clear();
    return true;
}

void AtomicFile::fail(int errorNumber)
{
    if (m_problem.isEmpty())
        m_problem = SafeFile::systemReason(errorNumber);
}

void AtomicFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    m_temporary.clear();
}
