#include "ComPorts.h"

#include "PortDiscovery.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace serial {

QString portsFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.config";
    return base + "/Veltrona/ports.ini";
}

namespace {

QString fromEnvironment(int n) { return qEnvironmentVariable(qPrintable(QString("RK40_COM%1").arg(n))); }

QString fromFile(int n)
{
    QSettings file(portsFilePath(), QSettings::IniFormat);
    return file.value(QString("Ports/COM%1").arg(n)).toString();
}

QString detected(int n)
{
    const QList<DetectedPort> ports = detectPorts();
    return n - 1 < ports.size() ? ports.at(n - 1).stablePath() : QString();
}

QString sameNode(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QFileInfo(path).absoluteFilePath() : c;
}

} // namespace

QString comDevicePath(int n)
{
    if (n < kFirstCom || n > kLastCom)
        return {};
    if (const QString env = fromEnvironment(n); !env.isEmpty())
        return env;
    if (const QString configured = fromFile(n); !configured.isEmpty())
        return configured;
    return detected(n);
}

QString comMappingSource(int n)
{
    if (n < kFirstCom || n > kLastCom)
        return {};
    if (!fromEnvironment(n).isEmpty())
        return "environment";
    if (!fromFile(n).isEmpty())
        return "ports.ini";
    return detected(n).isEmpty() ? "none" : "detected";
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
    for (int n = kFirstCom; n <= kLastCom; ++n) {
        const QString mapped = comDevicePath(n);
        if (!mapped.isEmpty() && sameNode(mapped) == node)
            return n;
    }
    return 0;
}

} // namespace serial
