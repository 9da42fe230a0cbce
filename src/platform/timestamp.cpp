#include "timestamp.h"

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
        m_prefix = QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss."));
    }
    return m_prefix + QStringLiteral("%1").arg(msecsSinceEpoch - second * 1000, 3, 10, QLatin1Char('0'));
}

} // namespace Stamp
