#include "platform/timestamp.h"

namespace Stamp {

QString logStamp(const QDateTime &local)
{
    // Fixed formats rather than the locale's, so saved logs compare across machines.
    return QLatin1Char('[') + local.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))
            + QLatin1Char(']');
}

QString dayCode(const QDate &day)
{
    return day.toString(QStringLiteral("yyyyMMdd"));
}

namespace {
// Rounded down, also before 1970, so one second never shows two stamps.
qint64 secondOf(qint64 msecsSinceEpoch)
{
    return msecsSinceEpoch >= 0 ? msecsSinceEpoch / 1000 : -((-msecsSinceEpoch + 999) / 1000);
}
} // namespace

QByteArrayView SecondCache::at(qint64 msecsSinceEpoch)
{
    const qint64 second = secondOf(msecsSinceEpoch);
    if (second != m_second) {
        m_second = second;
        m_stamp = logStamp(QDateTime::fromSecsSinceEpoch(second)).toLatin1();
    }
    return m_stamp;
}

QString IsoMillisCache::at(qint64 msecsSinceEpoch)
{
    const qint64 second = secondOf(msecsSinceEpoch);
    if (second != m_second) {
        m_second = second;
        m_prefix = QDateTime::fromSecsSinceEpoch(second).toString(
                QStringLiteral("yyyy-MM-ddTHH:mm:ss."));
    }
    const int millis = int(msecsSinceEpoch - second * 1000);
    const char digits[] = { char('0' + millis / 100), char('0' + millis / 10 % 10),
                            char('0' + millis % 10) };
    return m_prefix + QLatin1String(digits, 3);
}

} // namespace Stamp
