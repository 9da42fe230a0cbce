#pragma once

#include "profile/answertemplate.h"
#include "profile/modbus/registertype.h"

#include <array>
#include <optional>
#include <vector>

namespace Profile::Modbus {

// The four data tables of a Modbus device; each function code reads or writes one of them.
enum class Table { Coils, Discrete, Holding, Input };

// One [[modbus.TABLE]] entry: the addresses it covers and what they read.
struct MapEntry
{
    quint16 first = 0;
    // The last register or bit covered, inclusive; a two-register type covers whole pairs.
    quint16 last = 0;
    // None: every address reads constant.
    std::optional<AnswerTemplate> value;
    double constant = 0;
    RegisterType type = RegisterType::U16;
    WordOrder order = WordOrder::HighFirst;
    bool writable = false;
};

// One table's entries, sorted by address and not overlapping, so a range is looked up by
// walking forward from one binary search.
struct MapTable
{
    std::vector<MapEntry> entries;

    // The entry that covers address, or -1.
    int find(quint32 address) const;
    // Every address of [first, first + count) is covered (and, with writable, can be written).
    bool covers(quint32 first, quint32 count, bool writable = false) const;
};

// The [modbus] table: the slave address and the map a request is answered from.
struct Map
{
    quint8 address = 1;
    std::array<MapTable, 4> tables;

    const MapTable &table(Table which) const { return tables[size_t(which)]; }
    MapTable &table(Table which) { return tables[size_t(which)]; }
};

} // namespace Profile::Modbus
