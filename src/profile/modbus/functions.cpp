#include "profile/modbus/functions.h"

namespace Profile::Modbus {

namespace {

quint16 wordAt(QByteArrayView pdu, qsizetype at)
{
    return quint16(quint8(pdu[at]) << 8 | quint8(pdu[at + 1]));
}

PduAnswer refused(quint8 exception)
{
    PduAnswer answer;
    answer.exception = exception;
    return answer;
}

// The checks every read and write shares, in order: a request of the function's shape and a
// quantity within [1, most], then a range that the table wholly covers.
quint8 check(QByteArrayView pdu, qsizetype length, quint16 quantity, quint16 most,
             const MapTable &table, quint16 first, bool write)
{
    if (pdu.size() != length || quantity < 1 || quantity > most)
        return kIllegalValue;
    if (quint32(first) + quantity > 0x10000 || !table.covers(first, quantity, write))
        return kIllegalAddress;
    return 0;
}

class Handler
{
public:
    Handler(QByteArrayView pdu, MapState &state, const Expansion &with)
        : m_pdu(pdu), m_state(state), m_with(with)
    { }

    PduAnswer answer()
    {
        const quint8 function = quint8(m_pdu[0]);
        const Table table = tableOf(function);
        if (!served(function) || m_state.map().table(table).entries.empty())
            return refused(kIllegalFunction);
        if (m_pdu.size() < 5)
            return refused(kIllegalValue);
        m_answer.pdu.append(char(function));
        const quint16 first = wordAt(m_pdu, 1);
        const quint16 second = wordAt(m_pdu, 3);
        quint8 exception = 0;
        switch (function) {
        case 1:
        case 2:
            exception = readBits(table, first, second);
            break;
        case 3:
        case 4:
            exception = readWords(table, first, second);
            break;
        case 5:
            exception = writeCoil(first, second);
            break;
        case 6:
            exception = check(m_pdu, 5, 1, 1, holding(), first, true);
            if (!exception) {
                m_state.writeWord(first, second);
                m_answer.pdu = m_pdu.toByteArray();
            }
            break;
        case 15:
            exception = writeCoils(first, second);
            break;
        case 16:
            exception = writeWords(first, second);
            break;
        case 23:
            exception = readWriteWords(first, second);
            break;
        }
        if (exception) {
            PduAnswer failed = refused(exception);
            failed.problem = m_answer.problem;
            return failed;
        }
        return std::move(m_answer);
    }

private:
    static bool served(quint8 function)
    {
        return (function >= 1 && function <= 6) || function == 15 || function == 16 || function == 23;
    }

    static Table tableOf(quint8 function)
    {
        switch (function) {
        case 1:
        case 5:
        case 15:
            return Table::Coils;
        case 2:
            return Table::Discrete;
        case 4:
            return Table::Input;
        default:
            return Table::Holding;
        }
    }

    const MapTable &holding() const { return m_state.map().table(Table::Holding); }
    const MapTable &coils() const { return m_state.map().table(Table::Coils); }

    // The count byte of a write and the bytes after it: what the quantity implies.
    bool countMatches(qsizetype countAt, int bytes) const
    {
        return m_pdu.size() == countAt + 1 + bytes && quint8(m_pdu[countAt]) == bytes;
    }

    quint8 readBits(Table table, quint16 first, quint16 count)
    {
        if (const quint8 exception = check(m_pdu, 5, count, 2000, m_state.map().table(table), first, false))
            return exception;
        m_answer.pdu.append(char((count + 7) / 8));
        return m_state.readBits(table, first, count, m_with, &m_answer.pdu, &m_answer.problem)
            ? 0
            : kDeviceFailure;
    }

    quint8 readWords(Table table, quint16 first, quint16 count)
    {
        if (const quint8 exception = check(m_pdu, 5, count, 125, m_state.map().table(table), first, false))
            return exception;
        m_answer.pdu.append(char(count * 2));
        return m_state.readWords(table, first, count, m_with, &m_answer.pdu, &m_answer.problem)
            ? 0
            : kDeviceFailure;
    }

    quint8 writeCoil(quint16 address, quint16 value)
    {
        if (m_pdu.size() != 5 || (value != 0x0000 && value != 0xFF00))
            return kIllegalValue;
        if (!coils().covers(address, 1, true))
            return kIllegalAddress;
        m_state.writeBit(address, value == 0xFF00);
        m_answer.pdu = m_pdu.toByteArray();
        return 0;
    }

    quint8 writeCoils(quint16 first, quint16 count)
    {
        if (m_pdu.size() < 6 || !countMatches(5, (count + 7) / 8))
            return kIllegalValue;
        if (const quint8 exception = check(m_pdu, m_pdu.size(), count, 1968, coils(), first, true))
            return exception;
        for (quint16 n = 0; n < count; ++n)
            m_state.writeBit(quint16(first + n), (quint8(m_pdu[6 + n / 8]) >> (n % 8)) & 1);
        m_answer.pdu.append(m_pdu.sliced(1, 4).toByteArray());
        return 0;
    }

    quint8 writeWords(quint16 first, quint16 count)
    {
        if (m_pdu.size() < 6 || !countMatches(5, count * 2))
            return kIllegalValue;
        if (const quint8 exception = check(m_pdu, m_pdu.size(), count, 123, holding(), first, true))
            return exception;
        for (quint16 n = 0; n < count; ++n)
            m_state.writeWord(quint16(first + n), wordAt(m_pdu, 6 + 2 * n));
        m_answer.pdu.append(m_pdu.sliced(1, 4).toByteArray());
        return 0;
    }

    quint8 readWriteWords(quint16 readFirst, quint16 readCount)
    {
        if (m_pdu.size() < 10)
            return kIllegalValue;
        const quint16 writeFirst = wordAt(m_pdu, 5);
        const quint16 writeCount = wordAt(m_pdu, 7);
        if (!countMatches(9, writeCount * 2) || readCount < 1 || readCount > 125
            || writeCount < 1 || writeCount > 121)
            return kIllegalValue;
        if (const quint8 exception = check(m_pdu, m_pdu.size(), readCount, 125, holding(), readFirst, false))
            return exception;
        if (const quint8 exception = check(m_pdu, m_pdu.size(), writeCount, 121, holding(), writeFirst, true))
            return exception;
        for (quint16 n = 0; n < writeCount; ++n)
            m_state.writeWord(quint16(writeFirst + n), wordAt(m_pdu, 10 + 2 * n));
        m_answer.pdu.append(char(readCount * 2));
        return m_state.readWords(Table::Holding, readFirst, readCount, m_with, &m_answer.pdu,
                                 &m_answer.problem)
            ? 0
            : kDeviceFailure;
    }

    QByteArrayView m_pdu;
    MapState &m_state;
    const Expansion &m_with;
    PduAnswer m_answer;
};

} // namespace

PduAnswer answerPdu(QByteArrayView pdu, MapState &state, const Expansion &with)
{
    if (pdu.isEmpty())
        return refused(kIllegalFunction);
    return Handler(pdu, state, with).answer();
}

} // namespace Profile::Modbus
