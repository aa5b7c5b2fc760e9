#pragma once

// The terminal's serial frame protocol as plain functions over bytes: the
// control characters, the checksum, the requests the PC sends and the
// decoding of the answers. Nothing here touches a port or a lock; the link
// layer (TerminalLink) runs the exchanges and calls these.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rk40::protocol {

// Control bytes on the wire.
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t LF = 0x0A;
inline constexpr std::uint8_t CR = 0x0D;
inline constexpr std::uint8_t NAK = 0x15;

// Result characters that follow the ACK of a confirmed frame.
inline constexpr std::uint8_t kResultDone = '0';
inline constexpr std::uint8_t kResultRefused = '1';

// Header bytes of a block the terminal starts on its own.
inline constexpr std::uint8_t kOnlineHeaderS = 'S';
inline constexpr std::uint8_t kOnlineHeaderV = 'V';

// Command letters (each is sent twice after the terminal acknowledged SOH).
namespace command {
inline constexpr char ReadEeprom = 'a';
inline constexpr char WriteEeprom = 'b';
inline constexpr char ClockCopy = 'D';
inline constexpr char KillIdElement = 'e';
inline constexpr char AddIdElement = 'i';
inline constexpr char TakeIdtNumber = 'j';
inline constexpr char KillIdTable = 'k';
inline constexpr char EraseMessage = 'M';
inline constexpr char ReconstructData = 'P';
inline constexpr char ResetCurrentTx = 'r';
inline constexpr char ReceiveIdElement = 's';
inline constexpr char Status = 'S';
inline constexpr char SendDayType = 't';
inline constexpr char TakeData = 'T';
inline constexpr char SendWeekType = 'u';
inline constexpr char ReceiveDayType = 'v';
inline constexpr char ReceiveWeekType = 'w';
} // namespace command

// Limits of received data.
inline constexpr std::size_t kMaxRecordBytes = 1000;   // a record upload of this many data bytes is refused
inline constexpr std::size_t kMaxBlockDataBytes = 1000; // an on-line block of more data bytes is refused
inline constexpr std::size_t kEventRecordLength = 19;  // characters of one event record
inline constexpr std::size_t kEventRecordStride = 20;  // the record and its LF in the frame buffer
inline constexpr std::size_t kMessageLength = 24;      // terminal message text
inline constexpr std::size_t kMaxTextLength = 1000;    // day-type and week-type texts sent
inline constexpr std::size_t kClockTextLength = 14;
inline constexpr std::size_t kIdentifierDigits = 14;
inline constexpr std::size_t kStatusBlockLength = 46;
inline constexpr std::size_t kMinPlainRecordBytes = 9;

// The frame checksum: XOR of all bytes with bit 5 forced on, so that it is
// never a control byte. "abc" gives 0x60, "0A" gives 0x71.
std::uint8_t checksum(std::span<const std::uint8_t> bytes);
std::uint8_t checksum(std::string_view text);
// The checksum from an XOR accumulated byte by byte.
constexpr std::uint8_t finishChecksum(std::uint8_t xorAccumulator) { return xorAccumulator | 0x20; }

// Upper-case hexadecimal digits of a value, `digits` wide ("%02X", "%04X").
std::string hexDigits(unsigned value, int digits);

// Register read request: address as two digits and their checksum (3 bytes).
// Empty when the address is outside 0..255.
std::optional<std::array<std::uint8_t, 3>> registerReadRequest(int address);

// Register write request: address (2 digits), value (4 digits) and the
// checksum over the six digits (7 bytes). Empty when the address is outside
// 0..255 or the value outside 0..65535.
std::optional<std::array<std::uint8_t, 7>> registerWriteRequest(int address, long value);

// The answer to a register read: lead byte, four characters, checksum over
// the four. Returns the four characters, or empty when the checksum does
// not match or they are not all hexadecimal digits (either case).
inline constexpr std::size_t kRegisterAnswerLength = 6;
std::optional<std::string> decodeRegisterAnswer(std::span<const std::uint8_t, kRegisterAnswerLength> answer);

// How the terminal answered a register write.
enum class WriteAnswer { Written, Refused, Other };
WriteAnswer classifyWriteAnswer(std::uint8_t byte);

// ---- Record uploads (day type, week type, identification element) ----

enum class RecordKind { Plain, Identification };

