#include "instancelock.h"

#include "appfolder.h"

#include <QLockFile>

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;

bool InstanceLock::acquire(const QString &appFolder)
{
    m_lock = std::make_unique<QLockFile>(AppFolder::filePath(appFolder, fileName()));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0) && m_lock->error() == QLockFile::LockFailedError) {
        m_lock.reset();
        return false;
    }
    return true;
}

void InstanceLock::release()
{
    if (m_lock)
        m_lock->unlock();
}
