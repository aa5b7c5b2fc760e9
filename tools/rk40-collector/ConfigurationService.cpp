#include "ConfigurationService.h"

#include "TerminalService.h"

#include <QDir>
#include <QFileInfo>

namespace collector {

ConfigurationService::ConfigurationService(TerminalService& terminals, QString transferLog)
    : m_terminals(terminals), m_transferLog(std::move(transferLog))
{
}

QString ConfigurationService::defaultTransferLog()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.local/state";
    return base + "/Veltrona/Termset/log";
}

QString ConfigurationService::keysLogBeside(const QString& transferLog)
{
    return QFileInfo(transferLog).dir().filePath(QStringLiteral("keys.log"));
}

void ConfigurationService::read(PortWorker*, const Responder& responder)
{
    responder.send(Reply::error(501, "reading configurations is not available in this build"));
}

void ConfigurationService::write(PortWorker*, const QByteArray&, const QString&, const Responder& responder)
{
    responder.send(Reply::error(501, "writing configurations is not available in this build"));
}

} // namespace collector
