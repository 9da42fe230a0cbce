#include "appfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace AppFolder {

bool isWritable(const QString &folder)
{
    if (folder.isEmpty() || !QDir(folder).exists())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".kalo-write-probe-XXXXXX")));
    return probe.open();
}

QString installedDataFolder(const QString &executableFolder)
{
    const QString data = QDir(executableFolder).filePath(QStringLiteral("../share/kalo_rs232c"));
    return QFileInfo(data).isDir() ? QDir(data).absolutePath() : QString();
}

QString resolve(const QString &executableFolder)
{
    if (installedDataFolder(executableFolder).isEmpty() && isWritable(executableFolder))
        return QDir(executableFolder).absolutePath();
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (perUser.isEmpty() || !QDir().mkpath(perUser) || !isWritable(perUser))
        return QString();
    return QDir(perUser).absolutePath();
}

bool isReadOnlyFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return false;
    const QFileDevice::Permissions writeBits =
            QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return (QFile::permissions(path) & writeBits) == 0;
}

QString filePath(const QString &folder, const QString &fileName)
{
    return QDir(folder).filePath(fileName);
}

} // namespace AppFolder
