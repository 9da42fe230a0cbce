#include "clockformat.h"

#include "ansicodec.h"

#include <cstring>

namespace Profile {

namespace {
void appendDigits(int value, int width, QByteArray *out)
{
    out->append(QByteArray::number(value).rightJustified(width, '0'));
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
        if (c == '\0' || !std::strchr("YymdHIMSpjL%", c)) {
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
    const QDate &day = local.date;
    const QTime &time = local.time;
    for (qsizetype i = 0; i < m_format.size(); ++i) {
        const char c = m_format[i];
        if (c != '%' || i + 1 >= m_format.size()) {
            out->append(c);
            continue;
        }
        switch (m_format[++i]) {
        case 'Y':
            appendDigits(day.year(), 4, out);
            break;
        case 'y':
            appendDigits(day.year() % 100, 2, out);
            break;
        case 'm':
            appendDigits(day.month(), 2, out);
            break;
        case 'd':
            appendDigits(day.day(), 2, out);
            break;
        case 'H':
            appendDigits(time.hour(), 2, out);
            break;
        case 'I':
            appendDigits((time.hour() + 11) % 12 + 1, 2, out);
            break;
        case 'M':
            appendDigits(time.minute(), 2, out);
            break;
        case 'S':
            appendDigits(time.second(), 2, out);
            break;
        case 'p':
            out->append(time.hour() < 12 ? "AM" : "PM");
            break;
        case 'j':
            appendDigits(day.dayOfYear(), 3, out);
            break;
        case 'L':
            appendDigits(time.msec(), 3, out);
            break;
        default:
            out->append('%');
            break;
        }
    }
}

} // namespace Profile
