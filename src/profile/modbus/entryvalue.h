#pragma once

#include "profile/answertemplate.h"
#include "profile/modbus/registermap.h"

namespace Profile::Modbus {

// The number a map entry reads at one address: its constant, or its value template expanded
// with the Lua global addr set to that address (the value's first register for a two-register
// type). A truth counts as 1 or 0, a text as the number it spells. False, with the reason,
// when the template's Lua fails or gives no number.
bool entryNumber(const MapEntry &entry, quint16 address, const Expansion &with, double *number,
                 QString *error);

} // namespace Profile::Modbus
