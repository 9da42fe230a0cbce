#pragma once

#include "profile/scpi/programmessage.h"

#include <optional>

namespace Profile::Scpi {

// Decimal numeric program data as IEEE 488.2 writes it: a sign, digits with an optional
// point, an optional exponent ("+1.5E-3", ".5", "1e9"). Strict, so that "10V" or "1,5" is a
// data type error the host can see, not a number read half way.
std::optional<double> decimalNumber(const Parameter &parameter);

// MINimum, MAXimum and DEFault, which a numeric setting takes in place of a number.
enum class NumericKeyword { None, Minimum, Maximum, Default };
NumericKeyword numericKeyword(const Parameter &parameter);

} // namespace Profile::Scpi
