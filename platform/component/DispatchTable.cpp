#include "platform/component/DispatchTable.h"

#include <algorithm>

namespace component {

void DispatchTable::onMethod(int dispid, MethodFn fn)
{
    m_handlers[dispid].method = std::move(fn);
}

void DispatchTable::onProperty(int dispid, GetFn get, PutFn put)
{
    auto& h = m_handlers[dispid];
    h.get = std::move(get);
    h.put = std::move(put);
}

void DispatchTable::onIndexed(int dispid, IndexedGetFn get, IndexedPutFn put)
{
    auto& h = m_handlers[dispid];
    h.indexedGet = std::move(get);
    h.indexedPut = std::move(put);
}

InvokeResult DispatchTable::invoke(int dispid, InvokeKind kind, QVariantList args) const
{
    const MemberInfo* m = m_iface.member(dispid);
    if (!m)
        return {DISP_E_MEMBERNOTFOUND, {}, QString("no member with DISPID %1").arg(dispid)};
    if (auto failure = coerceArguments(*m, kind, args))
        return *failure;

    const auto it = m_handlers.find(dispid);
    const Handlers* h = it == m_handlers.end() ? nullptr : &it->second;
    const InvokeResult notImplemented{E_NOTIMPL, {}, QString("%1 is not implemented").arg(m->name)};

    switch (m->kind) {
    case MemberKind::Method:
        if (!h || !h->method)
            return notImplemented;
        return {S_OK, h->method(args), {}};
    case MemberKind::Property:
        if (kind == InvokeKind::PropertyGet) {
            if (!h || !h->get)
                return notImplemented;
            return {S_OK, h->get(), {}};
        }
        if (!h || !h->put)
            return notImplemented;
        h->put(args.at(0));
        return {};
    case MemberKind::IndexedProperty: {
        const int index = args.at(0).toInt();
        if (index < 0 || index >= m->indexCount)
            return {DISP_E_BADINDEX, {},
                    QString("%1: index %2 is outside 0..%3").arg(m->name).arg(index).arg(m->indexCount - 1)};
        if (kind == InvokeKind::PropertyGet) {
            if (!h || !h->indexedGet)
                return notImplemented;
            return {S_OK, h->indexedGet(index), {}};
        }
        if (!h || !h->indexedPut)
            return notImplemented;
        h->indexedPut(index, args.at(1));
        return {};
    }
    }
    return notImplemented;
}

void EventSinks::advise(IEventSink* sink)
{
    if (sink && !isAdvised(sink))
        m_sinks.push_back(sink);
}

bool EventSinks::isAdvised(IEventSink* sink) const
{
    return std::find(m_sinks.begin(), m_sinks.end(), sink) != m_sinks.end();
}

void EventSinks::unadvise(IEventSink* sink)
{
    m_sinks.erase(std::remove(m_sinks.begin(), m_sinks.end(), sink), m_sinks.end());
}

void EventSinks::fire(int dispid, const QVariantList& args) const
{
    const EventInfo* e = m_events.event(dispid);
    const QString name = e ? e->name : QString::number(dispid);
    // A sink may unadvise itself or others while handling the event: work
    // on a copy, and skip a sink taken back meanwhile.
    const auto sinks = m_sinks;
    for (IEventSink* sink : sinks)
        if (isAdvised(sink))
            sink->onEvent(dispid, name, args);
}

void EventSinks::fireByRef(int dispid, QVariantList& args) const
{
    const EventInfo* e = m_events.event(dispid);
    const QString name = e ? e->name : QString::number(dispid);
    const auto sinks = m_sinks;
    for (IEventSink* sink : sinks)
        if (isAdvised(sink))
            sink->onEventByRef(dispid, name, args);
}

} // namespace component
