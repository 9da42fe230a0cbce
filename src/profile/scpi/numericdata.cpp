#include "profile/scpi/numericdata.h"

#include "profile/scpi/mnemonic.h"

#include <cmath>

namespace Profile::Scpi {

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }

const char *digits(const char *p, const char *end)
{
    while (p < end && isDigit(*p))
        ++p;
    return p;
}
} // namespace

std::optional<double> decimalNumber(const Parameter &parameter)
{
    if (parameter.quoted)
        return std::nullopt;
    const char *p = parameter.text.constData();
    const char *end = p + parameter.text.size();
    if (p < end && (*p == '+' || *p == '-'))
        ++p;
    const char *whole = digits(p, end);
    bool any = whole > p;
    p = whole;
    if (p < end && *p == '.') {
        const char *fraction = digits(p + 1, end);
        any = any || fraction > p + 1;
        p = fraction;
    }
    if (!any)
        return std::nullopt;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char *exponent = p + 1;
        if (exponent < end && (*exponent == '+' || *exponent == '-'))
            ++exponent;
        const char *after = digits(exponent, end);
        if (after == exponent)
            return std::nullopt;
        p = after;
    }
    if (p != end)
        return std::nullopt;
    const double value = parameter.text.toDouble();
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

NumericKeyword numericKeyword(const Parameter &parameter)
{
    if (parameter.quoted)
        return NumericKeyword::None;
    static const struct
    {
        Mnemonic word;
        NumericKeyword keyword;
    } kWords[] = {
        { [] { Mnemonic m; Mnemonic::parse("MINimum", &m); return m; }(), NumericKeyword::Minimum },
        { [] { Mnemonic m; Mnemonic::parse("MAXimum", &m); return m; }(), NumericKeyword::Maximum },
        { [] { Mnemonic m; Mnemonic::parse("DEFault", &m); return m; }(), NumericKeyword::Default },
    };
    const QByteArray upper = parameter.text.toUpper();
    for (const auto &entry : kWords) {
        if (entry.word.accepts(upper))
            return entry.keyword;
    }
    return NumericKeyword::None;
}

} // namespace Profile::Scpi
