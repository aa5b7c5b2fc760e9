#pragma once

// An RK-40 terminal simulator on a pseudo-terminal: the far end of the serial
// protocol, for tests, benchmarks and demo runs. It answers every command
// the PC may send, keeps 256 EEPROM words, an identification table and the
// calendar texts, sends on-line event blocks on request and can be told to
// misbehave in many small ways (see Fault).
//
// Every public member is thread-safe. The terminal runs one service thread
// that owns the line: a command exchange and an on-line block never overlap.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace rk40sim {

// Control bytes of the line.
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t CR = 0x0D;
inline constexpr std::uint8_t NAK = 0x15;

// Something the terminal does wrong on purpose.
//
// The opening faults (SilenceOnOpen, NakOnOpen) act on the answer to the
// SOH that opens a command; they are taken by the next opening whatever its
// letter. All other faults act on the command's answer (the bytes the
// terminal sends after it has read the command letters and the frame) and
// are taken by the next command whose letter matches `letter` (0: any).
struct Fault {
    enum Kind {
        SilenceOnOpen,    // no answer to the SOH
        NakOnOpen,        // NAK instead of ACK to the SOH
        Silence,          // opening answered, then no answer to the frame at all
        Nak,              // the whole answer is one NAK (replaces the ACK of a
                          // write, text or frame; a lone NAK for the status block)
        OtherByte,        // the whole answer is one byte `param` (default 'X')
        BadChecksum,      // the checksum of a register read or a record upload is wrong
        ResultOne,        // confirmed frame: ACK, then result character "1"
        ResultOther,      // confirmed frame: ACK, then result character `param` (default '7')
        NoResult,         // confirmed frame: ACK, then no result character
        Truncate,         // the answer stops after `param` bytes (default 0)
        Garbage,          // `param` printable garbage bytes before the answer (default 3)
        Pause,            // a pause of `param` ms in the middle of the answer
        Disconnect,       // the pseudo-terminal is closed after `param` bytes of the
                          // answer (-1: half of it); the port vanishes for the PC
    };
    Kind kind = Silence;
    int param = -1;       // -1: the kind's default
    char letter = 0;      // 0: any command; ignored by the opening faults
};

// How often an injected fault acts.
inline constexpr int kPersistent = -1;

// Variations of an on-line block, to send malformed ones.
struct BlockOptions {
    bool badChecksum = false;            // checksum byte off by one bit
    std::optional<std::uint8_t> kindByte; // send this byte instead of "S"/"V"
    bool omitStx = false;                // no STX after the header
    int stopAfter = -1;                  // stop after this many bytes behind the STX (data,
                                         // ETX and checksum counted), -1: send all
    bool highBytes = false;              // bytes 0x80..0xFF inside every record (not checksummed)
    bool controlBytes = false;           // control bytes inside every record (not checksummed)
    int extraData = 0;                   // this many more data characters before ETX (checksummed)
    bool noAckWait = false;              // "V": send STX without waiting for the PC's ACK
    std::chrono::milliseconds byteGap{0}; // trickle: this pause before every byte after the
                                         // header (a line that never quite falls silent)
    std::chrono::milliseconds answerTimeout{3000}; // wait for the PC's ACK/NAK
};

// Damage done by the line itself, byte by byte, as a noisy or loose cable
// would do it. Each rate is per byte, in parts per million (0: never). The
// damage comes from a generator seeded with `seed`, so a run with the same
// seed and the same traffic damages the same bytes again.
struct LineNoise {
    std::uint64_t seed = 1;
    int corruptPpm = 0;    // the byte arrives as another random byte
    int dropPpm = 0;       // the byte is lost
    int duplicatePpm = 0;  // the byte arrives twice
    int insertPpm = 0;     // a random byte arrives before it
    bool toPc = true;      // damage what the terminal sends
    bool fromPc = false;   // damage what the PC sends, before the terminal reads it
};

// What the line did so far (since setLineNoise).
struct LineNoiseCounts {
    std::uint64_t bytes = 0;  // bytes that went through a noisy direction
    std::uint64_t corrupted = 0;
    std::uint64_t dropped = 0;
    std::uint64_t duplicated = 0;
    std::uint64_t inserted = 0;
    std::uint64_t damaged() const { return corrupted + dropped + duplicated + inserted; }
};

// A terminal that sends on-line blocks one after the other for as long as
// the flood runs, each as soon as the line is idle and the previous one is
// answered (or its answer timed out). The records are well-formed event
// records made from a generator seeded with `seed`.
struct Flood {
    std::uint64_t seed = 1;
    int minRecords = 1;
    int maxRecords = 32;          // at most 50 (1000 data bytes)
    char kind = 'S';              // 'S', 'V', or 0: either, at random
    std::chrono::milliseconds gap{0};  // pause between blocks
    std::chrono::milliseconds answerTimeout{3000};
};

// What the PC answered to the last on-line block.
enum class BlockAnswer {
    Pending,   // nothing sent yet, or still in progress
    Ack,
    Nak,
    None,      // no answer in time (also: no ACK after a "V" header)
    Other,     // another byte (see lastBlockAnswerByte); an SOH aborts the block
};

// An element of the identification table; the identifier is kept as it
// travels on the wire (seven byte pairs in reverse order).
struct IdElement {
    std::string wireId;  // 14 hexadecimal digits, wire order
    std::uint8_t access = 0;
    bool operator==(const IdElement&) const = default;
};

class Terminal {
public:
    // Opens a pseudo-terminal pair and starts answering. Throws
    // std::runtime_error when no pseudo-terminal can be had.
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // The device the PC opens, e.g. "/dev/pts/3".
    std::string slavePath() const;
    // False after a Disconnect fault closed the pseudo-terminal.
    bool connected() const;

