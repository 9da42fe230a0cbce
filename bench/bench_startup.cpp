#include "fakeservices.h"
#include "measure.h"
#include "settingsfolder.h"
#include "startup/frmsokutei.h"
#include "startup/startup.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

// From process start to the main window on screen, and what the idle program holds.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    SettingsFolder folder;
    folder.writeDefaults();
    folder.linkMissingCom1();
    FakeServices fake;
    Startup startup(folder.path(), fake.services());
    startup.Main();
    while (!startup.mainWindow()->windowHandle() || !startup.mainWindow()->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double shown = Measure::sinceProcessStart();
    Measure::report("process start to main window shown", shown * 1000, "ms", "");

    const double cpu0 = Measure::cpuSeconds();
    QEventLoop idle;
    QTimer::singleShot(3000, &idle, &QEventLoop::quit);
    idle.exec();
    Measure::report("resident memory when idle", Measure::residentMiB(), "MiB", "");
    Measure::report("CPU s per wall s when idle", (Measure::cpuSeconds() - cpu0) / 3.0, "s/s", "< 0.01");
    return 0;
}
