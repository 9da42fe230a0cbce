#include "log/logfiles.h"

#include "log/commlog.h"
#include "log/logtext.h"
#include "platform/appfolder.h"
#include "platform/atomicfile.h"
#include "platform/timestamp.h"

#include <QDir>
#include <QFileInfo>

namespace LogFiles {

namespace {
// One file line whatever the host sent: the record is closed by the only quote and the only
// CR LF in it, so bytes from the line can neither end it early nor forge a line after it.
void appendRecord(const CommLog::Parts &parts, QByteArray *out)
{
    out->append('"').append(parts.stamp);
    LogText::appendSaved(parts.head, out);
    LogText::appendSaved(parts.tail, out);
    out->append("\"\r\n");
}
} // namespace

QString proposedName(const QString &folder, const QDate &day)
{
    const QString base = QDir(folder).filePath(Stamp::dayCode(day));
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("%1-%2.txt").arg(base).arg(n);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

QString withTxtExtension(const QString &chosen)
{
    return chosen.endsWith(QLatin1String(".txt"), Qt::CaseSensitive) ? chosen
                                                                       : chosen + QLatin1String(".txt");
}

bool ensureFolder(const QString &folder, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    if (info.exists()) {
        *error = QStringLiteral("%1: %2").arg(folder, QObject::tr("a file of that name is in the way"));
        return false;
    }
    if (!AppFolder::makeOwnFolder(folder)) {
        *error = QStringLiteral("%1: %2").arg(folder, QObject::tr("the folder cannot be created"));
        return false;
    }
    return true;
}

bool save(const CommLog &log, const QString &path, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (AppFolder::isReadOnlyFile(path)) {
        *error = QStringLiteral("%1: %2").arg(path, QObject::tr("the file is read-only"));
        return false;
    }
    AtomicFile file(path);
    if (!file.open(error))
        return false;
    bool ok = true;
    // Written in chunks: a million-line log is not copied into one buffer first, and no
    // line is copied on its own on the way.
    constexpr qsizetype kChunkBytes = 1 << 16;
    QByteArray chunk;
    chunk.reserve(2 * kChunkBytes);
    for (int i = 0; ok && i < log.lineCount(); ++i) {
        appendRecord(log.parts(i), &chunk);
        if (chunk.size() >= kChunkBytes) {
            ok = file.write(chunk);
            chunk.truncate(0);
        }
    }
    if (ok && !chunk.isEmpty())
        file.write(chunk);
    return file.commit(error);
}

} // namespace LogFiles
