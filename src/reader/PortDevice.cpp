#include "reader/PortDevice.h"

#include "app/ProfileFile.h"
#include "app/Settings.h"

namespace seams {
namespace {
PortDeviceHandler g_portDevice;
}
void setPortDeviceHandler(PortDeviceHandler handler) { g_portDevice = std::move(handler); }
QString portDevice(int port) { return g_portDevice ? g_portDevice(port) : defaultPortDevice(port); }
} // namespace seams

QString defaultPortDevice(int port)
{
    if (port < 1)
        return QString();
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    const QString configured =
        basCommon_GetIniString(kSectionPort, QStringLiteral("Device%1").arg(port), settingsFileName()).trimmed();
    if (!configured.isEmpty() && configured != kIniMissing)
        return configured;
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}
