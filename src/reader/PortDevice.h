#pragma once
// Which serial device a reader port number means. On Windows port n is
// "COMn". Elsewhere the settings file may name a device per port (section
// "RS232C", key "Device<n>", for example Device1=/dev/ttyUSB0). Without that
// key port n is /dev/ttyS<n-1> when that device is present; otherwise the
// number takes the next serial device present that no key names and no
// number below it took (a USB serial adapter: /dev/ttyACM0, /dev/ttyUSB0),
// and failing that /dev/ttyS<n-1> all the same. Port numbers below 1 name no
// device (empty). Tests replace the mapping through the handler, or the list
// of devices present through the lister.

#include <QString>
#include <QStringList>
#include <functional>

namespace seams {
using PortDeviceHandler = std::function<QString(int port)>;
// An empty handler restores the mapping described above.
void setPortDeviceHandler(PortDeviceHandler handler);
QString portDevice(int port);

// The serial devices present on the machine (their paths). The real lister
// asks Qt Serial Port; an empty handler restores it.
using SerialDeviceLister = std::function<QStringList()>;
void setSerialDeviceLister(SerialDeviceLister lister);
QStringList serialDevices();
} // namespace seams

namespace reader {

// For this run only (the demo): the configured port (app::runSettings().comPort, whatever it is
// set to) means this device, ahead of the handler and the settings file; the
// other numbers keep their meaning. An empty device ends the override.
void setConfiguredPortDeviceForThisRun(const QString &device);

// The mapping without the handler.
QString defaultPortDevice(int port);

} // namespace reader

// The highest port number the program offers.
constexpr int kMaxPortNumber = 16;
