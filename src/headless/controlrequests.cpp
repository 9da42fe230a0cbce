#include "headless/controlrequests.h"

#include "profile/faults.h"
#include "profile/responder.h"
#include "session/commsession.h"
#include "text/ansicodec.h"
#include "text/notation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

namespace {
const QString kOk = QStringLiteral("ok");
const QString kRequests = QStringLiteral("one of set, call, fault, load, send, break, lines, counters, stop");
const QString kFaults = QStringLiteral("one of drop, truncate, corrupt, duplicate, garbage");

QString outsideCodePage(const QString &key, const QString &characters)
{
    return QStringLiteral("\"%1\" has characters outside code page 932: %2").arg(key, characters);
}

QJsonObject ok()
{
    return QJsonObject { { kOk, true } };
}

QJsonObject failed(const QString &error)
{
    return QJsonObject { { kOk, false }, { QStringLiteral("error"), error } };
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The string field key, or nothing with the reason in error.
std::optional<QString> stringField(const QJsonObject &request, const QString &key, QString *error)
{
    const QJsonValue value = request.value(key);
    if (!value.isString()) {
        *error = value.isUndefined() ? QStringLiteral("\"%1\" is missing").arg(key)
                                     : QStringLiteral("\"%1\" must be a string").arg(key);
        return std::nullopt;
    }
    return value.toString();
}

// Strict where QByteArray::fromHex is lenient: a typo must not send other bytes.
std::optional<QByteArray> hexBytes(const QString &hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : hex) {
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            && !(c >= QLatin1Char('A') && c <= QLatin1Char('F')))
            return std::nullopt;
    }
    return QByteArray::fromHex(hex.toLatin1());
}

// What a line that parsed as JSON but is no object holds, for the reason of its refusal.
// Qt parses only objects and arrays at the top, so a lone value is parsed as an array's.
QString whatIsNoObject(const QByteArray &line, const QJsonDocument &document)
{
    if (document.isArray())
        return QStringLiteral("an array");
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + line + ']');
    if (!wrapped.isArray() || wrapped.array().size() != 1)
        return QString();
    switch (wrapped.array().first().type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    default:
        return QString();
    }
}
} // namespace

QByteArray ControlRequests::errorLine(const QString &error)
{
    return compact(failed(error));
}

ControlRequests::Reply ControlRequests::handle(const QByteArray &line)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (!document.isObject()) {
        const QString value = whatIsNoObject(line, document);
        if (!value.isEmpty())
            return { errorLine(QStringLiteral("a request is a JSON object, not %1").arg(value)) };
        return { errorLine(QStringLiteral("not JSON: %1 at offset %2")
                                   .arg(parseError.errorString())
                                   .arg(parseError.offset)) };
    }
    const QJsonObject request = document.object();
    const QString command = request.value(QStringLiteral("cmd")).toString();
    if (command == QLatin1String("set"))
        return { compact(set(request)) };
    if (command == QLatin1String("call"))
        return { compact(call(request)) };
    if (command == QLatin1String("fault"))
        return { compact(fault(request)) };
    if (command == QLatin1String("load"))
        return load(request);
    if (command == QLatin1String("send"))
        return { compact(send(request)) };
    if (command == QLatin1String("lines"))
        return { compact(lines(request)) };
    if (command == QLatin1String("break"))
        return { compact(sendBreak(request)) };
    if (command == QLatin1String("counters"))
        return { compact(counters()) };
    if (command == QLatin1String("stop"))
        return { compact(ok()), true };
    if (command.isEmpty())
        return { errorLine(QStringLiteral("\"cmd\" is missing; ") + kRequests) };
    return { errorLine(QStringLiteral("unknown cmd \"%1\"; %2").arg(command, kRequests)) };
}

