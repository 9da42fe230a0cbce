#include "records.h"

#include "notation.h"

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

namespace {
bool isLeadByte(uchar b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The bytes a record's text stands for: a lead byte takes the next byte with it whatever it
// is (a trail byte may be 5B), "[name]" is one byte; anything else is itself.
std::optional<QByteArray> fromNotation(const QByteArray &text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto b = uchar(text.at(i));
        if (b < 0x20 || b == '"' || b == 0x7F)
            return std::nullopt;
        if (isLeadByte(b) && i + 1 < text.size()) {
            bytes += text.mid(i++, 2);
        } else if (b == '[') {
            const qsizetype close = text.indexOf(']', i);
            const int named = close < 0 ? -1 : namedByte(QString::fromLatin1(text.mid(i + 1, close - i - 1)));
            if (named < 0)
                return std::nullopt;
            bytes += char(named);
            i = close;
        } else {
            bytes += char(b);
        }
    }
    return bytes;
}
} // namespace

std::optional<QList<SavedLine>> savedLog(const QByteArray &file)
{
    static const QRegularExpression stamp(
        QStringLiteral("^\\[\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\] "));
    if (!file.endsWith("\r\n"))
        return std::nullopt;
    QList<QByteArray> records = file.split('\n');
    records.removeLast(); // what follows the last CR LF: nothing
    QList<SavedLine> lines;
    for (const QByteArray &record : std::as_const(records)) {
        if (record.size() < 3 || !record.startsWith('"') || !record.endsWith("\"\r"))
            return std::nullopt;
        const QByteArray line = record.mid(1, record.size() - 3);
        const bool stamped = !lines.isEmpty();
        if (stamped && !stamp.match(QString::fromLatin1(line.left(22))).hasMatch())
            return std::nullopt;
        const std::optional<QByteArray> text = fromNotation(stamped ? line.mid(22) : line);
        if (!text)
            return std::nullopt;
        lines.append({ stamped ? line.left(21) : QByteArray(), *text });
    }
    return lines;
}

} // namespace Oracle
