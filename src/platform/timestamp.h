#pragma once

#include <QDateTime>
#include <QString>

namespace Stamp {

// "[YYYY/MM/DD HH:MM:SS]" in local time, 24-hour clock; the form every log line starts with.
QString logStamp(const QDateTime &local = QDateTime::currentDateTime());

// "YYYYMMDD", the day part of a proposed log file name.
QString dayCode(const QDate &day = QDate::currentDate());

} // namespace Stamp
