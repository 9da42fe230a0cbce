#include "profile/clockformat.h"

#include "text/ansicodec.h"

namespace Profile {

namespace {
void appendDigits(int value, int width, QByteArray *out)
{
    out->append(QByteArray::number(value).rightJustified(width, '0'));
}

// The fields written as zero-padded digits; %p and %% are the others.
struct DigitField
{
    char letter;
    int width;
    int (*value)(const LocalTime &local);
};

const DigitField kDigitFields[] = {
    { 'Y', 4, [](const LocalTime &t) { return t.date.year(); } },
    { 'y', 2, [](const LocalTime &t) { return t.date.year() % 100; } },
    { 'm', 2, [](const LocalTime &t) { return t.date.month(); } },
    { 'd', 2, [](const LocalTime &t) { return t.date.day(); } },
    { 'H', 2, [](const LocalTime &t) { return t.time.hour(); } },
    { 'I', 2, [](const LocalTime &t) { return (t.time.hour() + 11) % 12 + 1; } },
    { 'M', 2, [](const LocalTime &t) { return t.time.minute(); } },
    { 'S', 2, [](const LocalTime &t) { return t.time.second(); } },
    { 'j', 3, [](const LocalTime &t) { return t.date.dayOfYear(); } },
    { 'L', 3, [](const LocalTime &t) { return t.time.msec(); } },
};

const DigitField *digitField(char letter)
{
    for (const DigitField &field : kDigitFields) {
        if (field.letter == letter)
            return &field;
    }
    return nullptr;
}
} // namespace

std::optional<ClockFormat> ClockFormat::parse(const QString &format, QString *error)
{
    ClockFormat clock;
    QString unmappable;
    if (!Ansi::encode(format, &clock.m_format, &unmappable)) {
        *error = QStringLiteral("'%1' has no code page 932 byte").arg(unmappable);
        return std::nullopt;
    }
    // '%' is never the second byte of a code page 932 character, so the bytes can be scanned.
    for (qsizetype i = 0; i < clock.m_format.size(); ++i) {
        if (clock.m_format[i] != '%')
            continue;
        const char c = i + 1 < clock.m_format.size() ? clock.m_format[i + 1] : '\0';
        if (c == '\0' || (c != 'p' && c != '%' && !digitField(c))) {
            *error = QStringLiteral("clock format '%1' knows %Y %y %m %d %H %I %M %S %p %j %L "
                                    "and %%")
                         .arg(format);
            return std::nullopt;
        }
        ++i;
    }
    return clock;
}

ClockFormat ClockFormat::time()
{
    ClockFormat clock;
    clock.m_format = "%H:%M:%S";
    return clock;
}

ClockFormat ClockFormat::date()
{
    ClockFormat clock;
    clock.m_format = "%Y/%m/%d";
    return clock;
}

void ClockFormat::append(const LocalTime &local, QByteArray *out) const
{
    for (qsizetype i = 0; i < m_format.size(); ++i) {
        const char c = m_format[i];
        if (c != '%' || i + 1 >= m_format.size()) {
            out->append(c);
            continue;
        }
        const char letter = m_format[++i];
        if (const DigitField *field = digitField(letter))
            appendDigits(field->value(local), field->width, out);
        else if (letter == 'p')
            out->append(local.time.hour() < 12 ? "AM" : "PM");
        else
            out->append('%');
    }
}

} // namespace Profile
