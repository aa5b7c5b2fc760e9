#pragma once

// Operations on one terminal through a communication control that the
// caller created (through the component registry) and hands in: the
// identification table (list, add, remove, clear, sync to a wanted table),
// status and clock. Every call goes by DISPID; nothing links the control.
// Nothing is printed and no window opens: each operation returns an outcome
// with the control's result code and its meaning in words.
//
// The control must be off-line (WorkOnLine FALSE) or the caller must hold
// it between on-line blocks; calls run on the control's owner thread.

#include "terminalops/KeyDiff.h"
#include "terminalops/KeyTable.h"

#include <QString>
#include <QVariantList>

#include <functional>
#include <vector>

namespace component {
class IDispatchControl;
}

namespace terminalops {

// DISPIDs of the members used here.
namespace dispid {
inline constexpr int kCurrWeektype = 3;
inline constexpr int kDayOfWeek = 4;
inline constexpr int kFirmware = 6;
inline constexpr int kIdtElement = 8;
inline constexpr int kIdtNum = 9;
inline constexpr int kIdtPrevRx = 10;
inline constexpr int kInBuffer = 11;
inline constexpr int kRtc = 12;
inline constexpr int kBaudRate = 17;
inline constexpr int kAddIdElement = 18;
inline constexpr int kDestroyTerminal = 19;
inline constexpr int kGetStatus = 21;
inline constexpr int kInitTerminal = 22;
inline constexpr int kKillIdElement = 23;
inline constexpr int kKillIdt = 24;
inline constexpr int kPcTimeCopy = 25;
inline constexpr int kResetCurrTx = 28;
inline constexpr int kRxIdtElement = 30;
inline constexpr int kTakeIdtNum = 34;
} // namespace dispid

// The code a member gives when the call itself could not be made (the
// dispatch refused it); `words` then holds the dispatch's reason.
inline constexpr int kCallFailed = -32768;

// The outcome of one member call.
struct OpResult {
    QString member;   // "AddIDElement", ...
    int code = 0;     // the member's result; 0 done
    QString words;    // what the code means here
    bool ok() const { return code == 0; }
    // "AddIDElement: the terminal could not carry the command out (result code -3)"
    QString text() const;
};

// Words for a result of one of the members used here: the code is read in
// the member's own family (-1 is a closed port for one member and an
// unanswered frame for another).
QString describeResult(const QString& member, int code);

struct PortSpec {
    int portIndex = 0;    // 0..9: COM1..COM10
    QString devicePath;   // when set: this device instead of the COM name's
    int baud = 9600;
};

struct KeyListing {
    OpResult result;      // the first call that failed, or the last done
    KeyList keys;         // sorted by id; what came before a failure
    QString tableNumber;  // the terminal's table number line (TakeIDTNum)
};

struct StatusReading {
    OpResult result;
    QString firmware, rtc, dayOfWeek, inBuffer;
};

struct SyncOutcome {
    std::vector<KeyChange> changes;   // what the terminal's table needed
    struct Refusal {
        KeyChange change;
        OpResult result;
    };
    std::vector<Refusal> refused;     // changes the terminal did not take
    OpResult failure;                 // a listing (before or after) or the port failed: code != 0
    KeyList after;                    // the table listed again at the end
    bool equal = false;               // `after` equals the wanted table
};

class TerminalOps {
public:
    // Told of every key change the terminal has taken (added: true for an
    // addition, false for a removal), e.g. for an audit trail.
    using ChangeObserver = std::function<void(bool added, const QString& id, int access)>;

    explicit TerminalOps(component::IDispatchControl& control);

    // Opens the port (BaudRate, the device, InitTerminal). code 0 when open,
    // else 1 with the control's reason in words.
    OpResult open(const PortSpec& port);
    // Closes the port (DestroyTerminal).
    void close();

    // The whole identification table: IDTPrevRx to -1, ResetCurrTx, then
    // RxIDTElement until the terminal has no more, then TakeIDTNum.
    // IDTPrevRx is given back its earlier value afterwards.
    KeyListing listKeys();
    OpResult addKey(const QString& id, int access);
    // Removes the key; `access` is the access it has (only its low bits
    // travel), -1 when not known (the observer is told -1).
    OpResult removeKey(const QString& id, int access = -1);
    OpResult clearKeys();
    // Lists the table, sends only the difference to `wanted` (removals,
    // then additions; a change of access as both), lists again. A change
    // the terminal refuses is recorded and the others still sent; a port
    // that stops answering ends it.
    SyncOutcome syncKeys(const KeyList& wanted);

    // GetStatus, then Firmware, RTC, DayOfWeek and InBuffer.
    StatusReading readStatus();
    // PCTimeCopy: the terminal's clock to this machine's local time.
    OpResult setClock();

    void setChangeObserver(ChangeObserver observer) { m_observer = std::move(observer); }

private:
    OpResult method(int dispid, const char* member, const QVariantList& args = {});
    QString property(int dispid) const;

    component::IDispatchControl& m_control;
    ChangeObserver m_observer;
};

} // namespace terminalops
