#pragma once
// Which serial device a reader port number means. On Windows port n is
// "COMn". Elsewhere the settings file may name a device per port (section
// "RS232C", key "Device<n>", for example Device1=/dev/ttyUSB0); without that
// key port n is /dev/ttyS<n-1>. Port numbers below 1 name no device (empty).
// Tests replace the mapping through the handler.

#include <QString>
#include <functional>

namespace seams {
using PortDeviceHandler = std::function<QString(int port)>;
// An empty handler restores the mapping described above.
void setPortDeviceHandler(PortDeviceHandler handler);
QString portDevice(int port);
} // namespace seams

// The mapping without the handler.
QString defaultPortDevice(int port);
