#pragma once

// The communication control: one serial port to an RK-40 terminal behind a
// dispatch interface. Members run on the thread that created the control
// (its owner thread) and carry out their whole exchange there under the
// exchange lock. In on-line mode a reception thread watches the port for
// blocks the terminal starts and hands each one over to the owner thread.

#include "platform/component/DispatchTable.h"
#include "control/ctrl/CodePage.h"
#include "control/ctrl/RegisterFile.h"
#include "control/ctrl/Strings.h"
#include "control/link/TerminalLink.h"
#include "control/ctrl/TypeLibrary.h"

#include <QDateTime>
#include <QPointer>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

class QObject;
class QWidget;

namespace rk40 {

class CRK40CommCtrl final : public component::IDispatchControl {
public:
    // Status bits: which of the two resources InitTerminal has open.
    enum StatusBit : int { kRegisterFileOpen = 1, kPortOpen = 2 };

    // How long a member waits for the exchange lock. The reception thread
    // gives the port up as soon as a member waits, so this is never reached
    // in normal operation.
    static constexpr std::chrono::milliseconds kLockWait{10000};
    // How long the reception thread waits for the lock before it checks
    // whether it should stop.
    static constexpr std::chrono::milliseconds kPollLockWait{50};
    // The reception thread's wait for input on a quiet line; it bounds how
    // long ending the connection waits for the thread.
    static constexpr std::chrono::milliseconds kIdleWait{50};
    // ErrCode of the ErrMessage fired when the device goes away while the
    // control is on line (its reception thread has stopped).
    static constexpr qint16 kErrDeviceRemoved = 110;

    CRK40CommCtrl();
    ~CRK40CommCtrl() override;
    CRK40CommCtrl(const CRK40CommCtrl&) = delete;
    CRK40CommCtrl& operator=(const CRK40CommCtrl&) = delete;

    // component::IDispatchControl
    const component::TypeLibInfo& typeLibrary() const override;
    component::InvokeResult invoke(int dispid, component::InvokeKind kind, const QVariantList& args = {}) override;
    void advise(component::IEventSink* sink) override;
    void unadvise(component::IEventSink* sink) override;
    void initNew() override;
    component::HRESULT load(const component::PropertyBag& bag) override;
    component::HRESULT save(component::PropertyBag& bag) const override;
    bool isDirty() const override { return m_dirty; }
    QWidget* createFace(QWidget* parent) override;

    // ---- Connection ----
    // Opens the register file for appending and the port COM<portNum + 1>
    // (portNum 0..9; any other value: COM1). Returns false when either
    // fails; statusBits() tells which (0: register file, 1: port). An empty
    // AsciiFileName means no register file: nothing is opened or created,
    // bit 0 stays clear, and on-line blocks are still received, answered,
    // decoded and reported with RxRegs, only not appended. Called while a
    // connection is open, it
    // first ends that one as DestroyTerminal. The code page is read from
    // the profile here.
    bool InitTerminal(qint16 portNum);
    // Ends the reception thread, closes the port and the register file. No
    // poll or exchange reaches the port after it returns.
    void DestroyTerminal();

    // ---- Register and EEPROM access ----
    qint16 ReadEEPR(qint16 address);
    qint16 WriteEEPR(qint16 address, qint32 contents);

    // ---- Identification table ----
    // AddIDElement / KillIDElement: the confirmed frame's result; the first
    // 14 characters of the identifier are sent, -6 when there are fewer or
    // they are not all hexadecimal digits, or (AddIDElement) the access byte
    // is outside 0..255 (nothing is sent); 1 without an exchange lock.
    // KillIDElement sends the low five bits of any access byte.
    qint16 AddIDElement(const QString& ibutton, qint16 abyte);
    qint16 KillIDElement(const QString& ibutton, qint16 abyte);
    qint16 KillIDT();
    // TakeIDTNum: 0 with the line in IDTNum, -10 when no CR came.
    qint16 TakeIDTNum();
    // RxIDTElement: the record upload's result; a new element goes to
    // IDTElement (container order) and CurrWeektype (access byte, "%02d").
    qint16 RxIDTElement();
    qint16 ResetCurrTx();

