#pragma once

// The PC side of the terminal's serial protocol: owns the serial device and
// the frame buffer and runs one exchange at a time. The caller holds the
// control's exchange lock around every call; nothing here locks.
//
// Reads are polled one byte at a time: an attempt waits up to 2 ms for a
// byte and an empty attempt is followed by a 1 ms pause, so an exchange with
// a silent terminal ends after its attempt budget.

#include "control/protocol/Protocol.h"
#include "control/protocol/Results.h"
#include "platform/serial/SerialDevice.h"

#include <QString>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rk40 {

class TerminalLink {
public:
    // Holds an on-line block of up to 1000 positions and its terminating zero.
    static constexpr std::size_t kFrameBufferSize = 1024;
    static constexpr std::size_t kMaxBlockPositions = 1000;

    static constexpr std::chrono::milliseconds kAttemptTimeout{2};
    static constexpr std::chrono::milliseconds kEmptyAttemptPause{1};
    static constexpr std::chrono::milliseconds kResultCharacterPause{100};
    static constexpr int kStandardAttempts = 200;
    static constexpr int kStatusAttempts = 10;
    static constexpr int kResultCharacterQuickReads = 2;
    static constexpr int kResultCharacterTries = 70;
    // A line that keeps sending bytes which are never stored (skipped bytes,
    // a text line without CR) is given up after this many bytes.
    static constexpr std::size_t kMaxBytesPerExchange = 16 * 1024;

    // Receiving exchanges (record, text line, on-line block) end by their
    // deadline: kDeadlineFloor + kDeadlineFactor x the wire time of
    // kReceiveByteBudget bytes (10 bits each) at the port's baud rate.
    static constexpr std::size_t kReceiveByteBudget = kFrameBufferSize + 8;
    static constexpr int kDeadlineFactor = 4;
    static constexpr std::chrono::milliseconds kDeadlineFloor{2000};
    // The overall deadline of an exchange receiving `bytes` at `baud` (a
    // baud rate of 0 counts as 9600).
    static std::chrono::milliseconds exchangeDeadline(std::size_t bytes, int baud);

    // Asked between read attempts; true ends the read as if nothing came.
    using Interrupt = std::function<bool()>;

    struct Sequence {
        std::int16_t previous = -1; // highest sequence number taken so far
        std::int16_t current = 0;   // sequence number of the last record received
    };

    TerminalLink() = default;
    TerminalLink(const TerminalLink&) = delete;
    TerminalLink& operator=(const TerminalLink&) = delete;

    serial::OpenResult open(const QString& devicePath, int baud);
    // Closes the port; true when it was open and closed cleanly.
    bool close();
    bool isOpen() const { return m_device.isOpen(); }
    QString devicePath() const { return m_device.path(); }
    // Why the last open failed, or that the device went away.
    const serial::PortStatus& deviceStatus() const { return m_device.status(); }
    bool deviceRemoved() const { return m_device.removed(); }
    // Waits up to `timeout` for the terminal to send something, taking
    // nothing (see SerialDevice::waitReadable).
    bool inputWaiting(std::chrono::milliseconds timeout) const { return m_device.waitReadable(timeout); }
    // Whether the last receiving exchange ran into its deadline.
    bool deadlinePassed() const { return m_deadlinePassed; }

    // Up to `attempts` read attempts; returns the first byte that arrives, or
    // 0 when none came (a received 0x00 byte looks the same). A port that is
    // closed or has failed still spends the attempts' time, so a caller's
    // loop never spins; one whose device was removed, or a read past the
    // exchange's deadline, returns 0 at once.
    std::uint8_t ReadByte(int attempts, const Interrupt& interrupt = {});
    // Writes one byte; the outcome is ignored.
    void WriteByte(std::uint8_t byte);

    // Command opening: discards pending input, sends SOH, expects ACK
    // within 200 attempts and sends the letter twice.
    // Returns 0 (letter sent), 1 (no ACK), -1 (no port open).
    int OpenCommand(char letter);

