#pragma once

#include "profile/answertemplate.h"
#include "profile/modbus/mapstate.h"

#include <QByteArray>
#include <QString>

namespace Profile::Modbus {

// What the slave does about one RTU frame.
struct Outcome
{
    // The answer with its CRC; empty when nothing is sent.
    QByteArray answer;
    // A broadcast (address 0): its writes are done and nothing is answered.
    bool broadcast = false;
    // Why nothing is answered: a damaged CRC, another slave's address, a frame too short.
    QString silence;
    // The Lua error behind an exception 4.
    QString problem;
};

// A Modbus RTU slave playing a map: the envelope of a request (its CRC, its address,
// broadcast) and of the answer (the address, the exception's function | 0x80, the CRC), around
// the functions of functions.h. A real slave stays silent for a request it must not trust or
// that is not its own, so those only say why.
class Slave
{
public:
    explicit Slave(const Map &map);

    Outcome handle(const QByteArray &frame, const Expansion &with);

private:
    MapState m_state;
    quint8 m_address;
};

} // namespace Profile::Modbus
