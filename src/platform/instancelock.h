#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One running program per application folder, whichever front end it runs: a lock file
// that is stale only when its process is gone.
class InstanceLock
{
public:
    InstanceLock();
    ~InstanceLock();

    static QString fileName() { return QStringLiteral("kalo_rs232c.lock"); }

    // False only when another running program holds the folder. A folder where no lock
    // can be made does not keep the program out.
    bool acquire(const QString &appFolder);
    void release();

private:
    std::unique_ptr<QLockFile> m_lock;
};
