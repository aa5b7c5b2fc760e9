#pragma once

// The control's type library RK40COMMLib 1.0: the dispatch interface with
// every member's DISPID, type and parameters, the event interface and the
// coclass. The identifiers below are published and never change.

#include "platform/component/TypeInfo.h"

namespace rk40 {

inline constexpr const char* kLibId = "{0AC3C82F-C340-4A06-9314-9C031BBA0CD4}";
inline constexpr const char* kDispatchIid = "{6F916CAE-D23F-4E24-A713-04E3E1C93600}";
inline constexpr const char* kEventsIid = "{EF9E868E-0497-42BC-967C-E4A856D63F6D}";
inline constexpr const char* kControlClsid = "{1B962DBA-4057-4CB7-82FF-BA7834B75C38}";
inline constexpr const char* kPropPageClsid = "{A5B09953-856A-4466-A1DB-99884A09A601}";

inline constexpr const char* kControlProgId = "RK40COMM.RK40CommCtrl.1";
inline constexpr const char* kPropPageProgId = "RK40COMM.RK40CommPropPage.1";

// DISPIDs of the dispatch interface.
namespace dispid {
enum : int {
    AsciiFileName = 1,
    CurrDaytype = 2,
    CurrWeektype = 3,
    DayOfWeek = 4,
    ErrCode = 5,
    Firmware = 6,
    IDTCurrRx = 7,
    IDTElement = 8,
    IDTNum = 9,
    IDTPrevRx = 10,
    InBuffer = 11,
    RTC = 12,
    TermMessage = 13,
    Total = 14,
    WorkOnLine = 15,
    Ready = 16,
    BaudRate = 17,
    AddIDElement = 18,
    DestroyTerminal = 19,
    EraseMessage = 20,
    GetStatus = 21,
    InitTerminal = 22,
    KillIDElement = 23,
    KillIDT = 24,
    PCTimeCopy = 25,
    ReadEEPR = 26,
    ReconstructData = 27,
    ResetCurrTx = 28,
    RxDayType = 29,
    RxIDTElement = 30,
    RxWeekType = 31,
    SendMessage = 32,
    TakeData = 33,
    TakeIDTNum = 34,
    TxDayType = 35,
    TxWeekType = 36,
    WriteEEPR = 37,
    ActionArr = 38,
    CardArr = 39,
    DateArr = 40,
    EepromLoc = 41,
    TermNoArr = 42,
    TimeArr = 43,
    AboutBox = -552,
};
} // namespace dispid

// DISPIDs of the event interface.
namespace eventid {
enum : int {
    ErrMessage = 1,
    RxRegs = 2,
    Click = -600,
    DblClick = -601,
    Error = -608, // stock error notification
};
} // namespace eventid

inline constexpr int kRecordEntries = 32;
inline constexpr int kEepromEntries = 256;

const component::TypeLibInfo& typeLibrary();

} // namespace rk40