QJsonObject ControlRequests::set(const QJsonObject &request)
{
    QString error;
    const std::optional<QString> name = stringField(request, QStringLiteral("name"), &error);
    if (!name)
        return failed(error);
    // A number stays a number: a binary format writes it as one.
    const QJsonValue number = request.value(QStringLiteral("value"));
    std::optional<QString> value;
    if (!number.isDouble())
        value = stringField(request, QStringLiteral("value"), &error);
    if (!number.isDouble() && !value)
        return failed(error);
    Profile::Responder *player = m_session.responder();
    if (!player)
        return failed(QStringLiteral("no profile is playing"));
    Profile::ScriptValue setTo = Profile::ScriptValue::ofNumber(number.toDouble());
    if (value) {
        QByteArray bytes;
        if (!Ansi::encode(*value, &bytes, &error))
            return failed(outsideCodePage(QStringLiteral("value"), error));
        setTo = Profile::ScriptValue::ofBytes(bytes);
    }
    if (!player->setValue(*name, setTo, &error))
        return failed(error);
    return ok();
}

namespace {
std::optional<Profile::ScriptValue> scriptValueOf(const QJsonValue &json)
{
    switch (json.type()) {
    case QJsonValue::Null:
        return Profile::ScriptValue();
    case QJsonValue::Bool:
        return Profile::ScriptValue::ofBoolean(json.toBool());
    case QJsonValue::Double:
        return Profile::ScriptValue::ofNumber(json.toDouble());
    case QJsonValue::String:
        return Profile::ScriptValue::ofBytes(json.toString().toUtf8());
    default:
        return std::nullopt;
    }
}

QJsonValue jsonOf(const Profile::ScriptValue &value)
{
    switch (value.type) {
    case Profile::ScriptValue::Type::Nil:
        return QJsonValue::Null;
    case Profile::ScriptValue::Type::Boolean:
        return value.boolean;
    case Profile::ScriptValue::Type::Number:
        return value.number;
    case Profile::ScriptValue::Type::Bytes:
        break;
    }
    return QString::fromUtf8(value.bytes);
}
} // namespace

QJsonObject ControlRequests::call(const QJsonObject &request)
{
    QString error;
    const std::optional<QString> function = stringField(request, QStringLiteral("function"), &error);
    if (!function)
        return failed(error);
    const QJsonValue argsValue = request.value(QStringLiteral("args"));
    if (!argsValue.isUndefined() && !argsValue.isArray())
        return failed(QStringLiteral("\"args\" must be an array"));
    std::vector<Profile::ScriptValue> args;
    for (const QJsonValue &arg : argsValue.toArray()) {
        const std::optional<Profile::ScriptValue> converted = scriptValueOf(arg);
        if (!converted)
            return failed(QStringLiteral("\"args\" holds strings, numbers, booleans and null"));
        args.push_back(*converted);
    }
    Profile::Responder *player = m_session.responder();
    if (!player)
        return failed(QStringLiteral("no profile is playing"));
    Profile::ScriptValue result;
    const bool called = player->call(*function, args, &result, &error);
    // What the call set off (an error logged once, a value changed) is told as it would be in
    // an answer.
    m_session.reportScriptProblems();
    if (!called)
        return failed(error);
    QJsonObject reply = ok();
    reply.insert(QStringLiteral("result"), jsonOf(result));
    return reply;
}

QJsonObject ControlRequests::fault(const QJsonObject &request)
{
    QString error;
    const std::optional<QString> name = stringField(request, QStringLiteral("fault"), &error);
    if (!name)
        return failed(error);
    const std::optional<Profile::FaultKind> kind = Profile::faultKind(*name);
    if (!kind)
        return failed(QStringLiteral("no fault \"%1\"; %2").arg(*name, kFaults));
    const QJsonValue enabled = request.value(QStringLiteral("enabled"));
    if (!enabled.isBool())
        return failed(enabled.isUndefined() ? QStringLiteral("\"enabled\" is missing")
                                            : QStringLiteral("\"enabled\" must be true or false"));
    // Without a rule the fault is switched wherever it is configured.
    const QJsonValue ruleValue = request.value(QStringLiteral("rule"));
    if (!ruleValue.isUndefined() && !ruleValue.isString())
        return failed(QStringLiteral("\"rule\" must be a string"));
    const QString rule = ruleValue.toString();
    Profile::Responder *player = m_session.responder();
    if (!player)
        return failed(QStringLiteral("no profile is playing"));
    if (!player->setFaultEnabled(rule, *kind, enabled.toBool()))
        return failed(rule.isEmpty()
                              ? QStringLiteral("no rule has a %1 fault").arg(*name)
                              : QStringLiteral("rule \"%1\" has no %2 fault").arg(rule, *name));
    return ok();
}

