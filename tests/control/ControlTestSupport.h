#pragma once

// Helpers shared by the control's tests: a sink that records events, short
// dispatch calls, and record and block builders.

#include "platform/component/Dispatch.h"
#include "control/protocol/Protocol.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>
#include <functional>
#include <vector>

namespace testsupport {

struct FiredEvent {
    int dispid;
    QString name;
    QVariantList args;
};

class RecordingSink : public component::IEventSink {
public:
    void onEvent(int dispid, const QString& name, const QVariantList& args) override
    {
        events.push_back({dispid, name, args});
        if (onFired)
            onFired(dispid);
    }
    int count(int dispid) const
    {
        int n = 0;
        for (const auto& e : events)
            n += e.dispid == dispid;
        return n;
    }
    std::vector<FiredEvent> events;
    std::function<void(int)> onFired;
};

// A recording sink advised to a control for the sink's lifetime: it is taken
// back even when a failed check leaves the test early.
template <typename Control>
class AdvisedSink : public RecordingSink {
public:
    explicit AdvisedSink(Control& control) : m_control(control) { m_control.advise(this); }
    ~AdvisedSink() { m_control.unadvise(this); }
    AdvisedSink(const AdvisedSink&) = delete;
    AdvisedSink& operator=(const AdvisedSink&) = delete;

private:
    Control& m_control;
};

inline QVariant get(component::IDispatchControl& c, int dispid)
{
    return c.invoke(dispid, component::InvokeKind::PropertyGet).value;
}
inline QVariant getAt(component::IDispatchControl& c, int dispid, int index)
{
    return c.invoke(dispid, component::InvokeKind::PropertyGet, {QVariant::fromValue<qint16>(qint16(index))}).value;
}
inline component::HRESULT put(component::IDispatchControl& c, int dispid, const QVariant& v)
{
    return c.invoke(dispid, component::InvokeKind::PropertyPut, {v}).hr;
}
inline component::HRESULT putAt(component::IDispatchControl& c, int dispid, int index, const QVariant& v)
{
    return c.invoke(dispid, component::InvokeKind::PropertyPut, {QVariant::fromValue<qint16>(qint16(index)), v}).hr;
}
inline QVariant call(component::IDispatchControl& c, int dispid, const QVariantList& args = {})
{
    return c.invoke(dispid, component::InvokeKind::Method, args).value;
}
inline QVariant i2(int v) { return QVariant::fromValue<qint16>(qint16(v)); }

inline QByteArray withChecksum(const QByteArray& data)
{
    return data + char(rk40::protocol::checksum(std::string_view(data.constData(), size_t(data.size()))));
}

// An event record whose card number is `i`.
inline std::string eventRecord(int i)
{
    return QString("050130930C%1%2").arg(i, 8, 10, QChar('0')).arg(i % 10).toStdString();
}

// An on-line block as the terminal sends it: SOH, header, STX, the records
// each ended by CR, ETX and the checksum over the data bytes.
inline QByteArray onlineBlock(const QList<QByteArray>& records, char header = 'S', bool goodChecksum = true)
{
    QByteArray data;
    std::uint8_t x = 0;
    for (const QByteArray& r : records) {
        data += r + '\r';
        for (char c : r)
            x ^= std::uint8_t(c);
    }
    char sum = char(rk40::protocol::finishChecksum(x));
    if (!goodChecksum)
        sum = char(sum ^ 0x01);
    return QByteArray("\x01") + header + '\x02' + data + '\x03' + sum;
}

} // namespace testsupport
