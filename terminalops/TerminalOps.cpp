#include "terminalops/TerminalOps.h"

#include "platform/component/Dispatch.h"
#include "control/protocol/Results.h"

namespace terminalops {

namespace {

using component::InvokeKind;
namespace result = rk40::result;

// Listing stops here whatever the terminal says: no table is this long.
constexpr int kMaxKeys = 65536;

QVariant i2(int value) { return QVariant::fromValue<qint16>(static_cast<qint16>(value)); }

// A port that stops answering ends a run of calls: the rest would each wait
// for their answer in vain.
bool portLost(const OpResult& r)
{
    return r.code == result::kNotReady || r.code == result::kPortClosed || r.code == kCallFailed;
}

} // namespace

QString describeResult(const QString& member, int code)
{
    using F = result::Family;
    F family = F::Opening;
    if (member == QLatin1String("AddIDElement") || member == QLatin1String("KillIDElement"))
        family = F::IdElement;
    else if (member == QLatin1String("GetStatus"))
        family = F::Status;
    else if (member == QLatin1String("PCTimeCopy"))
        family = F::ClockCopy;
    else if (code != result::kNotReady && code != result::kPortClosed) {
        if (member == QLatin1String("RxIDTElement"))
            family = F::RecordUpload;
        else if (member == QLatin1String("TakeIDTNum"))
            family = F::TextLine;
    }
    return QString::fromStdString(result::describeResult(family, code));
}

QString OpResult::text() const
{
    return QStringLiteral("%1: %2 (result code %3)").arg(member, words).arg(code);
}

TerminalOps::TerminalOps(component::IDispatchControl& control) : m_control(control) {}

OpResult TerminalOps::method(int dispid, const char* member, const QVariantList& args)
{
    OpResult out;
    out.member = QLatin1String(member);
    const component::InvokeResult r = m_control.invoke(dispid, InvokeKind::Method, args);
    if (!r.ok()) {
        out.code = kCallFailed;
        out.words = r.error.isEmpty() ? component::describeResult(r.hr) : r.error;
        return out;
    }
    out.code = r.value.toInt();
    out.words = describeResult(out.member, out.code);
    return out;
}

QString TerminalOps::property(int dispid) const
{
    return m_control.invoke(dispid, InvokeKind::PropertyGet).value.toString();
}

OpResult TerminalOps::open(const PortSpec& port)
{
    OpResult out;
    out.member = QStringLiteral("InitTerminal");
    m_control.invoke(dispid::kBaudRate, InvokeKind::PropertyPut, {port.baud});
    if (!m_control.setDevicePath(port.devicePath) && !port.devicePath.isEmpty()) {
        out.code = kCallFailed;
        out.words = QStringLiteral("the control cannot open a device by path");
        return out;
    }
    const component::InvokeResult r = m_control.invoke(dispid::kInitTerminal, InvokeKind::Method, {i2(port.portIndex)});
    if (r.ok() && r.value.toBool())
        return out;
    out.code = result::kNotReady;
    out.words = r.ok() ? m_control.failureReason() : r.error;
    if (out.words.isEmpty())
        out.words = QStringLiteral("the port cannot be opened");
    return out;
}

void TerminalOps::close() { m_control.invoke(dispid::kDestroyTerminal, InvokeKind::Method); }

KeyListing TerminalOps::listKeys()
{
    KeyListing out;
    const QVariant prevRx = m_control.invoke(dispid::kIdtPrevRx, InvokeKind::PropertyGet).value;
    m_control.invoke(dispid::kIdtPrevRx, InvokeKind::PropertyPut, {i2(-1)});
    out.result = method(dispid::kResetCurrTx, "ResetCurrTx");
    for (int n = 0; out.result.ok() && n < kMaxKeys; ++n) {
        out.result = method(dispid::kRxIdtElement, "RxIDTElement");
        if (out.result.code == result::kRecordNothingToSend) {
            out.result = method(dispid::kTakeIdtNum, "TakeIDTNum");
            if (out.result.ok())
                out.tableNumber = property(dispid::kIdtNum);
            break;
        }
        if (out.result.ok())
            out.keys.push_back({property(dispid::kIdtElement).toUpper(), property(dispid::kCurrWeektype).toInt(), {}});
    }
    if (prevRx.isValid())
        m_control.invoke(dispid::kIdtPrevRx, InvokeKind::PropertyPut, {i2(prevRx.toInt())});
    out.keys = sortedKeys(std::move(out.keys));
    return out;
}

OpResult TerminalOps::addKey(const QString& id, int access)
{
    OpResult r = method(dispid::kAddIdElement, "AddIDElement", {id, i2(access)});
    if (r.ok() && m_observer)
        m_observer(true, id, access);
    return r;
}

OpResult TerminalOps::removeKey(const QString& id, int access)
{
    OpResult r = method(dispid::kKillIdElement, "KillIDElement", {id, i2(qMax(access, 0))});
    if (r.ok() && m_observer)
        m_observer(false, id, access);
    return r;
}

OpResult TerminalOps::clearKeys() { return method(dispid::kKillIdt, "KillIDT"); }

SyncOutcome TerminalOps::syncKeys(const KeyList& wanted)
{
    SyncOutcome out;
    const KeyListing before = listKeys();
    if (!before.result.ok()) {
        out.failure = before.result;
        return out;
    }
    out.changes = diffKeys(before.keys, wanted);
    auto send = [&](const KeyChange& c, bool add) {
        const OpResult r = add ? addKey(c.id, c.newAccess) : removeKey(c.id, c.oldAccess);
        if (!r.ok())
            out.refused.push_back({c, r});
        if (portLost(r))
            out.failure = r;
        return !portLost(r);
    };
    bool going = true;
    for (const KeyChange& c : out.changes)
        if (going && c.kind != KeyChange::Add)
            going = send(c, false);
    for (const KeyChange& c : out.changes)
        if (going && c.kind != KeyChange::Remove)
            going = send(c, true);
    if (!going)
        return out;
    const KeyListing after = listKeys();
    if (!after.result.ok())
        out.failure = after.result;
    out.after = after.keys;
    out.equal = after.result.ok() && diffKeys(after.keys, wanted).empty();
    return out;
}

StatusReading TerminalOps::readStatus()
{
    StatusReading out;
    out.result = method(dispid::kGetStatus, "GetStatus");
    if (!out.result.ok())
        return out;
    out.firmware = property(dispid::kFirmware);
    out.rtc = property(dispid::kRtc);
    out.dayOfWeek = property(dispid::kDayOfWeek);
    out.inBuffer = property(dispid::kInBuffer);
    return out;
}

OpResult TerminalOps::setClock() { return method(dispid::kPcTimeCopy, "PCTimeCopy"); }

} // namespace terminalops