    // ---- Status, clock, calendar types and terminal messages ----
    // GetStatus: 0, 12 (lone NAK), 13 (no byte of the block came), or the
    // opening's 1 / -1. Only 0 changes Firmware, DayOfWeek, RTC, InBuffer.
    qint16 GetStatus();
    // PCTimeCopy: 0, 3 (the clock text was not taken), or the opening's code.
    qint16 PCTimeCopy();
    // TxDayType / TxWeekType: the confirmed frame's result; a text longer
    // than 1000 characters, or one that would put a zero byte on the line,
    // is refused with -20 before anything is sent.
    qint16 TxDayType(const QString& day);
    qint16 TxWeekType(const QString& week);
    // RxDayType / RxWeekType: the record upload's result.
    qint16 RxDayType();
    qint16 RxWeekType();
    // SendMessage: 0 (ACK), 3 (other answer), 2 (no answer, or the text
    // could not be written), 4 (the text would put a zero byte on the line;
    // nothing is sent), or the opening's code.
    qint16 SendMessage(qint16 cmd);
    qint16 EraseMessage();

    // Shows the About box (modal) when the process has a widget application.
    void AboutBox();

    // ---- Event data collection ----
    // TakeData / ReconstructData: the opening's outcome (0, 1, -1).
    qint16 TakeData();
    qint16 ReconstructData();

    // The stock error notification of a failed register file append.
    static constexpr qint32 kRegisterFileErrorScode = static_cast<qint32>(0x800A003Au);
    static constexpr const char* kRegisterFileErrorText = "Slog nije upisan";
    // The position of the notification's by-reference CancelDisplay.
    static constexpr int kErrorCancelDisplay = 6;

    // ---- State for the face, the module and tests ----
    int statusBits() const { return m_status; }
    QString portName() const { return m_portName; }
    QString portDevicePath() const { return m_link.devicePath(); }
    bool receptionRunning() const { return m_reception.joinable() && !m_receptionEnded.load(); }
    // Why the port failed, in words: the last InitTerminal's open failure
    // ("/dev/ttyUSB0 is in use by minicom (process 812)") or the device's
    // removal since ("the device was removed (/dev/ttyUSB0)"); empty
    // otherwise. Also logged.
    QString failureReason() const override { return m_failureReason; }
    // The device InitTerminal opens instead of its COM name's (empty: the mapping).
    bool setDevicePath(const QString& path) override
    {
        m_devicePath = path;
        return true;
    }
    // Whether the reception thread is waiting for the owner thread to take
    // a block it has seen starting.
    bool handOverPending() const;
    // The clock used for dates (year expansion) and the clock copy.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    // The code page of the texts from the last InitTerminal.
    QString codePage() const { return m_codePage.name(); }
    // The language of the weekday names; without one, the session's
    // user-interface language decides.
    void setLanguage(std::optional<Language> language) { m_language = language; }
    // Called whenever the status bits change (the face repaints).
    void setStatusListener(std::function<void(int)> listener) { m_statusListener = std::move(listener); }

    // Live controls made in this process (for DllCanUnloadNow).
    static int liveObjects();

private:
    void registerHandlers();
    void resetProperties();
    // The persistent properties in the order they are saved: each one's
    // name, type, member and default drive its dispatch handlers, save,
    // load and reset.
    struct PersistentProperty;
    static std::span<const PersistentProperty> persistentProperties();
    QVariant persistentValue(const PersistentProperty& property) const;
    void setPersistentValue(const PersistentProperty& property, const QVariant& value);
    void setStatus(int bits);
    void markDirty() { m_dirty = true; }
    void fire(int eventId, const QVariantList& args = {});

    // Exchange lock: false when there is none yet (no InitTerminal) or it
    // could not be had within kLockWait.
    bool acquireExchange();
    void releaseExchange();
    // Holds the exchange lock (when it could be had) until release() or
    // the end of its scope.
    class ExchangeGuard {
    public:
        explicit ExchangeGuard(CRK40CommCtrl& ctrl) : m_ctrl(ctrl), m_locked(ctrl.acquireExchange()) {}
        ~ExchangeGuard() { release(); }
        ExchangeGuard(const ExchangeGuard&) = delete;
        ExchangeGuard& operator=(const ExchangeGuard&) = delete;
        bool locked() const { return m_locked; }
        void release()
        {
            if (m_locked)
                m_ctrl.releaseExchange();
            m_locked = false;
        }

