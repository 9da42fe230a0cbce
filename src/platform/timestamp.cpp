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

QByteArrayView SecondCache::at(qint64 msecsSinceEpoch)
{
    // Rounded down, also before 1970, so one second never shows two stamps.
    const qint64 second = msecsSinceEpoch >= 0 ? msecsSinceEpoch / 1000
                                               : -((-msecsSinceEpoch + 999) / 1000);
    if (second != m_second) {
        m_second = second;
        m_stamp = logStamp(QDateTime::fromSecsSinceEpoch(second)).toLatin1();
    }
    return m_stamp;
}

} // namespace Stamp
