#include "SerialTransfer.h"

#include "ActFile.h"
#include "CRK40Comm.h"
#include "RegisterImage.h"

#include <thread>

namespace serialxfer {

void ITransferObserver::pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

quint16 wireValue(int address, const QString& text)
{
    const quint16 v = act::scanWord(text).value_or(0);
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
    if (!m_comm.SetDevicePath(port.devicePath) && !port.devicePath.isEmpty())
        return false;
    return m_comm.InitTerminal(static_cast<short>(port.comNumber() - 1));
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
            out.reason = m_comm.failureReason();
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
        out.reason = m_comm.failureReason();
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
    m_comm.SetBaudRate(m_record.baudRate);
    return m_comm.InitTerminal(static_cast<short>(m_record.serialPort) - 1);
}

Outcome SerialTransfer::write(const std::optional<PortChoice>& port, ITransferObserver& observer)
{
    Outcome out;
    if (port) {
        out.comNumber = port->comNumber();
        if (!open(*port)) {
            out.status = Outcome::PortFailed;
            out.reason = m_comm.failureReason();
            return out;
        }
    } else {
        out.comNumber = m_record.serialPort;
    }
    observer.portOpened(out.comNumber);

    const bool done = moveWords(
        out, observer,
        [&](int a) { return m_comm.WriteEEPR(static_cast<short>(a), wireValue(a, m_comm.word(a))); }, kWordPause);
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
        out.reason = m_comm.failureReason();
        return out;
    }
    out.result = m_comm.GetStatus();
    if (out.result != 0) {
        out.status = StatusOutcome::Busy;
        out.reason = m_comm.failureReason();
    } else {
        out.firmware = m_comm.GetFirmware();
        out.rtc = m_comm.GetRtc();
        out.inBuffer = m_comm.GetInBuffer();
    }
    m_comm.DestroyTerminal();
    return out;
}

} // namespace serialxfer
