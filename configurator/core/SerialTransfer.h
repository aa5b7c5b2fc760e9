#pragma once

// Moving the register image between the control and a terminal on a local
// serial port, without any window: the word loop with its attempts and
// pauses, the last-terminal record and the transfer log. The serial
// commands of the main sheet drive it with their dialogs; a command-line
// program can drive it with an observer of its own.

#include "core/LastTerminal.h"
#include "core/TransferLog.h"

#include <QString>

#include <chrono>
#include <optional>

class CRK40Comm;

namespace serialxfer {

constexpr int kAttempts = 3;                               // per word
constexpr std::chrono::milliseconds kRetryDelay{100};     // before each repeated attempt
constexpr std::chrono::milliseconds kWordPause{25};       // after each written word
constexpr int kBaudRates[3] = {2400, 4800, 9600};

// Which port and speed: port index 0..9 for COM1..COM10 (-1, "none could be
// selected", is taken as COM1, as the control does), baud 2400, 4800 or 9600.
struct PortChoice {
    int portIndex = -1;
    int baud = 9600;
    // The device was given by path and is no COM name of the mapping: the
    // transfer log names port 00.
    bool outsideMapping = false;
    // A device opened by path instead of the COM name's (outsideMapping).
    QString devicePath = {};
    // The COM number the choice opens (1..10).
    int comNumber() const { return portIndex >= 0 && portIndex <= 9 ? portIndex + 1 : 1; }
};

// The value a word goes out with: words 10..37 with bit 14 cleared and bit 15
// set, words 38 and 39 unchanged. A word whose text holds no hexadecimal
// number (an entry nothing has set) counts as 0.
quint16 wireValue(int address, const QString& text);

// What a transfer tells its driver and asks it.
class ITransferObserver {
public:
    virtual ~ITransferObserver() = default;
    // The port is open (read: the record now names it).
    virtual void portOpened(int /*comNumber*/) {}
    // Asked before each word; true ends the transfer (the user confirmed).
    virtual bool stopRequested() { return false; }
    // A word was read or written.
    virtual void wordDone(int /*address*/) {}
    // Waits between attempts and after written words. The default sleeps.
    virtual void pause(std::chrono::milliseconds duration);
};

struct Outcome {
    enum Status {
        Done,        // every word moved
        Cancelled,   // stopped by the driver; the words before stay moved
        PortFailed,  // InitTerminal failed; nothing moved
        WordFailed,  // a word failed every attempt; the words before stay moved
    };
    Status status = Done;
    int comNumber = 0;       // the port used (1..10)
    int failedAddress = 0;   // WordFailed: the word
    int wordsDone = 0;
    short lastResult = 0;    // WordFailed: the control's last result code
    // WordFailed before anything was sent: the control refused to give word
    // failedAddress of the image (reason says why); the record is unchanged.
    bool imageRefused = false;
    bool logged = false;     // write Done: the transfer log line was written
    QString logError;        // write Done: why the log line could not be written
    QString reason;          // PortFailed, WordFailed: why the port failed, in words (may be empty)
};

struct StatusOutcome {
    enum Status { Ok, PortFailed, Busy };
    Status status = Ok;
    int comNumber = 0;
    // Busy: the control's result code of GetStatus; 0 when it reported
    // success but the terminal sent no text at all (a mute terminal).
    short result = 0;
    QString reason;          // PortFailed, Busy: why the port failed, in words (may be empty)
    QString firmware, rtc, inBuffer;
};

// Why a status query failed (Busy), in words of the program's language:
// what the result code means, then why the port failed when that is known.
QString describeStatusFailure(const StatusOutcome& out);

class SerialTransfer {
public:
    // comm: the control holding the image; record: the program's
    // last-terminal record; log: where successful writes are logged (may be
    // null: nothing is logged).
    SerialTransfer(CRK40Comm& comm, LastTerminal& record, const translog::TransferLog* log);

    // Reads words 10..39 into the image. Stores the baud rate in the record
    // at once; when the port opens, the record names it (valid, serial);
    // a port that does not open or a word that fails every attempt clears
    // the record's validity; a cancel leaves it valid. The port is closed on
    // every path.
    Outcome read(const PortChoice& port, ITransferObserver& observer);

    // Writes words 10..39 (see wireValue). Takes every word from the image
    // first: a word the control refuses ends the write before anything is
    // sent (WordFailed with imageRefused). With a port, opens it first (the
    // record is not changed); without one, uses the port the caller has
    // already opened for the record's terminal (Apply To Last). A word that
    // fails every attempt clears the record's validity. On success the
    // transfer log gains one line. The port is closed on every path.
    // reusedPortOpened: without a port, whether the caller's opening worked.
    Outcome write(const std::optional<PortChoice>& port, ITransferObserver& observer, bool reusedPortOpened = true);

    // Opens the record's port at its baud rate for write(std::nullopt). The
    // result is returned for information: a port that did not open makes
    // the first word fail, which write reports.
    bool openRecordPort();

    // Asks the terminal for its status. Changes neither the image nor the
    // record. The port is closed on every path.
    StatusOutcome status(const PortChoice& port);

private:
    bool open(const PortChoice& port);
    // Why the port failed, in the program's language: what this program
    // finds at the device now (the control's own words when it finds
    // nothing), or, once the port was open, that the device was removed.
    QString portFailure(int comNumber) const;
    // Moves words 10..39 one by one, each with its attempts (none more once
    // the device is gone), pausing after each when asked; closes the port at the end or at the first stop or
    // failed word (recorded in out). Returns true when every word moved.
    template <typename WordCall>
    bool moveWords(Outcome& out, ITransferObserver& observer, WordCall call, std::chrono::milliseconds pauseAfterWord);

    CRK40Comm& m_comm;
    LastTerminal& m_record;
    const translog::TransferLog* m_log;
    bool m_opened = false;   // the last opening succeeded
    QString m_device;        // the device the last opening was for
};

} // namespace serialxfer
