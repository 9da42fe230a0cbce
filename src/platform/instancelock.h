#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One running program per application folder, whichever front end it runs: a lock file
// that is stale only when its process is gone.
class InstanceLock
{
public:
    enum class Result {
        Acquired,
        HeldElsewhere, // another running program holds the folder
        Unavailable, // no lock file can be made there: the folder cannot hold files either
    };

    InstanceLock();
    ~InstanceLock();

    static QString fileName() { return QStringLiteral("kalo_rs232c.lock"); }

    // Unavailable counts as a refusal too: without a lock, two programs could share one
    // folder unseen. error says why for Unavailable.
    Result acquire(const QString &appFolder, QString *error = nullptr);
    void release();

private:
    std::unique_ptr<QLockFile> m_lock;
};
