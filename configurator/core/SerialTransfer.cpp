#include "core/SerialTransfer.h"
#include "core/StringIds.h"

#include "core/ActFile.h"
#include "core/CRK40Comm.h"
#include "platform/serial/ComPorts.h"
#include "platform/serial/PortStatus.h"
#include "core/RegisterImage.h"
#include "platform/resources/Resources.h"
#include "platform/resources/TextFill.h"

#include <QDir>

#include <thread>

namespace serialxfer {

void ITransferObserver::pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

quint16 wireValue(int address, const QString& text)
{
    const quint16 v = image::scanWord(text).value_or(0);
    if (address >= image::kFirstWord && address <= image::kLastRowWord)
        return static_cast<quint16>((v & 0x3FFFu) | 0x8000u);
    return v;
}

SerialTransfer::SerialTransfer(CRK40Comm& comm, LastTerminal& record, const translog::TransferLog* log)
    : m_comm(comm), m_record(record), m_log(log)
{
}

bool SerialTransfer::open(const PortChoice& port)
{
    m_comm.SetBaudRate(port.baud);
    m_device = port.devicePath.isEmpty() ? serial::comDevicePath(port.comNumber()) : port.devicePath;
    if (!m_comm.SetDevicePath(port.devicePath) && !port.devicePath.isEmpty()) {
        m_opened = false;
        return false;
    }
    m_opened = m_comm.InitTerminal(static_cast<short>(port.comNumber() - 1));
    return m_opened;
}

QString SerialTransfer::portFailure(int comNumber) const
{
    const QString controlReason = m_comm.failureReason();
    if (controlReason.isEmpty())
        return {};
    // The control speaks English; the same findings in our own words.
    if (m_opened)
        return QStringLiteral("%1 (%2)").arg(serial::removedReason(), QDir::toNativeSeparators(m_device));
    const serial::PortStatus found = serial::probePort(m_device);
    if (found.problem == serial::PortProblem::NotAssigned)
        return QStringLiteral("COM%1: %2").arg(QString::number(comNumber), found.reason);
    return found.usable() ? controlReason : found.reason;
}

template <typename WordCall>
bool SerialTransfer::moveWords(Outcome& out, ITransferObserver& observer, WordCall call,
                               std::chrono::milliseconds pauseAfterWord)
{
    for (int a = image::kFirstWord; a <= image::kLastWord; ++a) {
        if (observer.stopRequested()) {
            m_comm.DestroyTerminal();
            out.status = Outcome::Cancelled;
            return false;
        }
        short result = call(a);
        // A device that went away fails the word at once, without retries.
        for (int attempt = 1; result != 0 && attempt < kAttempts && m_comm.failureReason().isEmpty(); ++attempt) {
            observer.pause(kRetryDelay);
            result = call(a);
        }
        if (result != 0) {
            m_record.valid = false;
            m_comm.DestroyTerminal();
            out.status = Outcome::WordFailed;
            out.failedAddress = a;
            out.lastResult = result;
            out.reason = portFailure(out.comNumber);
            return false;
        }
        ++out.wordsDone;
        observer.wordDone(a);
        if (pauseAfterWord.count() > 0)
            observer.pause(pauseAfterWord);
    }
    m_comm.DestroyTerminal();
    return true;
}

Outcome SerialTransfer::read(const PortChoice& port, ITransferObserver& observer)
{
    Outcome out;
    out.comNumber = port.comNumber();
    m_record.baudRate = port.baud;
    if (!open(port)) {
        m_record.valid = false;
        out.status = Outcome::PortFailed;
        out.reason = portFailure(out.comNumber);
        return out;
    }
    m_record.valid = true;
    m_record.remote = false;
    m_record.serialPort = static_cast<quint8>(out.comNumber);
    observer.portOpened(out.comNumber);

    moveWords(out, observer, [&](int a) { return m_comm.ReadEEPR(static_cast<short>(a)); },
              std::chrono::milliseconds::zero());
    return out;
}

bool SerialTransfer::openRecordPort()
{
    return open({static_cast<int>(m_record.serialPort) - 1, m_record.baudRate});
}

Outcome SerialTransfer::write(const std::optional<PortChoice>& port, ITransferObserver& observer,
                              bool reusedPortOpened)
{
    Outcome out;
    out.comNumber = port ? port->comNumber() : m_record.serialPort;
    const std::optional<image::Words> words = image::readAllWords(m_comm, &out.failedAddress);
    if (!words) {
        m_comm.DestroyTerminal();   // the port Apply To Last opened
        out.status = Outcome::WordFailed;
        out.imageRefused = true;
        out.lastResult = CRK40Comm::kCallFailed;
        out.reason = m_comm.whyNot();
        return out;
    }
    if (!port) {
        m_device = serial::comDevicePath(out.comNumber);
        m_opened = reusedPortOpened;
    } else {
        if (!open(*port)) {
            out.status = Outcome::PortFailed;
            out.reason = portFailure(out.comNumber);
            return out;
        }
    }
    observer.portOpened(out.comNumber);

    const bool done = moveWords(
        out, observer,
        [&](int a) {
            return m_comm.WriteEEPR(static_cast<short>(a),
                                    wireValue(a, (*words)[static_cast<std::size_t>(a - image::kFirstWord)]));
        },
        kWordPause);
    if (!done)
        return out;
    if (m_log)
        out.logged = m_log->append(port && port->outsideMapping ? 0 : out.comNumber, QStringLiteral("None"), 0,
                                   &out.logError);
    return out;
}

StatusOutcome SerialTransfer::status(const PortChoice& port)
{
    StatusOutcome out;
    out.comNumber = port.comNumber();
    if (!open(port)) {
        out.status = StatusOutcome::PortFailed;
        out.reason = portFailure(out.comNumber);
        return out;
    }
    out.result = m_comm.GetStatus();
    if (out.result == 0) {
        out.firmware = m_comm.GetFirmware();
        out.rtc = m_comm.GetRtc();
        out.inBuffer = m_comm.GetInBuffer();
    }
    // A status without a single text is no status, whatever the code says.
    if (out.result != 0 || (out.firmware.isEmpty() && out.rtc.isEmpty() && out.inBuffer.isEmpty())) {
        out.status = StatusOutcome::Busy;
        out.reason = portFailure(out.comNumber);
        out.firmware.clear();
        out.rtc.clear();
        out.inBuffer.clear();
    }
    m_comm.DestroyTerminal();
    return out;
}

QString describeStatusFailure(const StatusOutcome& out)
{
    constexpr short kNotReady = 1;  // the opening was not answered
    constexpr short kNak = 12;      // a lone NAK to the request
    constexpr short kNoStatus = 13; // the request taken, no status sent
    QString text;
    switch (out.result) {
    case 0:
    case kNoStatus: text = resources::loadString(strid::kStatusMute); break;
    case kNotReady: text = resources::loadString(strid::kBusy); break;
    case kNak: text = resources::loadString(strid::kStatusRefused); break;
    default: text = resources::formatString(strid::kStatusResult, {out.result}); break;
    }
    if (!out.reason.isEmpty())
        text += QLatin1Char('\n') + out.reason;
    return text;
}

} // namespace serialxfer
