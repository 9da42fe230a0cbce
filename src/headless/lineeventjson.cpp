#include "headless/lineeventjson.h"

#include "log/logtext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace LineEventJson {

namespace {
QJsonObject header(const QString &kind, qint64 tNs, const QString &time)
{
    return QJsonObject {
        { QStringLiteral("v"), kVersion },
        { QStringLiteral("kind"), kind },
        { QStringLiteral("t_ns"), tNs },
        { QStringLiteral("time"), time },
    };
}

void putBytes(QJsonObject &object, const QString &prefix, const QByteArray &bytes)
{
    object.insert(prefix + QStringLiteral("hex"), QString::fromLatin1(bytes.toHex()));
    object.insert(prefix + QStringLiteral("text"), bytesText(bytes));
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A JSON number in QJsonValue is at most a qint64, and a drawn seed uses all 64 bits. The seed
// must come out exactly, or --seed would not repeat the run, so its digits are put in the text.
// The key can occur only once: inside a string its quotes would be escaped.
QByteArray withSeed(const QJsonObject &object, quint64 seed)
{
    QByteArray text = compact(object);
    const QByteArray placeholder = QByteArrayLiteral("\"seed\":0");
    return text.replace(text.indexOf(placeholder), placeholder.size(),
                        QByteArrayLiteral("\"seed\":") + QByteArray::number(seed));
}
} // namespace

QString kindName(LineEvent::Kind kind)
{
    switch (kind) {
    case LineEvent::Kind::Start:
        return QStringLiteral("start");
    case LineEvent::Kind::Stop:
        return QStringLiteral("stop");
    case LineEvent::Kind::Received:
        return QStringLiteral("received");
    case LineEvent::Kind::Sent:
        return QStringLiteral("sent");
    case LineEvent::Kind::Answer:
        return QStringLiteral("answer");
    case LineEvent::Kind::Unanswered:
        return QStringLiteral("unanswered");
    case LineEvent::Kind::ScriptError:
        return QStringLiteral("script_error");
    case LineEvent::Kind::Fault:
        return QStringLiteral("fault");
    case LineEvent::Kind::Port:
        return QStringLiteral("port");
    case LineEvent::Kind::DroppedOutput:
        return QStringLiteral("dropped_output");
    case LineEvent::Kind::Refused:
        return QStringLiteral("refused");
    case LineEvent::Kind::Load:
        return QStringLiteral("load");
    case LineEvent::Kind::LogNotSaved:
        return QStringLiteral("log_not_saved");
    case LineEvent::Kind::LineSettings:
        return QStringLiteral("line_settings");
    case LineEvent::Kind::HostLines:
        return QStringLiteral("host_lines");
    case LineEvent::Kind::Break:
        return QStringLiteral("break");
    case LineEvent::Kind::Flow:
        return QStringLiteral("flow");
    case LineEvent::Kind::Overrun:
        return QStringLiteral("overrun");
    case LineEvent::Kind::BreakSent:
        return QStringLiteral("break_sent");
    }
    return QString();
}

QString bytesText(const QByteArray &bytes)
{
    return LogText::shown(bytes);
}

QByteArray line(const LineEvent &event, qint64 runStartNs, const QString &time)
{
    QJsonObject object = header(kindName(event.kind), event.atNs - runStartNs, time);
    switch (event.kind) {
    case LineEvent::Kind::Start:
    case LineEvent::Kind::Load:
        object.insert(QStringLiteral("profile"), orNull(event.profile));
        if (!event.seed) {
            object.insert(QStringLiteral("seed"), QJsonValue::Null);
            break;
        }
        object.insert(QStringLiteral("seed"), 0);
        return withSeed(object, *event.seed);
    case LineEvent::Kind::Stop:
        break;
    case LineEvent::Kind::Received:
    case LineEvent::Kind::Sent:
    case LineEvent::Kind::Overrun:
        putBytes(object, QString(), event.bytes);
        break;
    case LineEvent::Kind::Unanswered:
        putBytes(object, QString(), event.bytes);
        if (!event.rule.isEmpty() && event.message.isEmpty())
            object.insert(QStringLiteral("budget_rule"), event.rule);
        if (!event.message.isEmpty()) {
            object.insert(QStringLiteral("rule"), event.rule);
            object.insert(QStringLiteral("reason"), event.message);
        }
        break;
    case LineEvent::Kind::ScriptError:
        object.insert(QStringLiteral("where"), event.rule);
        object.insert(QStringLiteral("message"), event.message);
        break;
    case LineEvent::Kind::Answer:
    case LineEvent::Kind::Refused:
        putBytes(object, QStringLiteral("command_"), event.command);
        putBytes(object, QString(), event.bytes);
        object.insert(QStringLiteral("rule"), event.rule);
        object.insert(QStringLiteral("faults"), QJsonArray::fromStringList(event.faults));
        if (event.kind == LineEvent::Kind::Refused)
            object.insert(QStringLiteral("reason"), event.message);
        break;
    case LineEvent::Kind::Fault:
        object.insert(QStringLiteral("rule"), event.rule);
        object.insert(QStringLiteral("faults"), QJsonArray::fromStringList(event.faults));
        object.insert(QStringLiteral("command_hex"), QString::fromLatin1(event.command.toHex()));
        break;
    case LineEvent::Kind::Port:
    case LineEvent::Kind::LogNotSaved:
        object.insert(QStringLiteral("message"), event.message);
        break;
    case LineEvent::Kind::LineSettings:
        object.insert(QStringLiteral("host"), event.hostLine);
        object.insert(QStringLiteral("instrument"), event.instrumentLine);
        object.insert(QStringLiteral("agree"), event.agree);
        break;
    case LineEvent::Kind::Break:
    case LineEvent::Kind::BreakSent:
        object.insert(QStringLiteral("ms"), event.count);
        break;
    case LineEvent::Kind::Flow:
        object.insert(QStringLiteral("signal"), event.message);
        object.insert(QStringLiteral("fill"), event.count);
        object.insert(QStringLiteral("buffer"), event.size);
        break;
    case LineEvent::Kind::HostLines:
        object.insert(QStringLiteral("dtr"), event.dtr);
        object.insert(QStringLiteral("rts"), event.rts);
        break;
    case LineEvent::Kind::DroppedOutput:
        object.insert(QStringLiteral("bytes"), event.count);
        object.insert(QStringLiteral("device"), event.message);
        break;
    }
    return compact(object);
}

QByteArray skippedLine(qint64 count, qint64 tNs, const QString &time)
{
    QJsonObject object = header(QStringLiteral("skipped"), tNs, time);
    object.insert(QStringLiteral("count"), count);
    return compact(object);
}

} // namespace LineEventJson
