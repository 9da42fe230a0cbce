#pragma once

#include "platform/streamwriter.h"

#include <QObject>
#include <QString>

class CommLog;

// Standard output of the headless program: the log as it grows, one UTF-8 line per entry as
// the log list shows it, and the program's own KEY=value lines. A harness that stops reading
// must not stop the line, so the log lines it cannot take are skipped (the saved log keeps
// every one) and "LOG_LINES_SKIPPED=N" stands where they would have been. The KEY=value
// lines are what a harness waits for: never skipped, and written out before the program ends.
class ConsoleLines : public QObject
{
    Q_OBJECT

public:
    explicit ConsoleLines(int fd, QObject *parent = nullptr);
    ~ConsoleLines() override;

    void follow(const CommLog &log);
    // A KEY=value line of the program's own.
    void print(const QString &line);
    // Before the process ends: what is queued goes out, waiting a few seconds at most for a
    // reader that is not reading, and the descriptor gets its own flags back.
    void finish();

    // For lines of another kind that share standard output (the event stream with --events -).
    StreamWriter &writer() { return m_out; }

private:
    StreamWriter m_out;
};
