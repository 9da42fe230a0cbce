// Lines received from the host end up in the log and in saved files: the saved file must
// hold every line as one quoted record on one file line, which reads back through the
// profile notation to exactly the bytes of the line, whatever they are.
#include "log/commlog.h"
#include "log/logfiles.h"
#include "text/ansicodec.h"
#include "text/notation.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    CommLog log(8);
    // Lines are separated by 0xFF in the input, so one input makes several lines; a 0xFE
    // makes a line an exchange, the command before it and the answer after.
    for (const QByteArray &line : bytes.split('\xFF')) {
        const qsizetype arrow = line.indexOf('\xFE');
        if (arrow < 0)
            log.appendLine(line);
        else
            log.appendExchange(line.left(arrow), line.mid(arrow + 1));
        (void)log.displayText(log.lineCount() - 1);
    }
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QString error;
    if (!LogFiles::save(log, path, &error))
        std::abort();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        std::abort();
    QList<QByteArray> records = file.readAll().split('\n');
    if (records.takeLast() != QByteArray() || records.size() != log.lineCount())
        std::abort();
    for (int i = 0; i < log.lineCount(); ++i) {
        const QByteArray &record = records[i];
        if (record.size() < 3 || record.front() != '"' || !record.endsWith("\"\r"))
            std::abort();
        const CommLog::Parts parts = log.parts(i);
        const QByteArray text = record.mid(1 + parts.stamp.size(), record.size() - 3 - parts.stamp.size());
        for (const char c : text) {
            if (c == '"' || uchar(c) < 0x20)
                std::abort();
        }
        QByteArray back;
        QString why;
        if (!Profile::appendNotation(Ansi::decode(text), &back, &why)
            || back != parts.head.toByteArray() + parts.tail.toByteArray())
            std::abort();
    }
    return 0;
}
