#include "platform/instancelock.h"

#include "platform/appfolder.h"

#include <QLockFile>

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;

InstanceLock::Result InstanceLock::acquire(const QString &appFolder, QString *error)
{
    const QString path = AppFolder::filePath(appFolder, fileName());
    m_lock = std::make_unique<QLockFile>(path);
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return Result::Acquired;
    const QLockFile::LockError reason = m_lock->error();
    m_lock.reset();
    if (reason == QLockFile::LockFailedError)
        return Result::HeldElsewhere;
    if (error) {
        *error = QStringLiteral("%1: the lock file cannot be made (%2)")
                         .arg(path, reason == QLockFile::PermissionError
                                            ? QStringLiteral("no permission, or a read-only file system")
                                            : QStringLiteral("the folder cannot take a file"));
    }
    return Result::Unavailable;
}

void InstanceLock::release()
{
    if (m_lock)
        m_lock->unlock();
}
