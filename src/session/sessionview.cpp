#include "session/sessionview.h"

#include "profile/responder.h"
#include "session/commsession.h"

bool SessionView::playsProfile() const
{
    return m_session.responder() != nullptr;
}

std::vector<SessionView::Value> SessionView::values() const
{
    std::vector<Value> values;
    const Profile::Responder *player = m_session.responder();
    if (!player)
        return values;
    const Profile::ValueBank &bank = player->values();
    for (int i = 0; i < bank.count(); ++i)
        values.push_back(
            { bank.def(i).name, bank.isSettable(i), bank.isNumber(i), bank.lastReading(i) });
    return values;
}

std::vector<SessionView::FaultSwitch> SessionView::faults() const
{
    std::vector<FaultSwitch> switches;
    const Profile::Responder *player = m_session.responder();
    if (!player)
        return switches;
    const auto add = [&switches](const QString &rule, const Profile::Behaviour &behaviour) {
        for (int k = 0; k < Profile::kFaultKinds; ++k) {
            const auto kind = Profile::FaultKind(k);
            if (behaviour.fault(kind).configured)
                switches.push_back({ rule, kind, behaviour.fault(kind).enabled });
        }
    };
    const Profile::Instrument &instrument = player->instrument();
    for (const Profile::Rule &rule : instrument.rules)
        add(rule.name, rule.behaviour);
    if (instrument.scpi)
        add(QStringLiteral("scpi"), instrument.defaults);
    return switches;
}

QString SessionView::lineInForce() const
{
    return m_session.lineInForce();
}

ModemLines SessionView::instrumentLines() const
{
    return m_session.instrumentLines();
}
