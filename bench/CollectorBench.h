#pragma once

// Shared pieces of rk40-collector's benchmarks: a process's processor time,
// a free loopback port, and the private folders, registered control and API
// token that a collector of its own needs.

#include "platform/component/Registry.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace bench {

// User and system time of a process, in seconds.
inline double processCpuSeconds(qint64 pid)
{
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // Fields 14 and 15 of the whole line (utime, stime) are 11 and 12 after the name.
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

inline quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return s.serverPort();
}

// Points the per-user folders into dir, registers the control beside this
// program there, and returns a viewer token for the API; exits on failure.
inline QByteArray privateCollectorSite(const QTemporaryDir& dir)
{
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
        qputenv(v, QFile::encodeName(dir.filePath(v)));
    QString error;
    const QString folder = QCoreApplication::applicationDirPath();
    if (!component::succeeded(component::registerModule(folder + "/libRK40COMM.so", false, &error))) {
        std::fprintf(stderr, "cannot register the control: %s\n", qPrintable(error));
        std::exit(1);
    }
    QProcess tokenAdd;
    tokenAdd.start(folder + "/rk40-collector", {"token", "add", "bench", "--role", "viewer"});
    tokenAdd.waitForFinished(30000);
    const QByteArray token = tokenAdd.readAllStandardOutput().trimmed();
    if (token.isEmpty()) {
        std::fprintf(stderr, "rk40-collector gave no API token\n");
        std::exit(1);
    }
    return token;
}

} // namespace bench
