#include "profile/numberformat.h"

#include <QLocale>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace Profile {

namespace {
constexpr int kMaxWidth = 64;
constexpr int kMaxPrecision = 32;

bool isIntegerType(char type)
{
    return std::strchr("diuoxX", type) != nullptr;
}

qint64 roundedInteger(double value)
{
    if (std::isnan(value))
        return 0;
    // Past these the conversion to an integer would be undefined.
    if (value >= 9.2e18)
        return Q_INT64_C(9200000000000000000);
    if (value <= -9.2e18)
        return -Q_INT64_C(9200000000000000000);
    return std::llround(value);
}

// snprintf writes the decimal point of the process's locale, and a Qt program takes the
// user's: a German desktop would send "100,50" to the host.
void appendWithDotDecimal(const char *text, int length, QByteArray *out)
{
    const char *point = std::localeconv()->decimal_point;
    const size_t pointLength = std::strlen(point);
    if (pointLength == 0 || (pointLength == 1 && point[0] == '.')) {
        out->append(text, length);
        return;
    }
    const QByteArray written(text, length);
    out->append(QByteArray(written).replace(QByteArray(point), QByteArray(".")));
}

int readDigits(const QByteArray &format, qsizetype *pos)
{
    int number = 0;
    while (*pos < format.size() && format[*pos] >= '0' && format[*pos] <= '9') {
        number = qMin(number * 10 + (format[*pos] - '0'), 1000);
        ++*pos;
    }
    return number;
}
} // namespace

void appendPlainNumber(double value, QByteArray *out)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        out->append(QByteArray::number(qint64(value)));
    else
        out->append(QByteArray::number(value, 'g', QLocale::FloatingPointShortest));
}

std::optional<NumberFormat> NumberFormat::parse(const QString &text, QString *error)
{
    NumberFormat format;
    static const std::pair<const char *, Raw> rawForms[] = {
        { "u8", Raw::U8 },
        { "be16", Raw::Be16 },
        { "le16", Raw::Le16 },
        { "be32", Raw::Be32 },
        { "le32", Raw::Le32 },
    };
    for (const auto &[name, raw] : rawForms) {
        if (text == QLatin1String(name)) {
            format.m_raw = raw;
            return format;
        }
    }
    const QByteArray bytes = text.toUtf8();
    QByteArray *literal = &format.m_prefix;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const char c = bytes[pos++];
        if (c != '%') {
            literal->append(c);
            continue;
        }
        if (pos < bytes.size() && bytes[pos] == '%') {
            literal->append('%');
            ++pos;
            continue;
        }
        if (format.m_type != 0) {
            *error = QStringLiteral("format '%1' has more than one conversion").arg(text);
            return std::nullopt;
        }
        const qsizetype start = pos;
        while (pos < bytes.size() && std::strchr("-+ #0", bytes[pos]) && bytes[pos] != '\0')
            ++pos;
        format.m_leftAlign = bytes.mid(start, pos - start).contains('-');
        const int width = readDigits(bytes, &pos);
        int precision = -1;
        if (pos < bytes.size() && bytes[pos] == '.') {
            ++pos;
            precision = readDigits(bytes, &pos);
        }
        const char type = pos < bytes.size() ? bytes[pos] : '\0';
        if (type == '\0' || !std::strchr("diuoxXfFeEgGs", type)) {
            *error = QStringLiteral("format '%1' needs one conversion of d i u o x X f F e E g G "
                                    "s, or u8, be16, le16, be32, le32")
                         .arg(text);
            return std::nullopt;
        }
        if (width > kMaxWidth || precision > kMaxPrecision) {
            *error = QStringLiteral("format '%1' is wider than %2 or more precise than %3")
                         .arg(text)
                         .arg(kMaxWidth)
                         .arg(kMaxPrecision);
            return std::nullopt;
        }
        ++pos;
        format.m_width = width;
        format.m_precision = precision;
        format.m_type = type;
        format.m_conversion
            = '%' + bytes.mid(start, pos - 1 - start) + (isIntegerType(type) ? "ll" : "") + type;
        literal = &format.m_suffix;
    }
    if (format.m_type == 0 && !bytes.isEmpty()) {
        *error = QStringLiteral("format '%1' has no conversion").arg(text);
        return std::nullopt;
    }
    return format;
}

void NumberFormat::appendConverted(double value, QByteArray *out) const
{
    // Room for the widest double "%f" writes (309 digits) with the largest precision.
    char buffer[400];
    int length = 0;
    if (m_type == 's') {
        QByteArray plain;
        appendPlainNumber(value, &plain);
        appendPadded(plain, out);
        return;
    }
    if (isIntegerType(m_type)) {
        length = std::snprintf(buffer, sizeof buffer, m_conversion.constData(),
            static_cast<long long>(roundedInteger(value)));
    } else {
        length = std::snprintf(buffer, sizeof buffer, m_conversion.constData(), value);
    }
    appendWithDotDecimal(buffer, qBound(0, length, int(sizeof buffer) - 1), out);
}

// %s by hand: snprintf would stop at a NUL byte, and texts may hold [NUL].
void NumberFormat::appendPadded(const QByteArray &text, QByteArray *out) const
{
    const QByteArray shown = m_precision >= 0 ? text.left(m_precision) : text;
    const QByteArray padding(qMax<qsizetype>(0, m_width - shown.size()), ' ');
    if (!m_leftAlign)
        out->append(padding);
    out->append(shown);
    if (m_leftAlign)
        out->append(padding);
}

void NumberFormat::appendRaw(double value, QByteArray *out) const
{
    const auto bits = quint32(quint64(roundedInteger(value)));
    const int size = m_raw == Raw::U8 ? 1 : (m_raw == Raw::Be16 || m_raw == Raw::Le16) ? 2 : 4;
    const bool bigEndian = m_raw == Raw::Be16 || m_raw == Raw::Be32;
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (bigEndian ? size - 1 - i : i);
        out->append(char((bits >> shift) & 0xFF));
    }
}

void NumberFormat::appendNumber(double value, QByteArray *out) const
{
    if (m_raw != Raw::None) {
        appendRaw(value, out);
        return;
    }
    if (m_type == 0) {
        appendPlainNumber(value, out);
        return;
    }
    out->append(m_prefix);
    appendConverted(value, out);
    out->append(m_suffix);
}

void NumberFormat::appendText(const QByteArray &text, QByteArray *out) const
{
    if (m_type == 0 && m_raw == Raw::None) {
        out->append(text);
        return;
    }
    // Bytes under a binary form are the bytes themselves: a capture "01" stays 0x30 0x31.
    if (m_raw != Raw::None) {
        out->append(text);
        return;
    }
    bool isNumber = false;
    const double value = text.toDouble(&isNumber);
    if (isNumber && m_type != 's') {
        appendNumber(value, out);
        return;
    }
    out->append(m_prefix);
    if (m_type == 's')
        appendPadded(text, out);
    else
        out->append(text);
    out->append(m_suffix);
}

} // namespace Profile
