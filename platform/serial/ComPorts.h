#pragma once

// The names COM1..COM10 map to device paths. The mapping is shared by the
// control and the configurator and can be changed per port:
//   1. the environment variable RK40_COM<n> (e.g. RK40_COM1=/dev/pts/7),
//   2. the per-user file $XDG_CONFIG_HOME/Veltrona/ports.ini, section [Ports],
//      key COM<n>,
//   3. otherwise /dev/ttyS<n-1>.

#include <QString>

namespace serial {

constexpr int kFirstCom = 1;
constexpr int kLastCom = 10;

QString portsFilePath();
// The device path for COM<n>, n = 1..10; empty for other n.
QString comDevicePath(int n);
// Where the mapping of COM<n> came from: "environment", "ports.ini" or "default".
QString comMappingSource(int n);

} // namespace serial
