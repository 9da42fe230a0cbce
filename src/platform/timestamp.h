#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <limits>

namespace Stamp {

// "[YYYY/MM/DD HH:MM:SS]" in local time, 24-hour clock; the form every log line starts with.
QString logStamp(const QDateTime &local = QDateTime::currentDateTime());

// "YYYYMMDD", the day part of a proposed log file name.
QString dayCode(const QDate &day = QDate::currentDate());

// The log stamp as bytes, formatted once per second: turning a clock reading into local
// calendar time costs far more than the rest of a log line, and a busy line logs many
// lines within one second.
class SecondCache
{
public:
    // The stamp of the local time at msecsSinceEpoch; valid until the next call.
    QByteArrayView at(qint64 msecsSinceEpoch);
    QByteArrayView now() { return at(QDateTime::currentMSecsSinceEpoch()); }

private:
    qint64 m_second = std::numeric_limits<qint64>::min();
    QByteArray m_stamp;
};

// "YYYY-MM-DDTHH:MM:SS.mmm" in local time, for streams that programs read; the calendar part is
// formatted once per second, for the same reason as the log stamp's.
class IsoMillisCache
{
public:
    QString at(qint64 msecsSinceEpoch);

private:
    qint64 m_second = std::numeric_limits<qint64>::min();
    QString m_prefix;
};

} // namespace Stamp
