#include "ConfigurationService.h"

#include "PortWorker.h"
#include "TerminalService.h"

// The configurator's windowless parts: the .act file, the serial transfer
// with its transfer log, and termset-cli's configuration in words.
#include "core/ActFile.h"
#include "core/AppPaths.h"
#include "core/CRK40Comm.h"
#include "ConfigText.h"
#include "core/LastTerminal.h"
#include "core/MemoryImage.h"
#include "core/SerialTransfer.h"
#include "core/TransferLog.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace collector {

namespace {

constexpr qint64 kMaxActBytes = 64 * 1024;

// A control of its own, off-line and with no register file, for a
// transfer while the collecting control has let go of the port.
bool createTransferControl(CRK40Comm& comm, QString* error)
{
    if (!comm.Create()) {
        *error = comm.errorText();
        return false;
    }
    comm.SetWorkOnLine(false);
    comm.SetAsciiFileName(QString());
    return true;
}

Reply transferFailure(const QString& port, const serialxfer::Outcome& out)
{
    switch (out.status) {
    case serialxfer::Outcome::PortFailed:
        return Reply::error(503, QString("%1 cannot be opened: %2").arg(port, out.reason));
    case serialxfer::Outcome::WordFailed:
        return Reply::error(502, QString("%1: word %2 failed every attempt (result code %3)%4")
                                     .arg(port).arg(out.failedAddress).arg(out.lastResult)
                                     .arg(out.reason.isEmpty() ? QString() : ": " + out.reason));
    default:
        return Reply::error(502, QString("%1: the transfer stopped").arg(port));
    }
}

QJsonObject describe(const QString& port, const image::MemoryImage& config)
{
    QJsonObject words;
    for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
        words[QString::number(a)] = config.word(a);
    QJsonArray fields;
    for (const auto& f : termsetcli::describeFields(config))
        fields.append(QJsonObject{{"page", f.page}, {"row", f.row}, {"column", f.column}, {"value", f.value},
                                  {"address", f.address}});
    return {{"port", port},
            {"words", words},
            {"fields", fields},
            {"text", termsetcli::showText(config)},
            {"act", QString::fromLatin1(act::formatImage(config))}};
}

// Runs `op` on the port's thread with the port free; the reply comes back here.
void withPortFree(PortWorker* port, const Responder& responder, std::function<Reply(int com, int baud)> op)
{
    QMetaObject::invokeMethod(port, [port, responder, op = std::move(op)] {
        port->runWithPortFree([&](int com, int baud, const QString& unavailable) {
            const Reply reply = com > 0 ? op(com, baud)
                                        : Reply::error(503, QString("%1: %2").arg(port->portName(), unavailable));
            QMetaObject::invokeMethod(QCoreApplication::instance(), [responder, reply] { responder.send(reply); });
        });
    });
}

} // namespace

ConfigurationService::ConfigurationService(TerminalService& terminals, QString transferLog)
    : m_terminals(terminals), m_transferLog(std::move(transferLog))
{
}

QString ConfigurationService::defaultTransferLog()
{
    return apppaths::transferLogPath();   // termset-cli's and Termset's log
}

QString ConfigurationService::keysLogBeside(const QString& transferLog)
{
    return QFileInfo(transferLog).dir().filePath(QStringLiteral("keys.log"));
}

void ConfigurationService::read(PortWorker* port, const Responder& responder)
{
    readThen(port, responder, [name = port->portName()](const image::MemoryImage& words) {
        return Reply::json(describe(name, words));
    });
}

void ConfigurationService::differences(PortWorker* port, const QByteArray& actFile, const Responder& responder)
{
    image::MemoryImage wanted;
    if (const auto refused = loadAct(actFile, wanted))
        return responder.send(*refused);
    readThen(port, responder, [name = port->portName(), wanted](const image::MemoryImage& present) {
        return Reply::json({{"port", name},
                            {"differences", QJsonArray::fromStringList(termsetcli::diffLines(present, wanted))}});
    });
}

// Reads the terminal's configuration with the serial transfer and hands it to
// `answer`; a failed transfer answers with its reason instead.
void ConfigurationService::readThen(PortWorker* port, const Responder& responder,
                                    std::function<Reply(const image::MemoryImage&)> answer)
{
    withPortFree(port, responder, [name = port->portName(), answer = std::move(answer)](int com, int baud) {
        CRK40Comm comm;
        QString error;
        if (!createTransferControl(comm, &error))
            return Reply::error(500, QString("cannot create a control for the transfer: %1").arg(error));
        for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
            comm.setWord(a, QStringLiteral("0000"));
        LastTerminal record;
        serialxfer::ITransferObserver observer;
        const auto out = serialxfer::SerialTransfer(comm, record, nullptr).read({com - 1, baud}, observer);
        if (out.status != serialxfer::Outcome::Done)
            return transferFailure(name, out);
        image::MemoryImage words;
        words.copyFrom(comm);
        return answer(words);
    });
}

// Loads an .act text into config; the answer that refuses it when it is not one.
std::optional<Reply> ConfigurationService::loadAct(const QByteArray& actFile, image::MemoryImage& config)
{
    if (actFile.size() > kMaxActBytes)
        return Reply::error(413, "larger than any configuration file");
    config.clear();
    QBuffer buffer;
    buffer.setData(actFile);
    buffer.open(QIODevice::ReadOnly);
    const act::LoadResult loaded = act::loadImage(buffer, config);
    if (!loaded.ok)
        return Reply::error(400, QString("not a configuration file (.act): line %1: %2")
                                     .arg(loaded.invalidLine).arg(loaded.reason));
    return std::nullopt;
}

void ConfigurationService::write(PortWorker* port, const QByteArray& actFile, const QString& user,
                                 const Responder& responder)
{
    image::MemoryImage config;
    if (const auto refused = loadAct(actFile, config))
        return responder.send(*refused);
    qInfo("%s writes a configuration to %s", qPrintable(user), qPrintable(port->portName()));
    withPortFree(port, responder, [name = port->portName(), config, log = m_transferLog](int com, int baud) {
        CRK40Comm comm;
        QString error;
        if (!createTransferControl(comm, &error))
            return Reply::error(500, QString("cannot create a control for the transfer: %1").arg(error));
        for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
            comm.setWord(a, config.word(a));
        LastTerminal record;
        const translog::TransferLog transferLog(log);
        serialxfer::ITransferObserver observer;
        const auto out = serialxfer::SerialTransfer(comm, record, &transferLog)
                             .write(serialxfer::PortChoice{com - 1, baud}, observer);
        if (out.status != serialxfer::Outcome::Done)
            return transferFailure(name, out);
        QJsonObject o = describe(name, config);
        o["written"] = out.wordsDone;
        o["logged"] = out.logged;
        if (!out.logged)
            o["log_error"] = out.logError;
        return Reply::json(o);
    });
}

} // namespace collector
