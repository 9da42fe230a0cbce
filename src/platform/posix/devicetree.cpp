// Windows: none; there is no /sys to stand in for.

#include "platform/posix/devicetree.h"

#include "preload/deviceprotocol.h"

#include <QDir>
#include <QFile>

namespace DeviceTree {

bool make(const QString &root, const QString &name, QString *error)
{
    const QString device = QStringLiteral(KALO_DEVICE_SYSFS_FOLDER "/tty/") + name;
    const QDir top(root);
    QFile uevent(top.filePath(device + QStringLiteral("/uevent")));
    const bool made = top.mkpath(device) && top.mkpath(QStringLiteral("class/tty"))
            && QFile::link(QStringLiteral("../../") + device,
                           top.filePath(QStringLiteral("class/tty/") + name))
            && QFile::link(QStringLiteral("../../../../../class/tty"),
                           top.filePath(device + QStringLiteral("/subsystem")))
            && uevent.open(QIODevice::WriteOnly)
            && uevent.write(QStringLiteral("DEVNAME=%1\n").arg(name).toUtf8()) > 0;
    if (!made)
        *error = QStringLiteral("the device's entry cannot be made in %1").arg(root);
    return made;
}

} // namespace DeviceTree
