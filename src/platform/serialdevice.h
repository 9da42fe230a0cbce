#pragma once

#include <QString>
#include <QtGlobal>

// What the serial-port component asks the system of a device beyond what QSerialPort tells:
// how much the driver still holds for the line, whether a device that reported an error is
// gone, and what keeps a user from opening it. handle is the open port's.
namespace SerialDevice {

// Bytes in the driver's output queue; 0 when it cannot tell.
qint64 driverQueue(qintptr handle);
// Bytes received that the driver holds and the program has not read; 0 when it cannot tell.
qint64 driverInput(qintptr handle);

// Has the driver send XOFF (stop) or XON ahead of the output it holds.
void sendFlowCharacter(qintptr handle, bool stop);

// Whether the device is a pseudo-terminal's slave (a pair of socat's, say): no UART keeps its
// bytes to the line's speed.
bool isPseudoTerminal(qintptr handle);

enum class State { Working, HungUp, Failed };
// The device as it is now, without waiting.
State state(qintptr handle);

// The group the user would have to be in to open device; empty when they may open it
// already, or when nothing is known.
QString groupNeededFor(const QString &device);

} // namespace SerialDevice
