#include "TerminalCommands.h"

#include "core/CRK40Comm.h"
#include "CommandSupport.h"
#include "ConsolePrompter.h"
#include "terminalops/KeyAudit.h"
#include "terminalops/TerminalClock.h"
#include "terminalops/TerminalOps.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <unistd.h>

namespace termsetcli {

namespace {

using terminalops::KeyList;
using terminalops::OpResult;
using terminalops::TerminalOps;

// A key file of this size holds far more keys than any terminal.
constexpr qint64 kMaxKeyFileBytes = 4 * 1024 * 1024;

QString keyTable(const KeyList& keys)
{
    QString out = QStringLiteral("id              access\n");
    for (const terminalops::Key& k : keys)
        out += QStringLiteral("%1  %2\n").arg(k.id).arg(k.access, 6);
    return out;
}

QString keyJson(const Target& target, const terminalops::KeyListing& listing)
{
    QJsonArray keys;
    for (const terminalops::Key& k : listing.keys)
        keys.append(QJsonObject{{QStringLiteral("id"), k.id}, {QStringLiteral("access"), k.access}});
    const QJsonObject doc{{QStringLiteral("port"), targetName(target)},
                          {QStringLiteral("table"), listing.tableNumber},
                          {QStringLiteral("keys"), keys}};
    return QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

QString changeLines(const std::vector<terminalops::KeyChange>& changes)
{
    QString out;
    for (const terminalops::KeyChange& c : changes)
        out += terminalops::describeChange(c) + QLatin1Char('\n');
    return out;
}

// The port is open for the lifetime of this object, closed on every path.
class OpenTerminal {
public:
    OpenTerminal(const TerminalJob& job, const Target& target, ConsolePrompter& prompter)
        : m_target(target), m_prompter(prompter)
    {
        m_status = createControl(m_comm, prompter);
        if (m_status != kExitOk)
            return;
        m_ops.emplace(*m_comm.control());
        const serialxfer::PortChoice choice = portChoice(target);
        const OpResult opened = m_ops->open({choice.portIndex, choice.devicePath, choice.baud});
        if (!opened.ok()) {
            prompter.complain(portFailure(target, opened.words));
            m_status = kExitTransfer;
            return;
        }
        const QString audit = keysLogPath(job.args);
        m_ops->setChangeObserver([this, audit](bool added, const QString& id, int access) {
            QString error;
            const QByteArray line = terminalops::formatAuditLine(QDateTime::currentDateTime(),
                                                                 terminalops::currentUserName(), portName(m_target),
                                                                 added, id, access);
            if (!terminalops::appendAuditLine(audit, line, &error))
                m_prompter.complain(QStringLiteral("the key was changed, but the audit file %1 could not be "
                                                   "written: %2").arg(QDir::toNativeSeparators(audit), error));
        });
    }
    ~OpenTerminal()
    {
        if (m_ops)
            m_ops->close();
    }
    OpenTerminal(const OpenTerminal&) = delete;
    OpenTerminal& operator=(const OpenTerminal&) = delete;

    int status() const { return m_status; }
    TerminalOps& ops() { return *m_ops; }
    // Reports a failed call, naming the port; the exit status.
    int failed(const OpResult& r, const QString& what = {})
    {
        m_prompter.complain(QStringLiteral("%1%2 (%3)").arg(what.isEmpty() ? QString() : what + QStringLiteral(": "),
                                                              r.text(), portName(m_target)));
        return kExitTransfer;
    }

private:
    const Target& m_target;
    ConsolePrompter& m_prompter;
    CRK40Comm m_comm;
    std::optional<TerminalOps> m_ops;
    int m_status = kExitOk;
};

int listKeys(const TerminalJob& job, const Target& target, OpenTerminal& terminal, ConsolePrompter& prompter)
{
    const terminalops::KeyListing listing = terminal.ops().listKeys();
    if (!listing.result.ok())
        return terminal.failed(listing.result, QStringLiteral("the key table was not read whole"));
    switch (job.args.keysFormat) {
    case KeysFormat::Table: prompter.output(keyTable(listing.keys)); break;
    case KeysFormat::Csv: prompter.output(QString::fromUtf8(terminalops::formatKeyCsv(listing.keys))); break;
    case KeysFormat::Json: prompter.output(keyJson(target, listing)); break;
    }
    return kExitOk;
}

int diffKeys(const TerminalJob& job, OpenTerminal& terminal, ConsolePrompter& prompter)
{
    const terminalops::KeyListing listing = terminal.ops().listKeys();
    if (!listing.result.ok())
        return terminal.failed(listing.result, QStringLiteral("the key table was not read whole"));
    const auto changes = terminalops::diffKeys(listing.keys, job.wanted);
    prompter.output(changeLines(changes));
    return changes.empty() ? kExitOk : kExitDiffers;
}

int syncKeys(const TerminalJob& job, const Target& target, OpenTerminal& terminal, ConsolePrompter& prompter)
{
    if (job.args.dryRun)
        return diffKeys(job, terminal, prompter);
    const terminalops::SyncOutcome out = terminal.ops().syncKeys(job.wanted);
    prompter.output(changeLines(out.changes));
    for (const terminalops::SyncOutcome::Refusal& r : out.refused)
        terminal.failed(r.result, QStringLiteral("key %1 was not %2").arg(r.change.id,
                                  r.result.member == QLatin1String("AddIDElement") ? QStringLiteral("added")
                                                                                 : QStringLiteral("removed")));
    if (!out.failure.ok() && out.refused.empty())
        terminal.failed(out.failure, QStringLiteral("the key table was not read whole"));
    if (out.equal && out.refused.empty())
        return kExitOk;
    if (out.equal)
        return kExitTransfer;
    if (out.failure.ok()) {
        const auto left = terminalops::diffKeys(out.after, job.wanted);
        prompter.complain(QStringLiteral("%1 does not hold the keys of the file afterwards:\n%2")
                              .arg(portName(target), changeLines(left).trimmed()));
    }
    return kExitTransfer;
}

int keysCommand(const TerminalJob& job, const Target& target, ConsolePrompter& prompter)
{
    OpenTerminal terminal(job, target, prompter);
    if (terminal.status() != kExitOk)
        return terminal.status();
    const Arguments& args = job.args;
    switch (args.keysAction) {
    case KeysAction::List: return listKeys(job, target, terminal, prompter);
    case KeysAction::Diff: return diffKeys(job, terminal, prompter);
    case KeysAction::Sync: return syncKeys(job, target, terminal, prompter);
    case KeysAction::Add:
        if (const OpResult r = terminal.ops().addKey(args.keyId, args.keyAccess); !r.ok())
            return terminal.failed(r, QStringLiteral("key %1 was not added").arg(args.keyId));
        return kExitOk;
    case KeysAction::Remove:
        if (const OpResult r = terminal.ops().removeKey(args.keyId); !r.ok())
            return terminal.failed(r, QStringLiteral("key %1 was not removed").arg(args.keyId));
        return kExitOk;
    case KeysAction::Clear:
        if (const OpResult r = terminal.ops().clearKeys(); !r.ok())
            return terminal.failed(r, QStringLiteral("the key table was not cleared"));
        return kExitOk;
    }
    return kExitUsage;
}

// "08.12.26 11:40 Tuesday".
QString machineClock(const QDateTime& now)
{
    return QLocale::c().toString(now, QStringLiteral("dd.MM.yy hh:mm dddd"));
}

// One line: the terminal's clock, this machine's, and the difference. The
// exit status: a clock that is no clock text fails.
int showClock(const terminalops::StatusReading& status, const QString& lead, ConsolePrompter& prompter)
{
    const QDateTime now = QDateTime::currentDateTime();
    const std::optional<QDateTime> terminal = terminalops::parseTerminalClock(status.rtc);
    QString line = QStringLiteral("%1terminal %2 %3, this machine %4, ")
                       .arg(lead, status.rtc.trimmed(), status.dayOfWeek, machineClock(now));
    if (!terminal) {
        prompter.output(line + QStringLiteral("difference unknown\n"));
        prompter.complain(QStringLiteral("the terminal's clock \"%1\" is not a date and time").arg(status.rtc));
        return kExitTransfer;
    }
    const qint64 minutes = terminalops::clockDifferenceMinutes(*terminal, now);
    prompter.output(line + QStringLiteral("difference %1 minute%2\n").arg(minutes).arg(qAbs(minutes) == 1 ? "" : "s"));
    return kExitOk;
}

int clockCommand(const TerminalJob& job, const Target& target, ConsolePrompter& prompter)
{
    OpenTerminal terminal(job, target, prompter);
    if (terminal.status() != kExitOk)
        return terminal.status();
    terminalops::StatusReading status = terminal.ops().readStatus();
    if (!status.result.ok())
        return terminal.failed(status.result);
    if (!job.args.setClock)
        return showClock(status, {}, prompter);
    showClock(status, QStringLiteral("before: "), prompter);
    if (const OpResult r = terminal.ops().setClock(); !r.ok())
        return terminal.failed(r, QStringLiteral("the clock was not set"));
    status = terminal.ops().readStatus();
    if (!status.result.ok())
        return terminal.failed(status.result);
    return showClock(status, QStringLiteral("after: "), prompter);
}

} // namespace

int prepareTerminalJob(const Arguments& args, TerminalJob& job, ConsolePrompter& prompter)
{
    job.args = args;
    if (args.command != Command::Keys || args.files.isEmpty())
        return kExitOk;
    const QString path = args.files.at(0);
    QFile file;
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    QByteArray data;
    if (!opened || !readCapped(file, data, kMaxKeyFileBytes)) {
        prompter.complain(QStringLiteral("the key file %1 cannot be read: %2")
                              .arg(QDir::toNativeSeparators(path),
                                   file.error() != QFileDevice::NoError ? file.errorString()
                                                                        : QStringLiteral("larger than 4 MiB")));
        return kExitFile;
    }
    const terminalops::KeyFile keys = terminalops::parseKeyCsv(data);
    if (!keys.ok) {
        prompter.complain(QStringLiteral("the key file %1 is refused, nothing was sent: line %2: %3")
                              .arg(QDir::toNativeSeparators(path))
                              .arg(keys.line)
                              .arg(keys.reason));
        return kExitFile;
    }
    job.wanted = keys.keys;
    return kExitOk;
}

int confirmTerminalJob(const TerminalJob& job, ConsolePrompter& prompter)
{
    const Arguments& args = job.args;
    if (args.command != Command::Keys || args.keysAction != KeysAction::Clear || args.yes)
        return kExitOk;
    QStringList names;
    for (const Target& t : args.targets)
        names << portName(t);
    if (::isatty(STDIN_FILENO) != 1) {
        prompter.complain(QStringLiteral("keys clear removes every key of %1; confirm with --yes").arg(names.join(", ")));
        return kExitUsage;
    }
    const QByteArray question =
        QStringLiteral("Remove every key of %1? [y/N] ").arg(names.join(QStringLiteral(", "))).toLocal8Bit();
    std::fputs(question.constData(), stderr);
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin) || (answer[0] != 'y' && answer[0] != 'Y')) {
        prompter.complain(QStringLiteral("nothing was cleared."));
        return kExitUsage;
    }
    return kExitOk;
}

int runTerminalJob(const TerminalJob& job, const Target& target, ConsolePrompter& prompter)
{
    return job.args.command == Command::Clock ? clockCommand(job, target, prompter) : keysCommand(job, target, prompter);
}

} // namespace termsetcli
