#include "profile/modbus/registermap.h"

#include <algorithm>

namespace Profile::Modbus {

int MapTable::find(quint32 address) const
{
    const auto after = std::upper_bound(entries.begin(), entries.end(), address,
        [](quint32 a, const MapEntry &entry) { return a < entry.first; });
    if (after == entries.begin())
        return -1;
    const auto entry = std::prev(after);
    return address <= entry->last ? int(entry - entries.begin()) : -1;
}

bool MapTable::covers(quint32 first, quint32 count, bool writable) const
{
    const quint32 end = first + count;
    int index = find(first);
    if (index < 0)
        return false;
    for (;;) {
        const MapEntry &entry = entries[size_t(index)];
        if (writable && !entry.writable)
            return false;
        const quint32 next = quint32(entry.last) + 1;
        if (next >= end)
            return true;
        ++index;
        if (size_t(index) >= entries.size() || entries[size_t(index)].first != next)
            return false;
    }
}

} // namespace Profile::Modbus