ControlRequests::Reply ControlRequests::load(const QJsonObject &request)
{
    QString error;
    const std::optional<QString> file = stringField(request, QStringLiteral("profile"), &error);
    if (!file)
        return { errorLine(error) };
    Reply reply;
    reply.pendingLoad = m_session.switchProfileLater(*file);
    return reply;
}

QByteArray ControlRequests::loadedLine(const QString &problems)
{
    return problems.isEmpty() ? compact(ok()) : errorLine(problems);
}

QJsonObject ControlRequests::send(const QJsonObject &request)
{
    const QJsonValue hex = request.value(QStringLiteral("hex"));
    const QJsonValue text = request.value(QStringLiteral("text"));
    if (hex.isUndefined() == text.isUndefined())
        return failed(QStringLiteral("give one of \"hex\" and \"text\""));
    QByteArray bytes;
    if (hex.isString()) {
        const std::optional<QByteArray> decoded = hexBytes(hex.toString());
        if (!decoded)
            return failed(QStringLiteral("\"hex\" must be pairs of hex digits"));
        bytes = *decoded;
    } else if (text.isString()) {
        // As strict as a profile's texts: a mistyped name must not send other bytes.
        QString error;
        if (!Profile::appendNotation(text.toString(), &bytes, &error))
            return failed(QStringLiteral("\"text\": ") + error);
    } else {
        return failed(QStringLiteral("\"hex\" and \"text\" must be strings"));
    }
    if (bytes.isEmpty())
        return failed(QStringLiteral("nothing to send"));
    if (!m_session.sendNow(bytes))
        return failed(QStringLiteral("the port did not take the bytes; the log says why"));
    return ok();
}

// A break toward the host, of "ms" (250 when not given), after what was sent before it.
QJsonObject ControlRequests::sendBreak(const QJsonObject &request)
{
    const QJsonValue ms = request.value(QStringLiteral("ms"));
    const double length = ms.isUndefined() ? 250 : ms.toDouble(-1);
    if (!ms.isUndefined() && (!ms.isDouble() || length != std::floor(length) || length < 1 || length > 10000))
        return failed(QStringLiteral("\"ms\" must be a whole number from 1 to 10000"));
    if (!m_session.sendBreak(int(length)))
        return failed(QStringLiteral("the port is not open"));
    return ok();
}

// The instrument's lines, each given one set (true or false), the others kept; the reply has
// all four as they are now.
QJsonObject ControlRequests::lines(const QJsonObject &request)
{
    ModemLines lines = m_session.instrumentLines();
    const struct {
        QString key;
        bool &line;
    } fields[] = { { QStringLiteral("cts"), lines.cts }, { QStringLiteral("dsr"), lines.dsr },
                   { QStringLiteral("dcd"), lines.dcd }, { QStringLiteral("ri"), lines.ri } };
    for (const QString &key : request.keys()) {
        if (key == QLatin1String("cmd"))
            continue;
        const auto field = std::find_if(std::begin(fields), std::end(fields),
                                        [&key](const auto &f) { return f.key == key; });
        if (field == std::end(fields))
            return failed(QStringLiteral("unknown line \"%1\"; one of cts, dsr, dcd, ri").arg(key));
        if (!request.value(key).isBool())
            return failed(QStringLiteral("\"%1\" must be true or false").arg(key));
        field->line = request.value(key).toBool();
    }
    m_session.setInstrumentLines(lines);
    QJsonObject reply = ok();
    for (const auto &field : fields)
        reply.insert(field.key, field.line);
    return reply;
}

QJsonObject ControlRequests::counters() const
{
    const LineCounters &counters = m_session.counters();
    QJsonObject reply = ok();
    reply.insert(QStringLiteral("commands_seen"), counters.commandsSeen);
    reply.insert(QStringLiteral("answered"), counters.answered);
    reply.insert(QStringLiteral("dropped"), counters.dropped);
    reply.insert(QStringLiteral("bytes_in"), counters.bytesIn);
    reply.insert(QStringLiteral("bytes_out"), counters.bytesOut);
    reply.insert(QStringLiteral("refused"), counters.refused);
    return reply;
}
