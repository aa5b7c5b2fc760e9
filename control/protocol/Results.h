#pragma once

// Result codes of the terminal exchanges. Every code means one thing a
// caller can act on; describeResult() turns one into words for a person.

#include <cstdint>
#include <string>

namespace rk40::result {

// Command opening.
inline constexpr int kOk = 0;
inline constexpr int kNotReady = 1;   // the terminal did not answer SOH with ACK
inline constexpr int kPortClosed = -1; // no port is open

// Confirmed frame.
inline constexpr int kFrameNoAnswer = -1;
inline constexpr int kFrameNak = -2;
inline constexpr int kFrameRefused = -3;       // result character "1"
inline constexpr int kFrameNoResult = -4;      // no result character in time
inline constexpr int kFrameOtherResult = -5;   // result character neither "0" nor "1"
inline constexpr int kFrameOtherAnswer = -10;  // neither ACK nor NAK
inline constexpr int kFrameWriteFailed = -20;  // fewer bytes written than the frame holds

// Acknowledged text.
inline constexpr int kTextNak = -2;           // any answer other than ACK
inline constexpr int kTextWriteFailed = -10;
inline constexpr int kTextNoAnswer = -20;

// Record upload.
inline constexpr int kRecordNothingToSend = 4;   // EOT
inline constexpr int kRecordMalformed = 10;      // too short (plain) or without "/" (identification)
inline constexpr int kRecordBadChecksum = 96;
inline constexpr int kRecordAlreadyTaken = 100;
inline constexpr int kRecordTooLong = -100;
inline constexpr int kRecordSilenceBase = 250;   // 250 + bytes taken before the silence

// Text line.
inline constexpr int kLineSilence = -10;

// On-line block.
inline constexpr int kBlockNoStx = 33;
inline constexpr int kBlockBadHeader = 50;
inline constexpr int kBlockSilence = 64;
inline constexpr int kBlockTooLong = 80;
inline constexpr int kBlockBadChecksum = 96;

// Register read and write (the members' own codes).
inline constexpr int kRegisterNotReady = 1;
inline constexpr int kRegisterBadAnswer = 3;     // read: checksum wrong; write: NAK
inline constexpr int kRegisterOtherAnswer = 4;   // write: neither ACK nor NAK
inline constexpr int kRegisterLockFailed = -1;
inline constexpr int kRegisterWriteFailed = -2;
inline constexpr int kRegisterSilence = -3;
inline constexpr int kRegisterBadArgument = -4;  // address outside 0..255 or value outside 0..65535

// Status, clock and message members.
inline constexpr int kStatusRefused = 12;       // the terminal answered the status request with a lone NAK
inline constexpr int kStatusNoBlock = 13;       // the terminal took the status request but sent no byte of the block
inline constexpr int kClockNotTaken = 3;        // the clock text was not acknowledged (any failure)
inline constexpr int kMessageNotSent = 2;       // the message went unanswered or could not be written
inline constexpr int kMessageRefused = 3;       // the message was answered with something other than ACK
inline constexpr int kMessageNotCarried = 4;    // the message would put a zero byte on the line; nothing was sent
inline constexpr int kLockFailed = 1;           // exchange lock unavailable (most members)

// Identification table members.
inline constexpr int kIdArgumentRefused = -6;   // fewer than 14 hexadecimal digits first in the identifier, or access byte outside 0..255

// The same number means different things in different exchanges: a code
// is described within its family.
enum class Family {
    Opening,          // the command opening (SOH, ACK, letter)
    ConfirmedFrame,   // a frame answered by ACK and a result character
    AcknowledgedText, // a text answered by ACK
    RecordUpload,     // a record the terminal sends on request
    TextLine,         // a CR-ended line the terminal sends on request
    OnlineBlock,      // an on-line block (ErrCode)
    Register,         // ReadEEPR, WriteEEPR
    Status,           // GetStatus
    ClockCopy,        // PCTimeCopy
    Message,          // SendMessage
    IdElement,        // AddIDElement, KillIDElement, TxDayType, TxWeekType
};

// Words for a person: what `code` means as a result of `family`.
std::string describeResult(Family family, int code);

} // namespace rk40::result
