#pragma once

#include <QString>

// The device behind port number n: "COMn" on Windows; elsewhere a link or device called
// "COMn" in the application folder when one is there (the way Wine maps its COM ports),
// otherwise /dev/ttyS<n-1>.
QString portDeviceName(int portNumber, const QString &appFolder);
