// Lines received from the host end up in the log and in saved files: the saved file must
// hold every line, quoted and ended by CR LF, with its bytes unchanged.
#include "commlog.h"
#include "logfiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    CommLog log(8);
    QByteArray expected;
    // Lines are separated by 0xFF in the input, so one input makes several lines.
    for (const QByteArray &line : bytes.split('\xFF')) {
        log.appendLine(line);
        (void)log.displayText(log.lineCount() - 1);
    }
    for (int i = 0; i < log.lineCount(); ++i)
        expected += '"' + log.line(i) + "\"\r\n";
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QString error;
    if (!LogFiles::save(log, path, &error))
        std::abort();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != expected)
        std::abort();
    return 0;
}
