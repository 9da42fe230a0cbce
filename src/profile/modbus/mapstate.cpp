#include "profile/modbus/mapstate.h"

#include "profile/modbus/entryvalue.h"

namespace Profile::Modbus {

MapState::MapState(const Map &map)
    : m_map(map)
{
    for (size_t t = 0; t < m_written.size(); ++t)
        m_written[t].resize(m_map.tables[t].entries.size());
}

qint32 MapState::written(Table table, int index, quint16 address) const
{
    const std::vector<qint32> &words = m_written[size_t(table)][size_t(index)];
    if (words.empty())
        return kNotWritten;
    return words[size_t(address - m_map.table(table).entries[size_t(index)].first)];
}

void MapState::write(Table table, quint16 address, quint16 word)
{
    const int index = m_map.table(table).find(address);
    if (index < 0)
        return;
    const MapEntry &entry = m_map.table(table).entries[size_t(index)];
    std::vector<qint32> &words = m_written[size_t(table)][size_t(index)];
    if (words.empty())
        words.assign(size_t(entry.last - entry.first) + 1, kNotWritten);
    words[size_t(address - entry.first)] = word;
}

bool MapState::readWords(Table table, quint16 first, quint16 count, const Expansion &with,
                         QByteArray *out, QString *error)
{
    const MapTable &map = m_map.table(table);
    int index = map.find(first);
    // The value last read, for the second word of a two-register type.
    int valueIndex = -1;
    quint32 valueAt = 0;
    std::array<quint16, 2> words {};
    for (quint32 at = first; at < quint32(first) + count; ++at) {
        if (at > map.entries[size_t(index)].last)
            ++index;
        const MapEntry &entry = map.entries[size_t(index)];
        qint32 word = written(table, index, quint16(at));
        if (word == kNotWritten) {
            const int width = wordsOf(entry.type);
            const quint32 start = entry.first + (at - entry.first) / quint32(width) * quint32(width);
            if (valueIndex != index || valueAt != start) {
                double number = 0;
                if (!entryNumber(entry, quint16(start), with, &number, error))
                    return false;
                words = encodeWords(number, entry.type, entry.order);
                valueIndex = index;
                valueAt = start;
            }
            word = words[at - start];
        }
        out->append(char(word >> 8));
        out->append(char(word & 0xFF));
    }
    return true;
}

bool MapState::readBits(Table table, quint16 first, quint16 count, const Expansion &with,
                        QByteArray *out, QString *error)
{
    const MapTable &map = m_map.table(table);
    const qsizetype base = out->size();
    out->append(QByteArray((count + 7) / 8, '\0'));
    int index = map.find(first);
    for (quint32 at = first; at < quint32(first) + count; ++at) {
        if (at > map.entries[size_t(index)].last)
            ++index;
        qint32 bit = written(table, index, quint16(at));
        if (bit == kNotWritten) {
            double number = 0;
            if (!entryNumber(map.entries[size_t(index)], quint16(at), with, &number, error))
                return false;
            bit = number != 0 ? 1 : 0;
        }
        const quint32 n = at - first;
        if (bit)
            (*out)[base + qsizetype(n / 8)] = char(quint8((*out)[base + qsizetype(n / 8)]) | (1u << (n % 8)));
    }
    return true;
}

} // namespace Profile::Modbus
