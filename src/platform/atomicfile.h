#pragma once

#include <QByteArray>
#include <QString>

// A file written whole or not at all, as QSaveFile does, but safe in a folder others share:
// the new content goes into a fresh file of mode 0600 beside the old one, which replaces it
// by a rename only once every byte is on the disk. A link at the name is replaced, never
// followed; a file there of another user's, or a link on the way that others could have put
// there (see SafeFile), refuses the save. A full disk is an error like any other.
class AtomicFile
{
public:
    explicit AtomicFile(const QString &path);
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    ~AtomicFile();

    bool open(QString *error);
    // False from the first failure on; commit() then tells it.
    bool write(const QByteArray &bytes);
    // True when the file at the path is now the written one; else "path: reason".
    bool commit(QString *error);

private:
    void fail(int errorNumber);
    void discard();

    QString m_path;
    QByteArray m_temporary;
    QString m_problem;
    int m_fd = -1;
};
