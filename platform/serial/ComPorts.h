#pragma once

// The names COM1..COM10 map to device paths. The mapping is shared by the
// control and the configurator and can be changed per port:
//   1. the environment variable RK40_COM<n> (e.g. RK40_COM1=/dev/pts/7),
//   2. the per-user file $XDG_CONFIG_HOME/Veltrona/ports.ini, section [Ports],
//      key COM<n> (a /dev/serial/by-id link where the device has one),
//   3. otherwise the detected devices in their stable order (see
//      detectPorts()), less those that 1 or 2 assign to any COM name, fill
//      the names that nothing assigns, lowest first; a COM name beyond them
//      maps to nothing.

#include "platform/serial/PortDiscovery.h"

#include <QList>
#include <QString>

namespace serial {

constexpr int kFirstCom = 1;
constexpr int kLastCom = 10;

QString portsFilePath();
// The device path for COM<n>, n = 1..10; empty for other n and for a COM
// name with no device behind it.
QString comDevicePath(int n);
// Where the mapping of COM<n> came from: "environment", "ports.ini",
// "detected" or "none".
QString comMappingSource(int n);
// The same over devices detected once by the caller (detectPorts()), for a
// caller that asks about every COM name at once.
QString comDevicePath(int n, const QList<DetectedPort>& detected);
QString comMappingSource(int n, const QList<DetectedPort>& detected);

// Stores a device for COM<n> in ports.ini (its by-id link when it has one).
// False when n is out of range or the file cannot be written.
bool assignComDevice(int n, const QString& devicePath);

// The COM number whose mapping names the same device node as path (1..10),
// or 0 when none does.
int comNumberForPath(const QString& path);

} // namespace serial