    private:
        CRK40CommCtrl& m_ctrl;
        bool m_locked;
    };

    void startReception();
    void stopReception();
    void receptionLoop();
    void handOver();
    void onGetMessage(quint64 handOverId);
    void handleOnlineBlock();
    void onDeviceRemoved();
    void noteRemoval();
    void storeRecords(std::string_view data);
    void fireRxRegs();
    bool appendToRegisterFile(std::string_view data, QString* error);
    // Fires the stock error notification for a block not written; true when
    // no sink cancelled the display, so the text is still to be shown.
    bool notifyRegisterFileError(const QString& reason);
    void showRegisterFileError();

    // Takes the exchange lock into `exchange` and opens the command. 0 when
    // the command is open, otherwise the member's code (no lock:
    // lockFailure; the opening failed: its 1 or -1).
    qint16 beginCommand(ExchangeGuard& exchange, char letter, qint16 lockFailure = result::kLockFailed);
    qint16 openingOnly(char letter);
    qint16 sendIdElement(char letter, const QString& ibutton, int accessByte);
    qint16 sendTypeText(char letter, const QString& text);
    qint16 receivePlainRecord(char letter, QString* into);
    void storeSequence(const TerminalLink::Sequence& sequence);
    QString localString(int id) const;

    // Texts to and from the terminal, in the code page.
    QString fromBytes(std::string_view bytes) const { return m_codePage.toUnicode(bytes); }
    std::string toBytes(const QString& text) const { return m_codePage.fromUnicode(text); }

    component::DispatchTable m_dispatch;
    component::EventSinks m_sinks;

    // The owner thread's stand-in for the control's window: hand-overs from
    // the reception thread are queued to it.
    QObject* m_window = nullptr;
    QPointer<QWidget> m_face;

    // Connection state.
    TerminalLink m_link;
    QString m_portName;
    QString m_devicePath;   // set by the container: opened instead of the COM name's device
    QString m_failureReason;
    bool m_removalReported = false;
    std::recursive_timed_mutex m_lock;
    bool m_lockCreated = false;
    std::atomic<int> m_lockWaiters{0};
    RegisterFile m_registerFile;
    CodePage m_codePage;
    int m_status = 0;

    // Reception thread and its hand-over to the owner thread.
    std::thread m_reception;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_receptionEnded{false}; // the thread left its loop by itself
    mutable std::mutex m_handOverMutex;
    std::condition_variable m_handOverDone;
    quint64 m_handOverSerial = 0;
    quint64 m_pendingHandOver = 0; // 0: none

    // Indexed properties.
    std::array<QString, kRecordEntries> m_cardArr;
    std::array<QString, kRecordEntries> m_dateArr;
    std::array<QString, kRecordEntries> m_timeArr;
    std::array<QString, kRecordEntries> m_actionArr;
    std::array<QString, kRecordEntries> m_termNoArr;
    std::array<QString, kEepromEntries> m_eepromLoc;

    // Properties.
    QString m_asciiFileName;
    QString m_currDaytype;
    QString m_currWeektype;
    QString m_dayOfWeek;
    qint16 m_errCode = 0;
    QString m_firmware;
    qint16 m_idtCurrRx = 0;
    QString m_idtElement;
    QString m_idtNum;
    qint16 m_idtPrevRx = -1;
    QString m_inBuffer;
    QString m_rtc;
    QString m_termMessage;
    qint32 m_total = 0;
    bool m_workOnLine = true;
    bool m_ready = true;
    qint32 m_baudRate = 9600;

    // Base-class persistent state: the extent in HIMETRIC units.
    qint32 m_extentX = 1270;
    qint32 m_extentY = 1270;

    mutable bool m_dirty = false;
    std::function<QDateTime()> m_clock;
    std::optional<Language> m_language;
    std::function<void(int)> m_statusListener;
};

} // namespace rk40
