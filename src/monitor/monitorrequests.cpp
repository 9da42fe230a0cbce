#include "monitor/monitorrequests.h"

#include "text/ansicodec.h"
#include "text/notation.h"

#include <QJsonDocument>

QString MonitorRequests::setValue(const QString &name, const QString &value, bool asNumber)
{
    QJsonObject request { { QStringLiteral("cmd"), QStringLiteral("set") },
        { QStringLiteral("name"), name } };
    bool isNumber = false;
    const double number = value.trimmed().toDouble(&isNumber);
    if (asNumber && isNumber) {
        request.insert(QStringLiteral("value"), number);
        return ask(request);
    }
    // The table shows control characters by name ([CR]), so an edit is read the same way,
    // as strictly as a profile's texts; the request takes the characters they stand for.
    QByteArray bytes;
    QString error;
    if (!Profile::appendNotation(value, &bytes, &error))
        return error;
    request.insert(QStringLiteral("value"), Ansi::decode(bytes));
    return ask(request);
}

QString MonitorRequests::switchFault(const QString &rule, const QString &fault, bool enabled)
{
    return ask(
        { { QStringLiteral("cmd"), QStringLiteral("fault") }, { QStringLiteral("rule"), rule },
            { QStringLiteral("fault"), fault }, { QStringLiteral("enabled"), enabled } });
}

QString MonitorRequests::send(const QString &bytes, bool asHex)
{
    // Spaces between hex pairs are how people write them; the request takes the digits.
    const QString hex = QString(bytes).remove(QLatin1Char(' '));
    return ask({ { QStringLiteral("cmd"), QStringLiteral("send") },
        { asHex ? QStringLiteral("hex") : QStringLiteral("text"), asHex ? hex : bytes } });
}

QString MonitorRequests::setLine(const QString &line, bool up)
{
    return ask({ { QStringLiteral("cmd"), QStringLiteral("lines") }, { line, up } });
}

QString MonitorRequests::ask(const QJsonObject &request)
{
    const ControlRequests::Reply reply
        = m_requests.handle(QJsonDocument(request).toJson(QJsonDocument::Compact));
    const QJsonObject answer = QJsonDocument::fromJson(reply.line).object();
    if (answer.value(QStringLiteral("ok")).toBool())
        return QString();
    return answer.value(QStringLiteral("error")).toString();
}
