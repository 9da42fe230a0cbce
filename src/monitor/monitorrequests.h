#pragma once

#include "headless/controlrequests.h"

#include <QJsonObject>
#include <QString>

class CommSession;

// The monitor's changes to a run, made as the control channel's requests: a window and a
// harness change a session the same way, through the same code, and are refused alike.
// Each call returns empty when the session took the change, else the request's reason.
class MonitorRequests
{
public:
    explicit MonitorRequests(CommSession &session)
        : m_requests(session)
    { }

    // value in the profile notation, as the monitor shows readings.
    QString setValue(const QString &name, const QString &value, bool asNumber);
    QString switchFault(const QString &rule, const QString &fault, bool enabled);
    // text in the profile notation ("ABC[CR][LF]"), or hex digits in pairs.
    QString send(const QString &bytes, bool asHex);
    // line: cts, dsr, dcd or ri.
    QString setLine(const QString &line, bool up);

private:
    QString ask(const QJsonObject &request);

    ControlRequests m_requests;
};
