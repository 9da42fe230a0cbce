#include "platform/appfolder.h"

#include "platform/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace AppFolder {

namespace {
// Empty when a file can be created in folder (and is gone again), else the system's reason.
QString probeProblem(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".kalo-write-probe-XXXXXX")));
    return probe.open() ? QString() : probe.errorString();
}

// Why no file can be created in folder, or empty when one can.
QString writeProblem(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("no such folder");
    const QString problem = probeProblem(folder);
    return problem.isEmpty() ? QString()
                             : QStringLiteral("no file can be written there: %1").arg(problem);
}

// Why folder could not be made: told by the nearest part of its path that exists.
QString makeProblem(const QString &folder)
{
    QFileInfo above(QFileInfo(folder).absoluteFilePath());
    while (!above.exists() && !above.isRoot())
        above = QFileInfo(above.absolutePath());
    if (!above.isDir())
        return QStringLiteral("cannot be made: %1 is not a folder").arg(above.absoluteFilePath());
    const QString problem = probeProblem(above.absoluteFilePath());
    return QStringLiteral("cannot be made in %1: %2")
            .arg(above.absoluteFilePath(),
                 problem.isEmpty() ? QStringLiteral("unknown reason") : problem);
}
} // namespace

bool isWritable(const QString &folder)
{
    if (folder.isEmpty() || !QDir(folder).exists())
        return false;
    return probeProblem(folder).isEmpty();
}

bool makeOwnFolder(const QString &folder)
{
    // The logs in it carry what crossed the line: others may neither read them nor take them
    // away, whatever the umask.
    return QDir().mkpath(folder)
            && QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner
                                                     | QFile::ExeOwner);
}

bool ensureWritableFolder(const QString &folder, QString *error)
{
    // A link others could have put there would send the logs where they chose; a folder of
    // theirs would let them take the logs away or put others in their place.
    if (!SafeFile::checkPath(folder, error) || !SafeFile::checkOwner(folder, error))
        return false;
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        *error = QStringLiteral("%1: a file of that name is in the way").arg(folder);
        return false;
    }
    if (!info.exists() && !makeOwnFolder(folder)) {
        // The parent refuses the new folder for the same reason it would refuse a file.
        const QString reason = probeProblem(info.absolutePath());
        *error = QStringLiteral("%1: the folder cannot be made (%2)")
                         .arg(folder, reason.isEmpty() ? QStringLiteral("unknown reason") : reason);
        return false;
    }
    const QString reason = probeProblem(folder);
    if (!reason.isEmpty()) {
        *error = QStringLiteral("%1: no file can be written there (%2)").arg(folder, reason);
        return false;
    }
    return true;
}

QString installedDataFolder(const QString &executableFolder)
{
    const QString data = QDir(executableFolder).filePath(QStringLiteral("../share/kalo_rs232c"));
    return QFileInfo(data).isDir() ? QDir(data).absolutePath() : QString();
}

QString resolve(const QString &executableFolder, QStringList *refused)
{
    QStringList reasons;
    const QString beside = QDir(executableFolder).absolutePath();
    if (!installedDataFolder(executableFolder).isEmpty()) {
        reasons.append(QStringLiteral("%1 (an installed program keeps its settings per user)")
                               .arg(beside));
    } else {
        const QString problem = writeProblem(beside);
        if (problem.isEmpty())
            return beside;
        reasons.append(QStringLiteral("%1 (%2)").arg(beside, problem));
    }
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (perUser.isEmpty()) {
        reasons.append(QStringLiteral("no per-user data folder (neither HOME nor XDG_DATA_HOME "
                                      "names one)"));
    } else {
        const QString problem = QDir().mkpath(perUser) ? writeProblem(perUser)
                                                       : makeProblem(perUser);
        if (problem.isEmpty())
            return QDir(perUser).absolutePath();
        reasons.append(QStringLiteral("%1 (%2)").arg(QDir(perUser).absolutePath(), problem));
    }
    if (refused)
        refused->append(reasons);
    return QString();
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
