#include "startup/windowedprogram.h"

#include "app/programversion.h"
#include "app/startoptions.h"
#include "app/texts.h"
#include "platform/filedialogs.h"
#include "platform/messageboxes.h"
#include "platform/processexit.h"
#include "platform/trayicon.h"
#include "platform/uifont.h"
#include "platform/urlopener.h"
#include "serial/virtualport.h"
#include "startup/startup.h"
#include "startup/windowtexts.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {
// Without any display the toolkit aborts with a long message; one clear line is better.
bool displayMissing()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    return !set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM");
#else
    return false;
#endif
}
} // namespace

int runWindowed(int &argc, char **argv, const StartOptions &options)
{
    if (displayMissing()) {
        std::fprintf(stderr,
                     "kalo_rs232c: no display found (DISPLAY is not set); "
                     "on a machine without a screen run it as: xvfb-run -a %s, "
                     "or without windows: %s --headless\n",
                     argv[0], argv[0]);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kalo_rs232c"));
    QApplication::setApplicationVersion(ProgramVersion::fileVersion());
    // The window lives on in the notification area when it is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    UiFont::applyDefault();

    QString error;
    const QString folder = options.resolveFolder(QCoreApplication::applicationDirPath(), &error);

    QtMessageBoxes messages;
    QtTrayIcon tray;
    QtFileDialogs fileDialogs;
    DesktopUrlOpener urls;
    Startup *startupPtr = nullptr;
    RealProcessExit exit([&startupPtr] {
        if (startupPtr)
            startupPtr->releaseInstanceLock();
    });
    WindowServices services;
    services.messages = &messages;
    services.tray = &tray;
    services.exit = &exit;
    services.fileDialogs = &fileDialogs;
    services.urls = &urls;

    if (folder.isEmpty()) {
        std::fprintf(stderr, "kalo_rs232c: %s\n", error.toUtf8().constData());
        messages.warning(nullptr, Texts::appTitle(), Texts::noSettingsFolder());
        return 1;
    }

    Startup startup(folder, services);
    startupPtr = &startup;
    VirtualPort virtualPort;
    startup.setPacingAllowed(options.paced);
    if (options.virtualPort) {
        if (!virtualPort.open(&error)) {
            std::fprintf(stderr, "kalo_rs232c: the virtual port cannot be made: %s\n",
                         error.toUtf8().constData());
            return 1;
        }
        virtualPort.setPacingAllowed(options.paced);
        startup.setPortDevice(virtualPort.portPath(), virtualPort.hostPath());
        startup.setOutputCable(&virtualPort);
    } else {
        startup.setPortDevice(options.portDevice);
    }
    if (!startup.Main()) {
        if (startup.refusal().isEmpty())
            return 0;
        std::fprintf(stderr, "kalo_rs232c: %s\n", startup.refusal().toUtf8().constData());
        return 1;
    }
    // Also on standard output, for whoever started the program from a script; only once the
    // run is sure, so that a refused second instance names no port.
    if (options.virtualPort) {
        std::printf("HOST_PORT=%s\n", virtualPort.hostPath().toUtf8().constData());
        std::fflush(stdout);
    }
    return app.exec();
}
