#include "profile/modbus/slave.h"

#include "profile/checksums.h"
#include "profile/modbus/functions.h"

namespace Profile::Modbus {

namespace {

QString hex4(quint16 word)
{
    return QStringLiteral("%1").arg(word, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

Slave::Slave(const Map &map)
    : m_state(map)
    , m_address(map.address)
{ }

Outcome Slave::handle(const QByteArray &frame, const Expansion &with)
{
    Outcome outcome;
    if (frame.size() < 4) {
        outcome.silence = QStringLiteral("Modbus: %1 bytes are too short for a request").arg(frame.size());
        return outcome;
    }
    const QByteArrayView body = QByteArrayView(frame).first(frame.size() - 2);
    const quint16 crc = crc16Modbus(body);
    const quint16 sent = quint16(quint8(frame[frame.size() - 2]) | quint8(frame[frame.size() - 1]) << 8);
    if (crc != sent) {
        outcome.silence = QStringLiteral("Modbus: CRC %1 sent, %2 computed over the request")
                              .arg(hex4(sent), hex4(crc));
        return outcome;
    }
    const quint8 address = quint8(frame[0]);
    if (address != 0 && address != m_address) {
        outcome.silence = QStringLiteral("Modbus: a request for slave %1, not %2").arg(address).arg(m_address);
        return outcome;
    }
    const PduAnswer answer = answerPdu(body.sliced(1), m_state, with);
    outcome.problem = answer.problem;
    if (address == 0) {
        outcome.broadcast = true;
        return outcome;
    }
    outcome.answer.reserve(answer.pdu.size() + 5);
    outcome.answer.append(char(address));
    if (answer.exception) {
        outcome.answer.append(char(quint8(frame[1]) | 0x80));
        outcome.answer.append(char(answer.exception));
    } else {
        outcome.answer.append(answer.pdu);
    }
    const quint16 answerCrc = crc16Modbus(outcome.answer);
    outcome.answer.append(char(answerCrc & 0xFF));
    outcome.answer.append(char(answerCrc >> 8));
    return outcome;
}

} // namespace Profile::Modbus
