#pragma once

// The transfer log: one line per configuration written into a terminal,
// appended to the file "log" in the program folder and never read back.
//   "06.12.2026. 05:04:31   COM_PORT: 03   REMOTE: None:00000" CR LF

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

namespace translog {

// The line for a write at the given local time: day, month, year, time,
// the serial port number (2 digits), the address text ("None" for a local
// serial port) and the TCP port (5 digits), ended by CR LF. Line breaks and
// other control characters in the address are replaced by blanks so that
// one write always makes one line.
QByteArray formatLine(const QDateTime& when, int serialPort, const QString& address, int tcpPort);

using Clock = std::function<QDateTime()>;

class TransferLog {
public:
    // path: the log file; clock: the local time source (tests fix it).
    explicit TransferLog(QString path, Clock clock = &QDateTime::currentDateTime);

    // Appends one line at the end of the file, creating the file when it does
    // not exist. Other programs may read the file meanwhile. Returns false
    // with the reason in error when the file could not be opened or written.
    bool append(int serialPort, const QString& address, int tcpPort, QString* error = nullptr) const;

    QString path() const { return m_path; }

private:
    QString m_path;
    Clock m_clock;
};

} // namespace translog
