#include "control/ctrl/TypeLibrary.h"

namespace rk40 {

using component::EventInfo;
using component::InterfaceInfo;
using component::MemberInfo;
using component::MemberKind;
using component::ParamInfo;
using component::TypeLibInfo;
using component::VarType;

namespace {

MemberInfo property(int id, const char* name, VarType type, const char* help)
{
    return MemberInfo{id, name, MemberKind::Property, type, {}, 0, help};
}

MemberInfo method(int id, const char* name, VarType result, std::vector<ParamInfo> params, const char* help)
{
    return MemberInfo{id, name, MemberKind::Method, result, std::move(params), 0, help};
}

MemberInfo indexed(int id, const char* name, const char* index, int entries, const char* help)
{
    return MemberInfo{id, name, MemberKind::IndexedProperty, VarType::BStr, {ParamInfo{index, VarType::I2}}, entries, help};
}

TypeLibInfo build()
{
    TypeLibInfo lib;
    lib.name = "RK40COMMLib";
    lib.libid = kLibId;
    lib.majorVersion = 1;
    lib.minorVersion = 0;
    lib.help = "RK40Comm OLE Control module";

    InterfaceInfo& d = lib.dispatch;
    d.name = "_DRK40Comm";
    d.iid = kDispatchIid;
    d.help = "Dispatch interface for RK40Comm Control";
    using namespace dispid;
    const VarType S = VarType::BStr, I2 = VarType::I2, I4 = VarType::I4, B = VarType::Bool, V = VarType::Empty;
    d.members = {
        property(AsciiFileName, "AsciiFileName", S, "Path of the register file that accepted event blocks are appended to"),
        property(CurrDaytype, "CurrDaytype", S, "Last new day-type record read"),
        property(CurrWeektype, "CurrWeektype", S, "Last new week-type record read, or the access byte of the last new identification element"),
        property(DayOfWeek, "DayOfWeek", S, "Weekday of the terminal's clock from the last status"),
        property(ErrCode, "ErrCode", I2, "Outcome of the last on-line block: 0 or its reception error"),
        property(Firmware, "Firmware", S, "First text of the last status"),
        property(IDTCurrRx, "IDTCurrRx", I2, "Sequence number of the last uploaded record"),
        property(IDTElement, "IDTElement", S, "Identifier of the last new identification element"),
        property(IDTNum, "IDTNum", S, "Answer text of TakeIDTNum"),
        property(IDTPrevRx, "IDTPrevRx", I2, "Highest sequence number taken so far"),
        property(InBuffer, "InBuffer", S, "Third text of the last status"),
        property(RTC, "RTC", S, "Terminal clock from the last status"),
        property(TermMessage, "TermMessage", S, "Text sent by SendMessage"),
        property(Total, "Total", I4, "Number of records in the last on-line block"),
        property(WorkOnLine, "WorkOnLine", B, "On-line mode: InitTerminal starts watching for event blocks"),
        property(Ready, "Ready", B, "On-line event blocks are accepted"),
        property(BaudRate, "BaudRate", I4, "Baud rate used by InitTerminal"),
        method(AddIDElement, "AddIDElement", I2, {{"ibutton", S}, {"abyte", I2}}, "Adds an identification element"),
        method(DestroyTerminal, "DestroyTerminal", V, {}, "Closes the port and the register file"),
        method(EraseMessage, "EraseMessage", I2, {}, "Erases the terminal's message"),
        method(GetStatus, "GetStatus", I2, {}, "Reads the terminal's status"),
        method(InitTerminal, "InitTerminal", B, {{"portNum", I2}}, "Opens the register file and the port COM1..COM10 (0..9)"),
        method(KillIDElement, "KillIDElement", I2, {{"ibutton", S}, {"abyte", I2}}, "Deletes an identification element"),
        method(KillIDT, "KillIDT", I2, {}, "Deletes the whole identification table"),
        method(PCTimeCopy, "PCTimeCopy", I2, {}, "Sets the terminal's clock from the PC clock"),
        method(ReadEEPR, "ReadEEPR", I2, {{"address", I2}}, "Reads one EEPROM word into EepromLoc"),
        method(ReconstructData, "ReconstructData", I2, {}, "Asks the terminal to reconstruct its event data"),
        method(ResetCurrTx, "ResetCurrTx", I2, {}, "Resets the terminal's upload position"),
        method(RxDayType, "RxDayType", I2, {}, "Reads the next day-type record"),
        method(RxIDTElement, "RxIDTElement", I2, {}, "Reads the next identification element"),
        method(RxWeekType, "RxWeekType", I2, {}, "Reads the next week-type record"),
        method(SendMessage, "SendMessage", I2, {{"cmd", I2}}, "Sends TermMessage with the given command letter"),
        method(TakeData, "TakeData", I2, {}, "Asks the terminal to send its event data"),
        method(TakeIDTNum, "TakeIDTNum", I2, {}, "Reads the identification table's number into IDTNum"),
        method(TxDayType, "TxDayType", I2, {{"day", S}}, "Sends a day-type record"),
        method(TxWeekType, "TxWeekType", I2, {{"week", S}}, "Sends a week-type record"),
        method(WriteEEPR, "WriteEEPR", I2, {{"address", I2}, {"contents", I4}}, "Writes one EEPROM word"),
        indexed(ActionArr, "ActionArr", "ind", kRecordEntries, "Event sources of the last on-line block"),
        indexed(CardArr, "CardArr", "ind", kRecordEntries, "Card numbers of the last on-line block"),
        indexed(DateArr, "DateArr", "ind", kRecordEntries, "Dates of the last on-line block"),
        indexed(EepromLoc, "EepromLoc", "address", kEepromEntries, "EEPROM words by address, four hexadecimal digits"),
        indexed(TermNoArr, "TermNoArr", "ind", kRecordEntries, "Terminal numbers of the last on-line block"),
        indexed(TimeArr, "TimeArr", "ind", kRecordEntries, "Times of the last on-line block"),
        method(AboutBox, "AboutBox", V, {}, "Shows the About box"),
    };

    InterfaceInfo& e = lib.events;
    e.name = "_DRK40CommEvents";
    e.iid = kEventsIid;
    e.help = "Event interface for RK40Comm Control";
    e.events = {
        EventInfo{eventid::ErrMessage, "ErrMessage", {}},
        EventInfo{eventid::RxRegs, "RxRegs", {{"recNo", I2}}},
        EventInfo{eventid::Click, "Click", {}},
        EventInfo{eventid::DblClick, "DblClick", {}},
        EventInfo{eventid::Error, "Error",
                  {{"Number", I2}, {"Description", S}, {"Scode", I4}, {"Source", S}, {"HelpFile", S},
                   {"HelpContext", I4}, {"CancelDisplay", B}}},
    };

    lib.coclass.name = "RK40Comm";
    lib.coclass.clsid = kControlClsid;
    lib.coclass.help = "RK40Comm Control";
    return lib;
}

} // namespace

const TypeLibInfo& typeLibrary()
{
    static const TypeLibInfo lib = build();
    return lib;
}

} // namespace rk40
