#include "measure.h"
#include "platform/waitseconds.h"

#include <QCoreApplication>

// How much processor a long wait costs: the program spends most of its life in one.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const double cpu0 = Measure::cpuSeconds();
    const double wall0 = Measure::monotonicSeconds();
    WaitSeconds(5.0);
    const double wall = Measure::monotonicSeconds() - wall0;
    const double cpu = Measure::cpuSeconds() - cpu0;
    Measure::report("CPU s per wall s during a 5 s wait", cpu / wall, "s/s", "< 0.01", "1.0");
    Measure::report("5 s wait took", wall, "s", ">= 5, never less");
    return 0;
}
