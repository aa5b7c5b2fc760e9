#pragma once

// A terminal's configuration (its thirty register words) through the HTTP
// API: read and shown in words as `termset-cli show` does, and written with
// the same serial transfer as termset-cli (row words marked, attempts and
// pauses) and the same transfer-log line. The one place in the collector
// that uses the configurator's transfer and file code.

#include "HttpTransport.h"

#include <QString>

namespace collector {

class PortWorker;
class TerminalService;

class ConfigurationService {
public:
    ConfigurationService(TerminalService& terminals, QString transferLog);

    void read(PortWorker* port, const Responder& responder);
    void write(PortWorker* port, const QByteArray& actFile, const QString& user, const Responder& responder);

    // The transfer log termset-cli appends to by default, and keys.log beside it.
    static QString defaultTransferLog();
    static QString keysLogBeside(const QString& transferLog);

private:
    TerminalService& m_terminals;
    QString m_transferLog;
};

} // namespace collector
