#pragma once

#include "session/lineevent.h"

#include <QByteArray>
#include <QString>

// Line events as the JSON lines a harness reads (--events): one compact object per event,
// "v" 1, the kind, "t_ns" since the run began, local "time" with milliseconds, and the
// event's own keys. Bytes go as "hex" and as "text" in the notation the log list shows, so a
// program compares bytes and a person reads the same line as in the log.
namespace LineEventJson {

constexpr int kVersion = 1;

// The event's kind as the stream names it ("dropped_output").
QString kindName(LineEvent::Kind kind);
// Bytes as the log list shows them: code page 932 with control characters as [CR] names.
QString bytesText(const QByteArray &bytes);

// The line for event, without its newline. time: the local time at event.atNs, as
// Stamp::IsoMillisCache gives it.
QByteArray line(const LineEvent &event, qint64 runStartNs, const QString &time);
// The line that stands where the writer had to leave out count events.
QByteArray skippedLine(qint64 count, qint64 tNs, const QString &time);

} // namespace LineEventJson
