#include "appfolder.h"
#include "filedialogs.h"
#include "messageboxes.h"
#include "processexit.h"
#include "startup.h"
#include "trayicon.h"
#include "uifont.h"
#include "urlopener.h"
#include "version.h"

#include <QApplication>
#include <QFileInfo>

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

int main(int argc, char *argv[])
{
    if (displayMissing()) {
        std::fprintf(stderr,
                     "kalo_rs232c: no display found (DISPLAY is not set); "
                     "on a machine without a screen run it as: xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kalo_rs232c"));
    QApplication::setApplicationVersion(QStringLiteral(KALO_FILE_VERSION));
    // The window lives on in the notification area when it is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    UiFont::applyDefault();

    const QString folder = AppFolder::resolve(QCoreApplication::applicationDirPath());

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
        messages.warning(nullptr, QStringLiteral("Kalo_RS232Cシミュレータ"),
                         QStringLiteral("設定を保存できるフォルダがありません。"));
        return 1;
    }

    Startup startup(folder, services);
    startupPtr = &startup;
    if (!startup.Main())
        return 0;
    return app.exec();
}
