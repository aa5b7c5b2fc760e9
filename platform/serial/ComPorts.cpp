#include "platform/serial/ComPorts.h"

#include "platform/folders/UserFolders.h"

#include "platform/serial/PortDiscovery.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace serial {

QString portsFilePath()
{
    return userfolders::path(userfolders::Kind::Config, QStringLiteral("ports.ini"));
}

namespace {

QString fromEnvironment(int n) { return qEnvironmentVariable(qPrintable(QString("RK40_COM%1").arg(n))); }

QString fromFile(int n)
{
    QSettings file(portsFilePath(), QSettings::IniFormat);
    return file.value(QString("Ports/COM%1").arg(n)).toString();
}

QString assigned(int n)
{
    const QString env = fromEnvironment(n);
    return env.isEmpty() ? fromFile(n) : env;
}

// The detected devices fill the names that nothing assigns, in order; a
// device assigned to any name is left out, so that no adapter gets two
// names and none loses its name to another's assignment.
QString detected(int n, QList<DetectedPort> ports)
{
    int unassignedBefore = 0;
    for (int m = kFirstCom; m <= kLastCom; ++m) {
        const QString path = assigned(m);
        if (path.isEmpty()) {
            if (m < n)
                ++unassignedBefore;
            continue;
        }
        if (const std::optional<DetectedPort> taken = findDetected(ports, path)) {
            ports.removeIf([&](const DetectedPort& p) { return p.info.path == taken->info.path; });
        }
    }
    return unassignedBefore < ports.size() ? ports.at(unassignedBefore).stablePath() : QString();
}

QString sameNode(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QFileInfo(path).absoluteFilePath() : c;
}

} // namespace

// Detection takes a scan of the machine's devices: only a name that nothing
// assigns needs it.
QString comDevicePath(int n)
{
    if (n < kFirstCom || n > kLastCom)
        return {};
    const QString explicitPath = assigned(n);
    return explicitPath.isEmpty() ? detected(n, detectPorts()) : explicitPath;
}

QString comDevicePath(int n, const QList<DetectedPort>& found)
{
    if (n < kFirstCom || n > kLastCom)
        return {};
    if (const QString env = fromEnvironment(n); !env.isEmpty())
        return env;
    if (const QString configured = fromFile(n); !configured.isEmpty())
        return configured;
    return detected(n, found);
}

QString comMappingSource(int n)
{
    return n >= kFirstCom && n <= kLastCom && !assigned(n).isEmpty() ? comMappingSource(n, {})
                                                                       : comMappingSource(n, detectPorts());
}

QString comMappingSource(int n, const QList<DetectedPort>& found)
{
    if (n < kFirstCom || n > kLastCom)
        return {};
    if (!fromEnvironment(n).isEmpty())
        return "environment";
    if (!fromFile(n).isEmpty())
        return "ports.ini";
    return detected(n, found).isEmpty() ? "none" : "detected";
}

bool assignComDevice(int n, const QString& devicePath)
{
    if (n < kFirstCom || n > kLastCom || devicePath.isEmpty())
        return false;
    const std::optional<DetectedPort> port = findDetected(detectPorts(), devicePath);
    QSettings file(portsFilePath(), QSettings::IniFormat);
    file.setValue(QString("Ports/COM%1").arg(n), port ? port->stablePath() : devicePath);
    file.sync();
    return file.status() == QSettings::NoError;
}

int comNumberForPath(const QString& path)
{
    if (path.isEmpty())
        return 0;
    const QString node = sameNode(path);
    const QList<DetectedPort> found = detectPorts();
    for (int n = kFirstCom; n <= kLastCom; ++n) {
        const QString mapped = comDevicePath(n, found);
        if (!mapped.isEmpty() && sameNode(mapped) == node)
            return n;
    }
    return 0;
}

} // namespace serial