    // Sends frame bytes 0..n-1 with their checksum and waits for ACK and a
    // result character. Returns 0 ("0"), -1 (no answer), -2 (NAK), -3 ("1"),
    // -4 (no result character), -5 (other result character), -10 (answer
    // neither ACK nor NAK), -20 (incomplete write or n too large).
    int SendConfirmedFrame(std::size_t n);

    // Sends frame bytes 0..n-1 with their checksum (up to a zero byte among
    // them) and waits for one ACK. Returns 0 (ACK), -2 (other answer),
    // -10 (write failed or n too large), -20 (no answer).
    int SendAcknowledgedText(std::size_t n);

    // The PC side of a record upload. Returns 0 for a new record (left in
    // *record; sequence.previous raised), 100 for one already taken, 4 when
    // the terminal had none (EOT), 10 for a plain record shorter than 9 bytes
    // or an identification element without "/", 96 for a wrong checksum,
    // -100 for 1000 data bytes or more, 250 + n for silence after n bytes.
    // sequence.current takes the number of every record that got that far.
    int ReceiveRecord(protocol::RecordKind kind, Sequence& sequence, std::string* record);

    // A text line ended by CR. Returns 0 with the line in *line (cut to the
    // frame buffer), or -10 for silence or a line that never ends.
    int ReceiveTextLine(std::string* line);

    // Reads a status block of up to 46 bytes into the frame buffer, one
    // after the other as they come: the first with the wait of a first
    // answer byte (kStandardAttempts), each of the next 45 positions with
    // kStatusAttempts (a position that stays silent is passed over). Returns
    // the number of bytes that arrived, a 0x00 byte included; 0 when the
    // first one did not come.
    int ReceiveStatusBlock();

    // Receives an on-line block after its SOH: header, STX, CR-ended
    // records, ETX, checksum. *records counts the CRs from the STX on (also
    // when the block is refused later). Returns 0, or 50 (bad header), 33
    // (no STX), 64 (silence), 80 (more than the buffer holds), 96 (checksum).
    // The records are left in the frame buffer, each ended by LF, record i
    // at position 20 * i, the data ended by a zero byte.
    int ReceiveOnlineBlock(int* records, const Interrupt& interrupt = {});

    // Register read after the opening with "a": the request for `address`
    // (0..255), then the six answer bytes into frame positions 0..5.
    // Returns 0, -2 (write failed), -3 (silence).
    int RegisterRead(int address);
    // Register write after the opening with "b". Returns 0 with the answer
    // byte in *answer, -2 (write failed), -3 (silence).
    int RegisterWrite(int address, long value, std::uint8_t* answer);

    // The frame buffer.
    std::span<std::uint8_t, kFrameBufferSize> frame() { return m_frame; }
    std::span<const std::uint8_t, kFrameBufferSize> frame() const { return m_frame; }
    // Copies bytes to the start of the frame buffer, leaving room for a
    // checksum and a terminating zero. False (nothing copied) when they
    // would not fit.
    [[nodiscard]] bool loadFrame(std::string_view bytes);
    // Frame bytes from `pos` up to the first zero byte (or the end).
    std::string_view frameText(std::size_t pos = 0) const;

private:
    // Sets the deadline of a receiving exchange for its lifetime.
    class DeadlineScope {
    public:
        explicit DeadlineScope(TerminalLink& link);
        ~DeadlineScope();
        DeadlineScope(const DeadlineScope&) = delete;
        DeadlineScope& operator=(const DeadlineScope&) = delete;

    private:
        TerminalLink& m_link;
    };

    // ReadByte that tells silence (-1) from a received 0x00 byte.
    int readOne(int attempts, const Interrupt& interrupt = {});
    std::size_t writeFrame(std::size_t n);
    void discardPendingInput();

    serial::SerialDevice m_device;
    std::array<std::uint8_t, kFrameBufferSize> m_frame{};
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_deadlinePassed = false;
};

} // namespace rk40
