#include "core/TransferLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace translog {

QByteArray formatLine(const QDateTime& when, int serialPort, const QString& address, int tcpPort)
{
    QString safeAddress = address;
    for (QChar& c : safeAddress) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    const QDate d = when.date();
    const QTime t = when.time();
    return QString::asprintf("%02d.%02d.%04d. %02d:%02d:%02d   COM_PORT: %02d   REMOTE: %s:%05d\r\n", d.day(),
                                d.month(), d.year(), t.hour(), t.minute(), t.second(), serialPort,
                                safeAddress.toUtf8().constData(), tcpPort)
        .toUtf8();
}

TransferLog::TransferLog(QString path, Clock clock) : m_path(std::move(path)), m_clock(std::move(clock)) {}

bool TransferLog::append(int serialPort, const QString& address, int tcpPort, QString* error) const
{
    const QByteArray line = formatLine(m_clock(), serialPort, address, tcpPort);
    // The log's folder is made on the first write (a per-user state folder
    // may not exist yet).
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QFile file(m_path);
    // Append mode: every write lands at the current end of the file, also
    // when another program appends meanwhile. One write call per line.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (file.write(line) != line.size() || !file.flush()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace translog