    // Paces every byte sent at 10 bits per byte at `baud` and lets the PC's
    // bytes arrive no faster either; 0 switches pacing off (the default).
    void setWireTiming(int baud);

    // EEPROM words, all 0 at start.
    void setWord(int address, std::uint16_t value);
    std::uint16_t word(int address) const;
    // Digits of the register read answer in lower case (default upper).
    void setLowerCaseHex(bool lower);

    // Status block texts (defaults "RK40 V6.29", "08.01.03307:09", "0000").
    void setStatus(const std::string& firmware, const std::string& clock, const std::string& inBuffer);
    void setFirmware(const std::string& text);
    void setClock(const std::string& text);
    void setInBuffer(const std::string& text);
    // The 46 bytes the next status block carries.
    std::vector<std::uint8_t> statusBlock() const;

    // Clock text of the last accepted "D"; it also becomes the clock of the
    // status block. Empty until one came.
    std::string lastClockText() const;

    // The line answered to "j" (default "0001"), sent followed by CR.
    void setIdtNumText(const std::string& text);

    // Identification table ("i" adds or replaces, "e" deletes, "k" clears,
    // "s" uploads one element at a time, "r" restarts the upload).
    std::vector<IdElement> idTable() const;
    void addIdElement(const std::string& wireId, std::uint8_t access);
    void clearIdTable();
    // The upload of element i carries the sequence number base + i (default 1).
    void setSequenceBase(int base);
    // Turns 14 digits between container and wire order (the same both ways).
    static std::string reverseIdBytes(const std::string& digits);

    // Day and week types received with "t" and "u", in order.
    std::vector<std::string> receivedDayTypes() const;
    std::vector<std::string> receivedWeekTypes() const;
    // Records uploaded by "v" and "w", first queued first; a record leaves
    // the queue when the PC acknowledges it.
    void queueDayTypeRecord(const std::string& record);
    void queueWeekTypeRecord(const std::string& record);
    // What the PC answered to the last upload ("s", "v", "w"): ACK, NAK, or
    // 0 when nothing came.
    std::uint8_t lastUploadAnswer() const;

    // The last text message (24 characters as received, "" after "M") and
    // the letter it came with.
    std::string lastMessage() const;
    char lastMessageLetter() const;

    // Everything the PC sent, in order of arrival.
    std::vector<std::uint8_t> received() const;
    void clearReceived();
    // Everything the terminal sent, in order.
    std::vector<std::uint8_t> transmitted() const;
    void clearTransmitted();

    // Commands seen (letter read after an answered SOH), per letter, and SOHs seen.
    int commandCount(char letter) const;
    int openingCount() const;
    // Waits until commandCount(letter) >= count; false on time-out.
    bool waitForCommand(char letter, int count, std::chrono::milliseconds timeout) const;

    // Faults for the next `times` matching commands (kPersistent: until cleared).
    void injectFault(Fault fault, int times = 1);
    void clearFaults();

    // Queues an on-line block of event records ("S" or "V"); the service
    // thread sends it as soon as the line is idle and records the PC's
    // answer. Returns at once: the PC may need the caller's thread to take
    // the block.
    void sendOnlineBlock(char kind, const std::vector<std::string>& records, BlockOptions options = {});
    // Answer to the last block sent; Pending while one is queued or running.
    BlockAnswer lastBlockAnswer() const;
    std::uint8_t lastBlockAnswerByte() const;
    // Waits until no block is queued or running; false on time-out.
    bool waitBlockDone(std::chrono::milliseconds timeout) const;
    int blocksSent() const;

    // Every on-line block sent so far, in order, with its records and the
    // PC's answer (kept until clearBlockHistory).
    struct SentBlock {
        char kind = 'S';
        std::vector<std::string> records;
        BlockAnswer answer = BlockAnswer::Pending;
    };
    std::vector<SentBlock> blockHistory() const;
    void clearBlockHistory();
    // The history so far, emptied in the same step (nothing is lost between
    // reading and clearing).
    std::vector<SentBlock> takeBlockHistory();

    // Noise on the line from now on (replaces earlier noise, resets the
    // counts); clearLineNoise() makes the line clean again.
    void setLineNoise(const LineNoise& noise);
    void clearLineNoise();
    LineNoiseCounts lineNoiseCounts() const;

    // Starts or stops a flood of on-line blocks. Blocks queued with
    // sendOnlineBlock go first.
    void startFlood(const Flood& flood);
    void stopFlood();
    bool flooding() const;

    // Closes the pseudo-terminal now, between or during exchanges: the PC's
    // port vanishes as with the Disconnect fault. connected() turns false.
    void disconnectNow();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The frame checksum: XOR of the bytes, then bit 5 set.
std::uint8_t checksum(const std::uint8_t* data, std::size_t size);
std::uint8_t checksum(const std::string& text);

// The bytes of an on-line block after its header ("S"/"V") as they go on
// the wire: STX, records each followed by CR, ETX, checksum (with the
// variations of `options`).
std::vector<std::uint8_t> onlineBlockBody(const std::vector<std::string>& records, const BlockOptions& options);

// The damage of a noisy line applied to bytes on their way, drawing from
// `random` and adding to `counts` (what Terminal does with setLineNoise, for
// models of the line that run without a pseudo-terminal).
std::vector<std::uint8_t> applyLineNoise(const LineNoise& noise, std::mt19937_64& random, LineNoiseCounts& counts,
                                         const std::uint8_t* data, std::size_t size);

// Text of a fault kind for the command line ("nak", "truncate", ...), and back.
const char* faultName(Fault::Kind kind);
std::optional<Fault::Kind> faultFromName(const std::string& name);

}  // namespace rk40sim
