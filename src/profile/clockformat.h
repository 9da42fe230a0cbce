#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace Profile {

// A local date and time as a clock reading shows it.
struct LocalTime
{
    QDate date;
    QTime time;
};

// The local date and time as a profile writes them, strftime-like but locale-free, so a
// host sees the same digits on every desktop: %Y %y %m %d %H %I %M %S %p (AM/PM), %j (day of
// the year), %L (milliseconds), %% (a percent sign); other characters as code page 932 text.
class ClockFormat
{
public:
    static std::optional<ClockFormat> parse(const QString &format, QString *error);
    // The built-in {time} and {date}: "HH:MM:SS" and "YYYY/MM/DD", as the log stamps them.
    static ClockFormat time();
    static ClockFormat date();

    void append(const LocalTime &local, QByteArray *out) const;

private:
    QByteArray m_format;
};

} // namespace Profile
