#pragma once

#include <QObject>
#include <QString>

#include <cstdio>

class CommLog;

// Standard output of the headless program: the log as it grows, one UTF-8 line per entry
// as the log list shows it, and the program's own KEY=value lines. Every line is flushed
// at once, because whoever reads it (a test, a pipe to a file) is waiting for it.
class ConsoleLines : public QObject
{
    Q_OBJECT

public:
    explicit ConsoleLines(std::FILE *out, QObject *parent = nullptr);

    void follow(const CommLog &log);
    void print(const QString &line);

private:
    std::FILE *m_out = nullptr;
};
