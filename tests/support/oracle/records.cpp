#include "records.h"

#include <QRegularExpression>
#include <QString>

namespace Oracle {

QByteArray record(const Record &fields)
{
    QByteArray bytes;
    for (const QByteArray &field : fields)
        bytes += (bytes.isEmpty() ? "\"" : ",\"") + field + '"';
    return bytes + "\r\n";
}

// Latin-1 keeps one character per byte, so positions in the text are positions in the file.
std::optional<QList<Record>> records(const QByteArray &file)
{
    static const QRegularExpression recordPattern(
        QStringLiteral("\\G\"[^\"]*\"(?:,\"[^\"]*\")*\r\n"));
    static const QRegularExpression fieldPattern(QStringLiteral("\"([^\"]*)\""));
    const QString text = QString::fromLatin1(file);
    QList<Record> all;
    qsizetype at = 0;
    while (at < text.size()) {
        const QRegularExpressionMatch line = recordPattern.match(text, at);
        if (!line.hasMatch())
            return std::nullopt;
        Record fields;
        auto it = fieldPattern.globalMatch(line.captured());
        while (it.hasNext())
            fields.append(it.next().captured(1).toLatin1());
        all.append(fields);
        at = line.capturedEnd();
    }
    return all;
}

std::optional<QList<SavedLine>> savedLog(const QByteArray &file)
{
    static const QRegularExpression lineEnd(
        QStringLiteral("\"\r\n(?=\"\\[\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\] |\\z)"));
    const QString text = QString::fromLatin1(file);
    QList<SavedLine> lines;
    qsizetype at = 0;
    while (at < text.size()) {
        const QRegularExpressionMatch end = lineEnd.match(text, at);
        if (!end.hasMatch() || text.at(at) != QLatin1Char('"'))
            return std::nullopt;
        const QByteArray line = file.mid(at + 1, end.capturedStart() - at - 1);
        if (lines.isEmpty())
            lines.append({ QByteArray(), line });
        else
            lines.append({ line.left(21), line.mid(22) });
        at = end.capturedEnd();
    }
    return lines;
}

} // namespace Oracle
