#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Profile {

// How a value is written into an answer: a printf-style format with exactly one conversion
// (d i u o x X f F e E g G s, with flags, width and precision; "%%" for a percent sign), or
// one of the raw forms of binary protocols: "u8", "be16", "le16", "be32", "le32" (the number
// rounded and wrapped to that many bytes). It is checked once when the profile loads, so
// writing never reads a missing argument or one of the wrong type.
class NumberFormat
{
public:
    // An empty format gives the plain form: whole numbers without decimals, others in their
    // shortest exact form. False, with the reason, for a format outside the forms above.
    static std::optional<NumberFormat> parse(const QString &format, QString *error);

    void appendNumber(double value, QByteArray *out) const;
    // A text goes through a numeric conversion as the number it spells; a text that is no
    // number stands in the conversion's place as it is. Under a binary form text is bytes and
    // is written as it is.
    void appendText(const QByteArray &text, QByteArray *out) const;

private:
    enum class Raw { None, U8, Be16, Le16, Be32, Le32 };

    void appendConverted(double value, QByteArray *out) const;
    void appendRaw(double value, QByteArray *out) const;
    void appendPadded(const QByteArray &text, QByteArray *out) const;

    QByteArray m_prefix;
    QByteArray m_suffix;
    // The conversion as snprintf takes it ("%+08.2f", "%05lld"); empty for the plain form.
    QByteArray m_conversion;
    char m_type = 0;
    int m_width = 0;
    int m_precision = -1;
    bool m_leftAlign = false;
    Raw m_raw = Raw::None;
};

// The plain form of a number, as above.
void appendPlainNumber(double value, QByteArray *out);

} // namespace Profile
