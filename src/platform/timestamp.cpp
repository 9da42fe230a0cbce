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

} // namespace Stamp
