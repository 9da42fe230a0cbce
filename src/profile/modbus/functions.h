#pragma once

#include "profile/answertemplate.h"
#include "profile/modbus/mapstate.h"

#include <QByteArray>
#include <QByteArrayView>

namespace Profile::Modbus {

enum Exception : quint8 {
    kIllegalFunction = 1,
    kIllegalAddress = 2,
    kIllegalValue = 3,
    kDeviceFailure = 4,
};

// What the map says to one request PDU: the response PDU, or an exception code.
struct PduAnswer
{
    QByteArray pdu;
    quint8 exception = 0;
    // Exception 4: the Lua error behind it.
    QString problem;
};

// Serves functions 1, 2, 3, 4, 5, 6, 15, 16 and 23 from the map, with the standard's checks
// in its order: function (1: not served, or its table absent), quantity and byte count (3),
// address range wholly mapped and, for a write, writable (2), then the work itself (4 when a
// value's Lua fails). A single write's value takes the quantity's place, as in the standard:
// function 5 takes only 0x0000 or 0xFF00. Function 23 writes before it reads.
PduAnswer answerPdu(QByteArrayView pdu, MapState &state, const Expansion &with);

} // namespace Profile::Modbus
