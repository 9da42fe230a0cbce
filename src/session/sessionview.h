#pragma once

#include "profile/faults.h"
#include "profile/modemlines.h"

#include <QByteArray>
#include <QString>

#include <vector>

class CommSession;

// What a window may read of a running session, and nothing it could change: the values as
// last drawn, the fault switches of the rules and the line in force. Reading never draws a
// value, so a run looked at gives the same bytes as the same run unwatched. Empty lists while
// no profile plays.
class SessionView
{
public:
    struct Value
    {
        QString name;
        // Stored values are set at run time; the others are drawn.
        bool stored = false;
        // A stored value that holds a number takes a number when it is set.
        bool number = false;
        QByteArray reading;
    };
    struct FaultSwitch
    {
        // As a fault request names it: the rule's name, or "scpi" for the SCPI answers.
        QString rule;
        Profile::FaultKind kind = Profile::FaultKind::Drop;
        bool enabled = true;
    };

    explicit SessionView(const CommSession &session)
        : m_session(session)
    { }

    bool playsProfile() const;
    std::vector<Value> values() const;
    std::vector<FaultSwitch> faults() const;
    QString lineInForce() const;
    ModemLines instrumentLines() const;

private:
    const CommSession &m_session;
};
