#pragma once

#include <QString>

// The device's entry under /sys/class/tty, in a folder of its own that the preload library
// shows the host instead of the real one: serial libraries (libserialport) refuse a device
// without one and read its link to learn the bus. The entry says a platform device, so no
// library goes looking for USB descriptors that are not there.
namespace DeviceTree {

// root stands for /sys; name is the device's file name (ttyUSB0). False with the reason.
bool make(const QString &root, const QString &name, QString *error);

} // namespace DeviceTree