enum class RecordByte {
    Data,         // stored and part of the checksum
    Skipped,      // dropped (identification kind: blanks, control bytes, 0x80 up)
    End,          // ETX: the checksum byte follows
    NothingToSend // EOT: the terminal has no record
};
RecordByte classifyRecordByte(RecordKind kind, std::uint8_t byte);

// The sequence number of a received record: plain records carry it as
// their first character (the character minus "0"), identification elements
// as the decimal number in front of the "/" (clamped to 16 bits). Empty for
// an identification element without "/".
std::optional<std::int16_t> recordSequenceNumber(RecordKind kind, std::string_view record);

// ---- On-line blocks ----

enum class BlockByte {
    Data,      // 0x0E..0x7F: stored and part of the checksum
    RecordEnd, // CR: stored as LF, counts a record, not part of the checksum
    End,       // ETX: the checksum byte follows
    Skipped    // every other byte
};
BlockByte classifyBlockByte(std::uint8_t byte);

// A byte kept in a text line (0x0E..0x7F); CR ends the line, others are skipped.
constexpr bool isTextLineByte(std::uint8_t b) { return b >= 0x0E && b <= 0x7F; }

// ---- Identification elements ----

// The identifier with its seven two-digit bytes in reverse order (the same
// function turns the wire order back). Empty unless the text is exactly
// 14 hexadecimal digits.
std::optional<std::string> reverseIdentifier(std::string_view identifier);

// The 17 data bytes of an add or kill frame: reversed identifier, the
// access byte as two digits, ETX. Empty for a bad identifier or an access
// byte outside 0..255.
std::optional<std::string> idElementFrame(std::string_view identifier, int accessByte);
// The access byte a kill frame carries: the low five bits with bit 7 set.
constexpr int killAccessByte(int accessByte) { return (accessByte & 0x1F) | 0x80; }

struct IdElement {
    std::string identifier; // 14 digits in container order
    int accessByte = 0;
};
// Decodes the part after "/" of an uploaded element: 14 identifier digits
// in wire order and two hexadecimal digits of the access byte. Empty when
// the record has no "/" or the part after it is malformed.
std::optional<IdElement> decodeIdElement(std::string_view record);

// ---- Status block ----

struct StatusTexts {
    std::string firmware;
    std::string clock;
    std::string inBuffer;
};
// Splits a status block (the bytes received) into its three CR-ended texts:
// three lead bytes, then the texts, each CR followed by three bytes that are
// skipped. The skipped bytes may be anything, a zero byte too; each text
// runs from its own start to its CR or the end of the block (a zero byte
// inside a text ends that text only). A missing text is empty.
StatusTexts splitStatusBlock(std::span<const std::uint8_t> block);

// Weekday string of a terminal clock text: position 8 "0" is Sunday (107),
// "1".."6" Monday..Saturday (101..106), anything else (or a short text) 108.
int weekdayStringId(std::string_view clock);
// The clock text with the weekday character replaced by a blank.
std::string clockWithoutWeekday(std::string_view clock);

// ---- Clock text sent to the terminal ----

struct LocalTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int dayOfWeek = 0; // 0 Sunday .. 6 Saturday
    int hour = 0;
    int minute = 0;
};
// "dd.mm.yyWhh:mm": day, month, two-digit year, weekday digit, hour, minute
// (always 14 characters).
std::string clockText(const LocalTime& t);

// ---- Terminal message ----

// The text cut or padded with blanks to exactly 24 characters.
std::string messageText(std::string_view text);

// ---- Event records ----

// Name of an event source digit 0..15 ("T1".."T4", "S1O".."S4Z", "E1".."E4").
std::string_view eventSourceName(int source);
// The event-source name for a value put into ActionArr: a value starting
// with a hexadecimal digit is read as a hexadecimal number, any other
// counts as 0. Empty when the number is above 15 (the entry stays).
std::optional<std::string> actionName(std::string_view value);
// "hh:mm" from the first four characters (fewer when the value is shorter).
std::string timeText(std::string_view value);
// "dd.mm.yy" from five characters ddmmy: the year is the most recent one
// ending in digit y that is not after currentYear. Without a year digit the
// text stops after the month ("dd.mm.").
std::string dateText(std::string_view value, int currentYear);
// The terminal number character as "%02d" of its value minus "0".
std::string terminalNumberText(char c);

struct EventRecord {
    std::string card;
    std::string action;
    std::string time;
    std::string date;
    std::string terminalNumber;
};
// Decodes one 19-character event record.
EventRecord decodeEventRecord(std::string_view record, int currentYear);

} // namespace rk40::protocol
