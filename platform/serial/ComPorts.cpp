#include "ComPorts.h"

#include <QDir>
#include <QSettings>

namespace serial {

QString portsFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.config";
    return base + "/Veltrona/ports.ini";
}

static QString fromFile(int n)
{
    QSettings file(portsFilePath(), QSettings::IniFormat);
    return file.value(QString("Ports/COM%1").arg(n)).toString();
}

QString comDevicePath(int n)
{
    if (n < kFirstCom || n > kLastCom)
        return {};
    const QString env = qEnvironmentVariable(qPrintable(QString("RK40_COM%1").arg(n)));
    if (!env.isEmpty())
        return env;
    const QString configured = fromFile(n);
    if (!configured.isEmpty())
        return configured;
    return QString("/dev/ttyS%1").arg(n - 1);
}

QString comMappingSource(int n)
{
    if (n < kFirstCom || n > kLastCom)
        return {};
    if (!qEnvironmentVariable(qPrintable(QString("RK40_COM%1").arg(n))).isEmpty())
        return "environment";
    if (!fromFile(n).isEmpty())
        return "ports.ini";
    return "default";
}

} // namespace serial
