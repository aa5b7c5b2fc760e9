#include "Commands.h"

#include "CommandSupport.h"
#include "TerminalCommands.h"

#include "core/ActFile.h"
#include "core/AppPaths.h"
#include "core/CRK40Comm.h"
#include "platform/serial/ComPorts.h"
#include "ConfigText.h"
#include "ConsolePrompter.h"
#include "platform/serial/PortDiscovery.h"
#include "platform/serial/PortStatus.h"
#include "core/LastTerminal.h"
#include "core/MemoryImage.h"
#include "core/PasswordChecksum.h"
#include "PasswordInput.h"
#include "core/Profile.h"
#include "remote/RemoteProtocol.h"
#include "core/StringIds.h"
#include "core/RemoteTransfer.h"
#include "remote/RemoteTerminal.h"
#include "platform/resources/Resources.h"
#include "platform/resources/TextFill.h"
#include "core/SerialTransfer.h"
#include "core/TransferLog.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

namespace termsetcli {

using image::MemoryImage;

namespace {

// The password dialog's prompt ("Enter password:").
namespace text {
constexpr int kPasswordDialog = 150;
constexpr int kPasswordPrompt = 65535;
} // namespace text

// Password prompts on a terminal before giving up.
constexpr int kPasswordTries = 3;

QString str(int id) { return resources::loadString(id); }

QString comName(int comNumber) { return QStringLiteral("COM%1").arg(comNumber); }

bool isTerminal(int fd) { return ::isatty(fd) == 1; }

// ---------------------------------------------------------------- interrupts

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int signal)
{
    if (g_interrupted) {
        // A second interrupt does not wait for the transfer.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_interrupted = 1;
}

// While one lives, Ctrl-C (and SIGTERM) asks the transfers to stop before
// their next word instead of killing the program with the port open. The
// targets' threads share one installation.
class InterruptGuard {
public:
    InterruptGuard()
    {
        const std::lock_guard<std::mutex> lock(mutex());
        if (depth()++ > 0)
            return;
        g_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &oldInt());
        ::sigaction(SIGTERM, &action, &oldTerm());
    }
    ~InterruptGuard()
    {
        const std::lock_guard<std::mutex> lock(mutex());
        if (--depth() > 0)
            return;
        ::sigaction(SIGINT, &oldInt(), nullptr);
        ::sigaction(SIGTERM, &oldTerm(), nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static int& depth()
    {
        static int d = 0;
        return d;
    }
    static struct sigaction& oldInt()
    {
        static struct sigaction a {};
        return a;
    }
    static struct sigaction& oldTerm()
    {
        static struct sigaction a {};
        return a;
    }
};

// Several targets at once draw no progress lines over each other.
std::atomic<bool> g_manyTargets{false};

// ---------------------------------------------------------------- progress

// Shows the transfer's activity and percentage on standard error when that
// is a terminal, as the progress window does: "%d%c" of the words done.
class ConsoleObserver final : public serialxfer::ITransferObserver {
public:
    explicit ConsoleObserver(int activityString)
        : m_activity(str(activityString)), m_show(isTerminal(STDERR_FILENO) && !g_manyTargets)
    {
    }
    ~ConsoleObserver() override { finish(); }
    ConsoleObserver(const ConsoleObserver&) = delete;
    ConsoleObserver& operator=(const ConsoleObserver&) = delete;

    void portOpened(int) override { draw(); }
    bool stopRequested() override { return g_interrupted != 0; }
    void wordDone(int) override
    {
        ++m_done;
        draw();
    }
    // Ends the progress line.
    void finish()
    {
        if (m_drawn)
            std::fputs("\n", stderr);
        m_drawn = false;
    }

private:
    void draw()
    {
        if (!m_show)
            return;
        const int percent = m_done * 100 / image::kWordCount;
        const QByteArray line = (QStringLiteral("\r") + m_activity + QStringLiteral(" %1%").arg(percent)).toLocal8Bit();
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
        m_drawn = true;
    }

    QString m_activity;
    bool m_show;
    bool m_drawn = false;
    int m_done = 0;
};

// ---------------------------------------------------------------- files

// A configuration file is thirty short lines; what is far larger is not one,
// and is not read further (standard input or a device such as /dev/zero may
// never end).
constexpr qint64 kMaxActBytes = 64 * 1024;

// Loads a configuration file ("-": standard input) into a cleared image.
int loadFile(const QString& path, image::MemoryImage& image, ConsolePrompter& prompter)
{
    image.clear();
    QFile file;
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        prompter.complain(resources::formatString(strid::kCannotOpen, {QDir::toNativeSeparators(path)}) + QLatin1Char(' ')
                          + file.errorString());
        return kExitFile;
    }
    QBuffer buffer;
    if (!readCapped(file, buffer.buffer(), kMaxActBytes)) {
        prompter.complain(QStringLiteral("%1 (%2: %3)")
                              .arg(str(strid::kInvalidData), QDir::toNativeSeparators(path),
                                   file.error() != QFileDevice::NoError
                                       ? file.errorString()
                                       : QStringLiteral("larger than %1 KiB, which no configuration is")
                                             .arg(kMaxActBytes / 1024)));
        return kExitFile;
    }
    buffer.open(QIODevice::ReadOnly);
    const act::LoadResult result = act::loadImage(buffer, image);
    if (!result.ok) {
        prompter.complain(QStringLiteral("%1 (%2, line %3: %4)")
                              .arg(str(strid::kInvalidData), QDir::toNativeSeparators(path))
                              .arg(result.invalidLine)
                              .arg(result.reason));
        return kExitFile;
    }
    return kExitOk;
}

// Writes the image's thirty lines to the file ("-" or empty: standard output).
int saveFile(const QString& path, const image::IRegisterImage& image, ConsolePrompter& prompter)
{
    if (path.isEmpty() || path == QLatin1String("-")) {
        const QByteArray lines = act::formatImage(image);
        const bool ok = std::fwrite(lines.constData(), 1, static_cast<std::size_t>(lines.size()), stdout)
                            == static_cast<std::size_t>(lines.size())
                        && std::fflush(stdout) == 0;
        if (!ok) {
            prompter.complain(resources::formatString(strid::kCannotWrite, {QStringLiteral("-")}));
            return kExitFile;
        }
        return kExitOk;
    }
    QString error;
    if (!act::saveImageFile(path, image, &error)) {
        prompter.complain(resources::formatString(strid::kCannotWrite, {QDir::toNativeSeparators(path)}) + QLatin1Char('\n') + error);
        return kExitFile;
    }
    return kExitOk;
}

// ---------------------------------------------------------------- password

// The password from the first line of --password-file. A file that other
// users may read has given the password away: that is said, and with
// --strict such a file is refused.
int checkPasswordFile(const Arguments& args, int stored, ConsolePrompter& prompter)
{
    SecretBytes line;
    const PasswordFileRead read = readPasswordFile(args.passwordFile, line);
    const QString name = QDir::toNativeSeparators(args.passwordFile);
    if (!read.ok) {
        prompter.complain(resources::formatString(strid::kCannotOpen, {name}) + QLatin1Char(' ') + read.error);
        return kExitFile;
    }
    if (read.exposed) {
        const QString exposed = QStringLiteral("the password file %1 can be read by other users; "
                                               "allow only its owner (chmod 600)").arg(name);
        if (args.strict) {
            prompter.complain(exposed + QStringLiteral(". Refused (--strict)."));
            return kExitPassword;
        }
        prompter.complain(QStringLiteral("warning: ") + exposed + QLatin1Char('.'));
    }
    if (!matchesChecksum(line, true, stored)) {
        prompter.complain(str(strid::kWrongPassword));
        return kExitPassword;
    }
    return kExitOk;
}

// Unlocks writing as Termset does: a password must have been set, and the
// one given must have the stored checksum.
int checkPassword(const Arguments& args, ConsolePrompter& prompter)
{
    const Profile profile;
    const int stored = profile.param1(0);
    if (!password::isSet(stored)) {
        prompter.complain(str(strid::kNoPasswordSet));
        return kExitPassword;
    }

    if (!args.passwordFile.isEmpty())
        return checkPasswordFile(args, stored, prompter);

    if (!isTerminal(STDIN_FILENO)) {
        prompter.complain(str(strid::kPasswordNotEntered)
                          + QStringLiteral("\nGive it with --password-file FILE, or run the command on a terminal."));
        return kExitPassword;
    }
    const QString prompt = resources::dialogText(text::kPasswordDialog, text::kPasswordPrompt) + QLatin1Char(' ');
    for (int attempt = 0; attempt < kPasswordTries; ++attempt) {
        SecretBytes typed;
        if (!readHiddenLine(prompt, typed)) {
            prompter.complain(str(strid::kPasswordNotEntered));
            return kExitPassword;
        }
        if (matchesChecksum(typed, false, stored))
            return kExitOk;
        prompter.complain(str(strid::kWrongPassword));
    }
    return kExitPassword;
}

// ---------------------------------------------------------------- serial

// The message of a transfer that did not complete; the exit status.
int reportOutcome(const Target& target, const serialxfer::Outcome& out, ConsolePrompter& prompter)
{
    switch (out.status) {
    case serialxfer::Outcome::Done:
        return kExitOk;
    case serialxfer::Outcome::Cancelled:
        prompter.complain(QStringLiteral("interrupted after %1 of %2 words.").arg(out.wordsDone).arg(image::kWordCount));
        return kExitInterrupted;
    case serialxfer::Outcome::PortFailed:
        prompter.complain(portFailure(target, out.reason));
        return kExitTransfer;
    case serialxfer::Outcome::WordFailed: {
        QString text = QStringLiteral("%1 (%2, word %3, result code %4)")
                           .arg(str(strid::kTransmissionError), portName(target))
                           .arg(out.failedAddress)
                           .arg(out.lastResult);
        if (!out.reason.isEmpty())
            text += QStringLiteral("\n") + out.reason;
        prompter.complain(text);
        return kExitTransfer;
    }
    }
    return kExitTransfer;
}

void reportLogFailure(const QString& path, const QString& error, ConsolePrompter& prompter)
{
    prompter.complain(resources::formatString(strid::kLogFailed, {QDir::toNativeSeparators(path), error}));
}

void reportDone(int doneString, ConsolePrompter& prompter)
{
    // Scripts want silence; a person at a terminal is told.
    if (isTerminal(STDERR_FILENO))
        prompter.complain(str(doneString));
}

int serialRead(const Arguments& args, ConsolePrompter& prompter)
{
    CRK40Comm comm;
    if (const int status = createControl(comm, prompter); status != kExitOk)
        return status;
    for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
        comm.setWord(a, QStringLiteral("0000"));
    if (comm.imageFailed())
        return kExitControl;   // reported by the control's wrapper

    LastTerminal record;
    serialxfer::SerialTransfer transfer(comm, record, nullptr);
    serialxfer::Outcome out;
    {
        InterruptGuard interrupts;
        ConsoleObserver observer(strid::kReadingActivity);
        out = transfer.read(portChoice(args.target), observer);
    }
    if (const int status = reportOutcome(args.target, out, prompter); status != kExitOk)
        return status;   // nothing is written from a read that did not complete
    // The words as the control holds them; a file is written only when
    // every one could be taken.
    image::MemoryImage words;
    words.copyFrom(comm);
    if (comm.imageFailed())
        return kExitControl;
    if (const int status = saveFile(args.output, words, prompter); status != kExitOk)
        return status;
    reportDone(strid::kReadDone, prompter);
    return kExitOk;
}

int serialWrite(const Arguments& args, const MemoryImage& image, ConsolePrompter& prompter)
{
    CRK40Comm comm;
    if (const int status = createControl(comm, prompter); status != kExitOk)
        return status;
    for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
        comm.setWord(a, image.word(a));
    if (comm.imageFailed())
        return kExitControl;   // nothing is written that is not the file

    LastTerminal record;
    const translog::TransferLog log(logPath(args));
    serialxfer::SerialTransfer transfer(comm, record, &log);
    serialxfer::Outcome out;
    {
        InterruptGuard interrupts;
        ConsoleObserver observer(strid::kWritingActivity);
        out = transfer.write(portChoice(args.target), observer);
    }
    if (const int status = reportOutcome(args.target, out, prompter); status != kExitOk)
        return status;
    // The write itself succeeded; a log that cannot be written is reported
    // but does not turn it into a failure.
    if (!out.logged)
        reportLogFailure(log.path(), out.logError, prompter);
    reportDone(strid::kWriteDone, prompter);
    return kExitOk;
}

int serialStatus(const Arguments& args, ConsolePrompter& prompter)
{
    CRK40Comm comm;
    if (const int status = createControl(comm, prompter); status != kExitOk)
        return status;
    LastTerminal record;
    const serialxfer::StatusOutcome out =
        serialxfer::SerialTransfer(comm, record, nullptr).status(portChoice(args.target));
    switch (out.status) {
    case serialxfer::StatusOutcome::PortFailed:
        prompter.complain(portFailure(args.target, out.reason));
        return kExitTransfer;
    case serialxfer::StatusOutcome::Busy: {
        // The port first, then the failure and its reason in words.
        prompter.complain(QStringLiteral("%1: %2").arg(portName(args.target), serialxfer::describeStatusFailure(out)));
        return kExitTransfer;
    }
    case serialxfer::StatusOutcome::Ok:
        break;
    }
    prompter.message(nullptr, resources::formatString(strid::kSerialStatus, {out.firmware, out.rtc, out.inBuffer}), ui::Look::Information, {});
    return kExitOk;
}

// ---------------------------------------------------------------- remote

quint16 gatewayPort(const Target& target)
{
    if (target.tcpPort != 0)
        return target.tcpPort;
    const int port = Profile().ipPort();
    return remote::tcpPortInRange(port) ? static_cast<quint16>(port) : remote::kDefaultGatewayPort;
}

// The time limits of a remote request: Termset's (the profile's) unless
// --timeout gives one for every step.
remote::Limits remoteLimits(const Arguments& args)
{
    if (args.timeoutSeconds >= 0)
        return remote::limitsInSeconds(args.timeoutSeconds, args.timeoutSeconds, args.timeoutSeconds);
    return Profile().remoteLimits();
}

// What a request's failure says itself: the socket's words, or the word the
// image refused; a gateway's result code is the caller's to report.
int told(const remotexfer::RemoteOutcome& out, ConsolePrompter& prompter)
{
    if (out.result == remotexfer::RemoteOutcome::kFailed && !out.socketError.isEmpty())
        prompter.complain(out.socketError);
    else if (out.result == remote::kNotSent)
        prompter.complain(resources::formatString(strid::kNothingWritten,
                              {CRK40Comm::wordFailureText(false, out.refusedAddress, out.reason)}));
    return out.result;
}

QString gatewayName(const Target& target, quint16 tcpPort, int serialPort)
{
    QString name = QStringLiteral("%1:%2").arg(target.host).arg(tcpPort);
    if (serialPort >= 0)
        name += QStringLiteral(", COM%1").arg(serialPort);
    return name;
}

int remoteRead(const Arguments& args, ConsolePrompter& prompter)
{
    const Target& t = args.target;
    const quint16 port = gatewayPort(t);
    const auto serialPort = static_cast<quint8>(t.serialPort);
    const remote::Limits limits = remoteLimits(args);
    // Every word starts empty: a word the reply does not bring stays so, and
    // the file is written only when all thirty came.
    image::MemoryImage image;
    remotexfer::RemoteTransfer transfer(limits);
    std::vector<int> missing;
    const int result = remote::withRetries([&] {
        const remotexfer::RemoteOutcome out = transfer.read({t.host, port, serialPort}, image);
        missing = out.missing;
        return told(out, prompter);
    }).last;
    if (result != 0) {
        prompter.complain(QStringLiteral("%1 (%2)").arg(resources::formatString(strid::kReadError, {result}),
                                                        gatewayName(t, port, t.serialPort)));
        return kExitTransfer;
    }
    if (!missing.empty()) {
        prompter.complain(QStringLiteral("%1 (%2): the reply holds no word for address %3; no file was written.")
                              .arg(str(strid::kInvalidData), gatewayName(t, port, t.serialPort),
                                   remote::addressList(missing)));
        return kExitTransfer;
    }
    if (const int status = saveFile(args.output, image, prompter); status != kExitOk)
        return status;
    reportDone(strid::kReadDone, prompter);
    return kExitOk;
}

int remoteWrite(const Arguments& args, const MemoryImage& image, ConsolePrompter& prompter)
{
    const Target& t = args.target;
    const quint16 port = gatewayPort(t);
    const auto serialPort = static_cast<quint8>(t.serialPort);
    const remote::Limits limits = remoteLimits(args);
    remotexfer::RemoteTransfer transfer(limits);
    const remote::Attempts attempts =
        remote::withRetries([&] { return told(transfer.write({t.host, port, serialPort}, image), prompter); });
    if (!attempts.succeeded()) {
        // As in Termset: the first attempt's result.
        prompter.complain(QStringLiteral("%1 (%2)").arg(resources::formatString(strid::kWriteError, {attempts.first}),
                                                        gatewayName(t, port, t.serialPort)));
        return kExitTransfer;
    }
    const translog::TransferLog log(logPath(args));
    QString error;
    if (!log.append(t.serialPort, t.host, port, &error))
        reportLogFailure(log.path(), error, prompter);
    reportDone(strid::kWriteDone, prompter);
    return kExitOk;
}

int remoteStatus(const Arguments& args, ConsolePrompter& prompter)
{
    const Target& t = args.target;
    const quint16 port = gatewayPort(t);
    // On success the status text goes to standard output.
    const remotexfer::RemoteOutcome out =
        remotexfer::RemoteTransfer(remoteLimits(args)).status({t.host, port, static_cast<quint8>(t.serialPort)});
    const int result = told(out, prompter);
    if (result == 0)
        prompter.message(nullptr, out.statusText, ui::Look::Information, {});
    if (result != 0) {
        prompter.complain(QStringLiteral("%1 (%2)").arg(resources::formatString(strid::kStatusError, {result}),
                                                        gatewayName(t, port, t.serialPort)));
        return kExitTransfer;
    }
    return kExitOk;
}

int remotePorts(const Arguments& args, ConsolePrompter& prompter)
{
    const Target& t = args.target;
    const quint16 port = gatewayPort(t);
    const remotexfer::RemoteOutcome out =
        remotexfer::RemoteTransfer(remoteLimits(args)).ports(t.host, port, strid::kReadTitle);
    const std::set<quint8>& ports = out.ports;
    const int result = told(out, prompter);
    if (result != 0) {
        prompter.complain(QStringLiteral("%1 (%2, result code %3)")
                              .arg(str(strid::kPortListError), gatewayName(t, port, -1))
                              .arg(result));
        return kExitTransfer;
    }
    QString lines;
    for (const quint8 p : ports)
        lines += QString::number(p) + QLatin1Char('\n');
    const QByteArray bytes = lines.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
    return kExitOk;
}

// The machine's serial devices: every COM name with its device, what it is
// and whether it can be had, then the detected devices no COM name maps to.
int localPorts()
{
    const QList<serial::DetectedPort> detected = serial::detectPorts();
    QStringList mapped;
    QString lines;
    auto describe = [&](const QString& path) {
        const std::optional<serial::DetectedPort> port = serial::findDetected(detected, path);
        const serial::PortStatus state = serial::probePort(path);
        QString text = QDir::toNativeSeparators(port ? port->info.path : path);
        if (port)
            text += QLatin1Char('\t') + port->description();
        return text + QLatin1Char('\t') + (state.usable() ? QStringLiteral("free") : state.reason);
    };
    for (int n = serial::kFirstCom; n <= serial::kLastCom; ++n) {
        const QString path = serial::comDevicePath(n, detected);
        if (path.isEmpty())
            continue;
        if (const auto port = serial::findDetected(detected, path))
            mapped << port->info.path;
        lines += comName(n) + QLatin1Char('\t') + describe(path) + QLatin1Char('\n');
    }
    for (const serial::DetectedPort& port : detected) {
        if (!mapped.contains(port.info.path))
            lines += QStringLiteral("-\t") + describe(port.info.path) + QLatin1Char('\n');
    }
    const QByteArray bytes = lines.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
    return kExitOk;
}

// ---------------------------------------------------------------- files only

void print(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

int show(const Arguments& args, ConsolePrompter& prompter)
{
    image::MemoryImage image;
    if (const int status = loadFile(args.files.at(0), image, prompter); status != kExitOk)
        return status;
    print(showText(image));
    return kExitOk;
}

int diff(const Arguments& args, ConsolePrompter& prompter)
{
    image::MemoryImage a, b;
    if (const int status = loadFile(args.files.at(0), a, prompter); status != kExitOk)
        return status;
    if (const int status = loadFile(args.files.at(1), b, prompter); status != kExitOk)
        return status;
    const QStringList lines = diffLines(a, b);
    if (lines.isEmpty())
        return kExitOk;
    print(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return kExitDiffers;
}

// One target's part of a command that reaches terminals.
int runOnTarget(const Arguments& args, const MemoryImage& image, const TerminalJob& job, ConsolePrompter& prompter)
{
    switch (args.command) {
    case Command::Read: return args.target.remote ? remoteRead(args, prompter) : serialRead(args, prompter);
    case Command::Write:
        return args.target.remote ? remoteWrite(args, image, prompter) : serialWrite(args, image, prompter);
    case Command::Status: return args.target.remote ? remoteStatus(args, prompter) : serialStatus(args, prompter);
    case Command::Clock:
    case Command::Keys: return runTerminalJob(job, args.target, prompter);
    default: break;
    }
    return kExitUsage;
}

// The command on every target, each on a thread of its own with a control
// of its own when there are several; the worst exit status.
int runOnTargets(const Arguments& args, const MemoryImage& image, const TerminalJob& job, ConsolePrompter& prompter)
{
    if (args.targets.size() <= 1) {
        Arguments one = args;
        one.output.replace(QLatin1String("{port}"), targetFileName(one.target));
        return runOnTarget(one, image, job, prompter);
    }
    g_manyTargets = true;
    const InterruptGuard interrupts;
    std::vector<int> statuses(static_cast<std::size_t>(args.targets.size()), kExitOk);
    std::vector<std::thread> threads;
    for (qsizetype i = 0; i < args.targets.size(); ++i) {
        threads.emplace_back([&, i] {
            Arguments one = args;
            one.target = args.targets.at(i);
            one.output.replace(QLatin1String("{port}"), targetFileName(one.target));
            ConsolePrompter console = ConsolePrompter::forTarget(targetName(one.target));
            statuses[static_cast<std::size_t>(i)] = runOnTarget(one, image, job, console);
        });
    }
    for (std::thread& t : threads)
        t.join();
    g_manyTargets = false;
    return *std::max_element(statuses.begin(), statuses.end());
}

// Commands that reach terminals: what the command needs first (the file,
// then the password, asked once for every target), then the targets.
int reachTerminals(const Arguments& args, ConsolePrompter& prompter)
{
    image::MemoryImage image;
    if (args.command == Command::Write)
        if (const int status = loadFile(args.files.at(0), image, prompter); status != kExitOk)
            return status;
    TerminalJob job;
    if (const int status = prepareTerminalJob(args, job, prompter); status != kExitOk)
        return status;
    if (needsPassword(args))
        if (const int status = checkPassword(args, prompter); status != kExitOk)
            return status;
    if (const int status = confirmTerminalJob(job, prompter); status != kExitOk)
        return status;
    return runOnTargets(args, image, job, prompter);
}

} // namespace

// ---------------------------------------------------------------- shared

int createControl(CRK40Comm& comm, ConsolePrompter& prompter)
{
    // Controls of several targets are made one after the other: the registry
    // and the module are loaded once.
    static std::mutex creating;
    std::unique_lock<std::mutex> lock(creating);
    if (!comm.Create()) {
        lock.unlock();
        const QString module = QDir::toNativeSeparators(apppaths::controlModulePath());
        prompter.complain(resources::formatString(strid::kNoControl, {comm.errorText(), module}));
        return kExitControl;
    }
    comm.setFailureListener([&prompter](const QString& text) { prompter.complain(text); });
    comm.SetWorkOnLine(false);
    comm.SetAsciiFileName(QString());
    return kExitOk;
}

// A device given by path goes through the COM name mapped to it; one
// outside the mapping is handed to the control by path (the process's
// mapping stays as it is, so that targets may run side by side), and the
// transfer log names port 00 for it.
serialxfer::PortChoice portChoice(const Target& target)
{
    if (target.devicePath.isEmpty())
        return {target.portIndex, target.baud};
    if (const int n = serial::comNumberForPath(target.devicePath); n > 0)
        return {n - 1, target.baud};
    return {0, target.baud, true, target.devicePath};
}

QString portName(const Target& target)
{
    if (!target.devicePath.isEmpty())
        return QDir::toNativeSeparators(target.devicePath);
    return comName(target.portIndex + 1);
}

QString portFailure(const Target& target, const QString& reason)
{
    QString port = portName(target);
    if (target.devicePath.isEmpty())
        port += QStringLiteral(" (%1)").arg(QDir::toNativeSeparators(serial::comDevicePath(target.portIndex + 1)));
    const QString text = QStringLiteral("ERROR: %1 cannot be opened").arg(port);
    return reason.isEmpty() ? text + QLatin1Char('.') : text + QStringLiteral(": ") + reason;
}

QString logPath(const Arguments& args)
{
    return args.logFile.isEmpty() ? apppaths::transferLogPath() : args.logFile;
}

QString keysLogPath(const Arguments& args)
{
    return QFileInfo(logPath(args)).dir().filePath(QStringLiteral("keys.log"));
}

bool readCapped(QFile& file, QByteArray& data, qint64 limit)
{
    data.clear();
    while (data.size() <= limit) {
        const QByteArray piece = file.read(limit + 1 - data.size());
        if (piece.isEmpty())
            return file.error() == QFileDevice::NoError;
        data += piece;
    }
    return false;
}

int runCommand(const Arguments& args, ConsolePrompter& prompter)
{
    switch (args.command) {
    case Command::Read:
    case Command::Write:
    case Command::Status:
    case Command::Clock:
    case Command::Keys:
        return reachTerminals(args, prompter);
    case Command::Ports:
        return args.target.remote ? remotePorts(args, prompter) : localPorts();
    case Command::Show:
        return show(args, prompter);
    case Command::Diff:
        return diff(args, prompter);
    case Command::Help:
    case Command::Version:
        break;
    }
    return kExitUsage;
}

} // namespace termsetcli
