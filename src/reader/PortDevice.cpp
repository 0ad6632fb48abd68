#include "reader/PortDevice.h"

#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "reader/ReaderLink.h"

#include <QFileInfo>
#include <QSerialPortInfo>

void reader::setConfiguredPortDeviceForThisRun(const QString &device) { reader::link().portDeviceForThisRun = device; }

namespace seams {
namespace {
PortDeviceHandler g_portDevice;
SerialDeviceLister g_serialDevices;
} // namespace
void setPortDeviceHandler(PortDeviceHandler handler) { g_portDevice = std::move(handler); }
QString portDevice(int port)
{
    if (!reader::link().portDeviceForThisRun.isEmpty() && port == app::comPortNumber())
        return reader::link().portDeviceForThisRun;
    return g_portDevice ? g_portDevice(port) : reader::defaultPortDevice(port);
}

void setSerialDeviceLister(SerialDeviceLister lister) { g_serialDevices = std::move(lister); }
QStringList serialDevices()
{
    if (g_serialDevices)
        return g_serialDevices();
    QStringList paths;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        paths << info.systemLocation();
    paths.sort();
    return paths;
}
} // namespace seams

#ifndef Q_OS_WIN
namespace {
// The device the settings file names for port; while the file is away
// (deleted or moved during the run), the one it named when last read.
QString configuredDevice(int port)
{
    QMap<int, QString> &known = reader::link().configuredPortDevices;
    const QString file = app::settingsFileName();
    if (!QFileInfo::exists(file))
        return known.value(port);
    const QString configured =
        app::readProfileString(kSectionPort, QStringLiteral("Device%1").arg(port), file).trimmed();
    return known[port] = configured == kIniMissing ? QString() : configured;
}
QString fixedDevice(int port) { return QStringLiteral("/dev/ttyS%1").arg(port - 1); }
} // namespace
#endif

QString reader::defaultPortDevice(int port)
{
    if (port < 1)
        return QString();
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    const QString configured = configuredDevice(port);
    if (!configured.isEmpty())
        return configured;
    if (port > kMaxPortNumber)
        return fixedDevice(port);
    // Numbers without a key, from 1 up, share out the devices present that no
    // key names; a number whose own /dev/ttyS device is present keeps it.
    QStringList present = seams::serialDevices();
    QStringList keyed;
    for (int n = 1; n <= kMaxPortNumber; ++n)
        keyed << configuredDevice(n);
    QStringList spare;
    for (const QString &device : present)
        if (!keyed.contains(device) && !device.startsWith(QLatin1String("/dev/ttyS")))
            spare << device;
    for (int n = 1; n <= port; ++n) {
        if (!keyed[n - 1].isEmpty())
            continue;
        const bool own = present.contains(fixedDevice(n));
        if (n == port)
            return own || spare.isEmpty() ? fixedDevice(n) : spare.first();
        if (!own && !spare.isEmpty())
            spare.removeFirst();
    }
    return fixedDevice(port);
#endif
}
