#pragma once

#include "session/profileloadjob.h"
#include "settings/settingsrecords.h"

#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

// Profile loads asked for while a run goes on, read one after the other beside the line
// (ProfileLoadJob); each outcome is handed over in the order the loads were asked for.
class ProfileLoadQueue : public QObject
{
    Q_OBJECT

public:
    using Outcome = std::function<void(quint64 ticket, ProfileLoadJob::Result result)>;

    explicit ProfileLoadQueue(Outcome outcome, QObject *parent = nullptr);

    // seed: instead of the profile's own; patterns: the dialog's, after the rules.
    // Returns the ticket its outcome comes with.
    quint64 request(const QString &file, std::optional<quint64> seed,
                    const DeviceCommandTable &patterns);

private:
    struct Request
    {
        quint64 ticket = 0;
        QString file;
        std::optional<quint64> seed;
        DeviceCommandTable patterns;
    };

    void startNext();
    void finishRunning();

    Outcome m_outcome;
    std::deque<Request> m_waiting;
    std::unique_ptr<ProfileLoadJob> m_running;
    quint64 m_runningTicket = 0;
    quint64 m_lastTicket = 0;
};
