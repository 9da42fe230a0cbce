#pragma once

#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

// Small measuring helpers shared by the benchmarks.
namespace Measure {

inline double cpuSeconds()
{
    rusage r {};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec)
            + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

inline double monotonicSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Resident memory of this process in MiB.
inline double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// Seconds since this process started, from the kernel's own start time.
inline double sinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the whole line
    timespec boot {};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    return double(boot.tv_sec) + double(boot.tv_nsec) / 1e9 - startTicks / double(sysconf(_SC_CLK_TCK));
}

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size() - 1) + 0.5));
    return values[index];
}

// One figure as a line "name|value|unit|target" that scripts/bench turns into a table.
inline void report(const char *name, double value, const char *unit, const char *target,
                   const char *original = "")
{
    // Three decimals are plenty for every figure measured here.
    const double rounded = double(qint64(value * 1000 + (value < 0 ? -0.5 : 0.5))) / 1000;
    std::printf("FIGURE|%s|%.10g|%s|%s|%s\n", name, rounded, unit, target, original);
    std::fflush(stdout);
}

} // namespace Measure
