#pragma once

#include "profile/scpi/headerpattern.h"

#include <vector>

namespace Profile::Scpi {

// The commands every SCPI instrument has, IEEE 488.2's common commands and SCPI's own error
// queries, so that a profile lists only what is its instrument's own.
enum class Builtin {
    None, Cls, Ese, EseQuery, EsrQuery, IdnQuery, Opc, OpcQuery, Rst, Sre, SreQuery, StbQuery,
    TstQuery, Wai, ErrorNext, ErrorCount, VersionQuery
};

// The built-in command of the path in the form sent; None for another form (a query of
// *RST) too: that is an undefined header as well.
Builtin findBuiltin(const std::vector<const ReceivedNode *> &path, bool query);

} // namespace Profile::Scpi
