#pragma once

#include "profile/answertemplate.h"
#include "profile/modbus/registermap.h"

#include <QByteArray>

#include <array>
#include <vector>

namespace Profile::Modbus {

// The map as it plays: the profile's values read live, and what the host wrote kept word by
// word and bit by bit over them, so a write is read back until the run ends.
class MapState
{
public:
    explicit MapState(const Map &map);

    const Map &map() const { return m_map; }

    // Appends the registers [first, first + count) of a register table, each high byte
    // first. The range must be covered. A two-register value is read once for both words, and
    // a range that covers half of one gives the word it covers.
    bool readWords(Table table, quint16 first, quint16 count, const Expansion &with,
                   QByteArray *out, QString *error);
    // Appends the bits [first, first + count) of a bit table packed as Modbus packs them:
    // the first bit in the lowest bit of the first byte.
    bool readBits(Table table, quint16 first, quint16 count, const Expansion &with,
                  QByteArray *out, QString *error);
    // A holding register or a coil that the map covers.
    void writeWord(quint16 address, quint16 word) { write(Table::Holding, address, word); }
    void writeBit(quint16 address, bool on) { write(Table::Coils, address, on ? 1 : 0); }

private:
    static constexpr qint32 kNotWritten = -1;

    void write(Table table, quint16 address, quint16 word);
    // The word written at address of entry index, or kNotWritten.
    qint32 written(Table table, int index, quint16 address) const;

    Map m_map;
    // Per table, per entry: what was written at each of its addresses (allocated at its first
    // write).
    std::array<std::vector<std::vector<qint32>>, 4> m_written;
};

} // namespace Profile::Modbus
