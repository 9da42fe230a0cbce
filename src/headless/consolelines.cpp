#include "headless/consolelines.h"

#include "log/commlog.h"

namespace {
// Long enough for a harness that reads only after asking for the stop; a harness that never
// reads does not keep the process for longer than this.
constexpr int kFinishTimeoutMs = 3000;
} // namespace

ConsoleLines::ConsoleLines(int fd, QObject *parent) : QObject(parent), m_out(fd)
{
    m_out.setSkipNotice([](qint64 skipped) {
        return QByteArrayLiteral("LOG_LINES_SKIPPED=") + QByteArray::number(skipped);
    });
}

ConsoleLines::~ConsoleLines()
{
    finish();
}

void ConsoleLines::follow(const CommLog &log)
{
    connect(&log, &CommLog::lineAppended, this,
            [this, &log](int index) { m_out.writeLine(log.displayText(index).toUtf8()); });
}

void ConsoleLines::print(const QString &line)
{
    m_out.writeEssentialLine(line.toUtf8());
}

void ConsoleLines::finish()
{
    m_out.close(kFinishTimeoutMs);
}
