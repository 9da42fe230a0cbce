#include "profile/modbus/requestlength.h"

namespace Profile::Modbus {

namespace {

// Address and CRC around every PDU.
constexpr int kEnvelope = 3;

// The length of a request whose count byte sits at index countAt and counts the bytes after
// it (up to the CRC).
int counted(QByteArrayView head, int countAt)
{
    if (head.size() <= countAt)
        return kNeedMore;
    return countAt + 1 + quint8(head[countAt]) + 2;
}

} // namespace

int requestLength(QByteArrayView head)
{
    if (head.size() < 2)
        return kNeedMore;
    switch (quint8(head[1])) {
    case 1: // read coils
    case 2: // read discrete inputs
    case 3: // read holding registers
    case 4: // read input registers
    case 5: // write single coil
    case 6: // write single register
    case 8: // diagnostics: a sub-function and one word of data
        return kEnvelope + 5;
    case 7: // read exception status
    case 11: // get comm event counter
    case 12: // get comm event log
    case 17: // report server id
        return kEnvelope + 1;
    case 15: // write multiple coils
    case 16: // write multiple registers
        return counted(head, 6);
    case 20: // read file record
    case 21: // write file record
        return counted(head, 2);
    case 22: // mask write register
        return kEnvelope + 7;
    case 23: // read/write multiple registers
        return counted(head, 10);
    case 24: // read FIFO queue
        return kEnvelope + 3;
    default:
        return kUnknownLength;
    }
}

} // namespace Profile::Modbus
