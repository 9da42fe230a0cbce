#include "consolelines.h"

#include "commlog.h"

ConsoleLines::ConsoleLines(std::FILE *out, QObject *parent) : QObject(parent), m_out(out) { }

void ConsoleLines::follow(const CommLog &log)
{
    connect(&log, &CommLog::lineAppended, this,
            [this, &log](int index) { print(log.displayText(index)); });
}

void ConsoleLines::print(const QString &line)
{
    // A reader that went away must not end the run: SIGPIPE is ignored, and a failed write
    // only loses the console copy; the log itself is saved at the end.
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}
