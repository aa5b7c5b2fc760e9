#include "control/link/TerminalLink.h"

#include <algorithm>
#include <thread>

namespace rk40 {

using namespace protocol;
namespace res = result;

serial::OpenResult TerminalLink::open(const QString& devicePath, int baud)
{
    return m_device.open(devicePath, baud);
}

bool TerminalLink::close()
{
    if (!m_device.isOpen())
        return false;
    return m_device.close();
}

std::chrono::milliseconds TerminalLink::exchangeDeadline(std::size_t bytes, int baud)
{
    const long long rate = baud > 0 ? baud : 9600;
    const long long wireMs = static_cast<long long>(bytes) * 10 * 1000 / rate;
    return kDeadlineFloor + std::chrono::milliseconds(kDeadlineFactor * wireMs);
}

TerminalLink::DeadlineScope::DeadlineScope(TerminalLink& link) : m_link(link)
{
    m_link.m_deadlinePassed = false;
    m_link.m_deadline = std::chrono::steady_clock::now() + exchangeDeadline(kReceiveByteBudget, m_link.m_device.baud());
}

TerminalLink::DeadlineScope::~DeadlineScope() { m_link.m_deadline.reset(); }

std::uint8_t TerminalLink::ReadByte(int attempts, const Interrupt& interrupt)
{
    const int byte = readOne(attempts, interrupt);
    return byte < 0 ? std::uint8_t{0} : static_cast<std::uint8_t>(byte);
}

int TerminalLink::readOne(int attempts, const Interrupt& interrupt)
{
    // An attempt and the pause after an empty one are a single wait for
    // input: a byte that arrives during either is taken at once, and silence
    // costs the same time as before. One wake-up per attempt also keeps the
    // on-line poll cheap.
    constexpr auto kAttemptWithPause = kAttemptTimeout + kEmptyAttemptPause;
    for (int i = 0; i < attempts; ++i) {
        if (interrupt && interrupt())
            return -1;
        if (m_device.removed())
            return -1;
        const auto start = std::chrono::steady_clock::now();
        if (m_deadline && start >= *m_deadline) {
            m_deadlinePassed = true;
            return -1;
        }
        const int byte = m_device.readByte(kAttemptWithPause);
        if (byte >= 0)
            return byte;
        if (m_device.removed())
            return -1;
        // A closed or hung-up device answers at once: spend the attempt's
        // time anyway, so that the attempt budget still bounds the wait.
        const auto spent = std::chrono::steady_clock::now() - start;
        if (spent < kAttemptWithPause)
            std::this_thread::sleep_for(kAttemptWithPause - spent);
    }
    return -1;
}

void TerminalLink::WriteByte(std::uint8_t byte)
{
    (void)m_device.write(&byte, 1);
}

std::size_t TerminalLink::writeFrame(std::size_t n)
{
    return m_device.write(m_frame.data(), std::min(n, m_frame.size()));
}

void TerminalLink::discardPendingInput()
{
    // Only the input is discarded. Output already written is let go: a
    // write returns before its bytes are on the wire, and discarding the
    // transmit queue would cut off the tail of the previous command (the
    // letters of a command that is only an opening, sent just before).
    for (std::size_t i = 0; i < kMaxBytesPerExchange; ++i)
        if (m_device.readByte(std::chrono::milliseconds(0)) < 0)
            return;
}

int TerminalLink::OpenCommand(char letter)
{
    if (!m_device.isOpen())
        return res::kPortClosed;
    discardPendingInput();
    WriteByte(SOH);
    if (ReadByte(kStandardAttempts) != ACK)
        return res::kNotReady;
    const std::uint8_t twice[2] = {static_cast<std::uint8_t>(letter), static_cast<std::uint8_t>(letter)};
    (void)m_device.write(twice, 2);
    return res::kOk;
}

int TerminalLink::SendConfirmedFrame(std::size_t n)
{
    if (n + 1 > m_frame.size())
        return res::kFrameWriteFailed;
    m_frame[n] = checksum(std::span<const std::uint8_t>(m_frame.data(), n));
    if (writeFrame(n + 1) < n + 1)
        return m_device.removed() ? res::kFrameNoAnswer : res::kFrameWriteFailed;

    const std::uint8_t answer = ReadByte(kStandardAttempts);
    if (answer == 0)
        return res::kFrameNoAnswer;
    if (answer == NAK)
        return res::kFrameNak;
    if (answer != ACK)
        return res::kFrameOtherAnswer;

    // The terminal may take several seconds to carry the command out.
    std::uint8_t outcome = 0;
    for (int i = 0; i < kResultCharacterQuickReads && outcome == 0; ++i)
        outcome = ReadByte(kStandardAttempts);
    for (int i = 0; i < kResultCharacterTries && outcome == 0; ++i) {
        if (m_device.removed())
            return res::kFrameNoAnswer;
        std::this_thread::sleep_for(kResultCharacterPause);
        outcome = ReadByte(kStandardAttempts);
    }
    if (outcome == 0)
        return res::kFrameNoResult;
    if (outcome == kResultDone)
        return res::kOk;
    if (outcome == kResultRefused)
        return res::kFrameRefused;
    return res::kFrameOtherResult;
}

int TerminalLink::SendAcknowledgedText(std::size_t n)
{
    if (n + 2 > m_frame.size())
        return res::kTextWriteFailed;
    m_frame[n] = checksum(std::span<const std::uint8_t>(m_frame.data(), n));
    m_frame[n + 1] = 0;
    const auto end = std::find(m_frame.begin(), m_frame.begin() + static_cast<std::ptrdiff_t>(n + 1), std::uint8_t{0});
    const auto length = static_cast<std::size_t>(end - m_frame.begin());
    if (writeFrame(length) < length)
        return m_device.removed() ? res::kTextNoAnswer : res::kTextWriteFailed;
    m_frame[0] = ReadByte(kStandardAttempts);
    if (m_frame[0] == 0)
        return res::kTextNoAnswer;
    return m_frame[0] == ACK ? res::kOk : res::kTextNak;
}

int TerminalLink::ReceiveRecord(RecordKind kind, Sequence& sequence, std::string* record)
{
    const DeadlineScope deadline(*this);
    std::size_t n = 0;
    std::size_t seen = 0;
    std::uint8_t accumulator = 0;
    for (;;) {
        const std::uint8_t byte = ReadByte(kStandardAttempts);
        if (byte == 0) {
            WriteByte(NAK);
            return res::kRecordSilenceBase + static_cast<int>(n);
        }
        const RecordByte what = classifyRecordByte(kind, byte);
        if (what == RecordByte::NothingToSend) {
            WriteByte(ACK);
            return res::kRecordNothingToSend;
        }
        if (what == RecordByte::End)
            break;
        if (what == RecordByte::Data) {
            m_frame[n++] = byte;
            accumulator ^= byte;
        }
        if (n >= kMaxRecordBytes || ++seen > kMaxBytesPerExchange) {
            WriteByte(NAK);
            return res::kRecordTooLong;
        }
    }
    if (kind == RecordKind::Plain && n < kMinPlainRecordBytes) {
        WriteByte(NAK);
        return res::kRecordMalformed;
    }
    m_frame[n] = 0;
    if (ReadByte(kStandardAttempts) != finishChecksum(accumulator)) {
        WriteByte(NAK);
        return res::kRecordBadChecksum;
    }
    const std::string text(reinterpret_cast<const char*>(m_frame.data()), n);
    const auto number = recordSequenceNumber(kind, text);
    if (!number) {
        WriteByte(NAK);
        return res::kRecordMalformed;
    }
    sequence.current = *number;
    const bool isNew = *number > sequence.previous;
    if (isNew) {
        sequence.previous = *number;
        if (record)
            *record = text;
    }
    // A repeated record is acknowledged too, so that the terminal moves on.
    WriteByte(ACK);
    return isNew ? res::kOk : res::kRecordAlreadyTaken;
}

int TerminalLink::ReceiveTextLine(std::string* line)
{
    const DeadlineScope deadline(*this);
    std::size_t n = 0;
    for (std::size_t seen = 0; seen <= kMaxBytesPerExchange; ++seen) {
        const std::uint8_t byte = ReadByte(kStandardAttempts);
        if (byte == 0)
            return res::kLineSilence;
        if (byte == CR) {
            m_frame[n] = 0;
            if (line)
                line->assign(reinterpret_cast<const char*>(m_frame.data()), n);
            return res::kOk;
        }
        // Characters beyond the buffer are dropped; the line is cut.
        if (isTextLineByte(byte) && n + 1 < m_frame.size())
            m_frame[n++] = byte;
    }
    return res::kLineSilence;
}

int TerminalLink::ReceiveStatusBlock()
{
    // The lead bytes may be binary: a 0x00 byte is a byte like any other.
    std::size_t received = 0;
    for (std::size_t i = 0; i < kStatusBlockLength; ++i) {
        const int byte = readOne(i == 0 ? kStandardAttempts : kStatusAttempts);
        if (byte < 0) {
            if (i == 0)
                return 0;
            continue;
        }
        m_frame[received++] = static_cast<std::uint8_t>(byte);
    }
    return static_cast<int>(received);
}

int TerminalLink::ReceiveOnlineBlock(int* records, const Interrupt& interrupt)
{
    const DeadlineScope deadline(*this);
    int count = 0;
    auto report = [&](int code) {
        if (records)
            *records = count;
        return code;
    };
    const std::uint8_t header = ReadByte(kStandardAttempts, interrupt);
    if (header != kOnlineHeaderS && header != kOnlineHeaderV)
        return res::kBlockBadHeader;
    if (header == kOnlineHeaderV)
        WriteByte(ACK);
    if (ReadByte(kStandardAttempts, interrupt) != STX)
        return res::kBlockNoStx;

    std::size_t n = 0;
    std::uint8_t accumulator = 0;
    for (std::size_t seen = 0;; ++seen) {
        if (seen > kMaxBytesPerExchange)
            return report(res::kBlockTooLong);
        const std::uint8_t byte = ReadByte(kStandardAttempts, interrupt);
        if (byte == 0)
            return report(res::kBlockSilence);
        const BlockByte what = classifyBlockByte(byte);
        if (what == BlockByte::End)
            break;
        if (what == BlockByte::Skipped)
            continue;
        // Record separators take buffer positions too: both kinds of byte
        // count against the limit, so the buffer is never written past.
        if (n >= kMaxBlockPositions)
            return report(res::kBlockTooLong);
        if (what == BlockByte::RecordEnd) {
            m_frame[n++] = LF;
            ++count;
        } else {
            m_frame[n++] = byte;
            accumulator ^= byte;
        }
    }
    m_frame[n] = 0;
    if (ReadByte(kStandardAttempts, interrupt) != finishChecksum(accumulator))
        return report(res::kBlockBadChecksum);
    return report(res::kOk);
}

int TerminalLink::RegisterRead(int address)
{
    const auto request = registerReadRequest(address);
    if (!request)
        return res::kRegisterBadArgument;
    if (m_device.write(request->data(), request->size()) < request->size())
        return m_device.removed() ? res::kRegisterSilence : res::kRegisterWriteFailed;
    for (std::size_t i = 0; i < kRegisterAnswerLength; ++i) {
        m_frame[i] = ReadByte(kStandardAttempts);
        if (m_frame[i] == 0)
            return res::kRegisterSilence;
    }
    return res::kOk;
}

int TerminalLink::RegisterWrite(int address, long value, std::uint8_t* answer)
{
    const auto request = registerWriteRequest(address, value);
    if (!request)
        return res::kRegisterBadArgument;
    if (m_device.write(request->data(), request->size()) < request->size())
        return m_device.removed() ? res::kRegisterSilence : res::kRegisterWriteFailed;
    const std::uint8_t byte = ReadByte(kStandardAttempts);
    if (byte == 0)
        return res::kRegisterSilence;
    if (answer)
        *answer = byte;
    return res::kOk;
}

bool TerminalLink::loadFrame(std::string_view bytes)
{
    if (bytes.size() + 2 > m_frame.size())
        return false;
    std::copy(bytes.begin(), bytes.end(), m_frame.begin());
    return true;
}

std::string_view TerminalLink::frameText(std::size_t pos) const
{
    if (pos >= m_frame.size())
        return {};
    const auto begin = m_frame.begin() + static_cast<std::ptrdiff_t>(pos);
    const auto end = std::find(begin, m_frame.end(), std::uint8_t{0});
    return std::string_view(reinterpret_cast<const char*>(&*begin), static_cast<std::size_t>(end - begin));
}

} // namespace rk40
