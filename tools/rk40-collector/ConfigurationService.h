#pragma once

// A terminal's configuration (its thirty register words) through the HTTP
// API: read and shown in words as `termset-cli show` does, and written with
// the same serial transfer as termset-cli (row words marked, attempts and
// pauses) and the same transfer-log line. The one place in the collector
// that uses the configurator's transfer and file code.

#include "HttpTransport.h"

#include "core/MemoryImage.h"

#include <QString>

#include <functional>
#include <optional>

namespace collector {

class PortWorker;
class TerminalService;

class ConfigurationService {
public:
    ConfigurationService(TerminalService& terminals, QString transferLog);

    void read(PortWorker* port, const Responder& responder);
    void write(PortWorker* port, const QByteArray& actFile, const QString& user, const Responder& responder);
    // The fields, in words, in which an .act file differs from the terminal's configuration.
    void differences(PortWorker* port, const QByteArray& actFile, const Responder& responder);

    // The transfer log termset-cli appends to by default, and keys.log beside it.
    static QString defaultTransferLog();
    static QString keysLogBeside(const QString& transferLog);

private:
    void readThen(PortWorker* port, const Responder& responder, std::function<Reply(const image::MemoryImage&)> answer);
    static std::optional<Reply> loadAct(const QByteArray& actFile, image::MemoryImage& config);

    TerminalService& m_terminals;
    QString m_transferLog;
};

} // namespace collector
