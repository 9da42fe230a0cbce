#include "serial/portname.h"

#include <QDir>
#include <QFileInfo>

QString portDeviceName(int portNumber, const QString &appFolder)
{
    const QString comName = QStringLiteral("COM%1").arg(portNumber);
#ifdef Q_OS_WIN
    Q_UNUSED(appFolder);
    return comName;
#else
    if (!appFolder.isEmpty()) {
        const QFileInfo mapped(QDir(appFolder).filePath(comName));
        // A dangling link still names the device the user meant; opening it reports why not.
        if (mapped.exists() || mapped.isSymLink())
            return mapped.absoluteFilePath();
    }
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}
