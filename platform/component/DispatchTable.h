#pragma once

// Routes dispatch calls to a control's handlers after checking them against
// the interface description. A member that is declared but has no handler
// answers E_NOTIMPL, so nothing pretends to succeed.

#include "platform/component/Dispatch.h"
#include "platform/component/TypeInfo.h"

#include <functional>
#include <map>
#include <vector>

namespace component {

class DispatchTable {
public:
    using MethodFn = std::function<QVariant(const QVariantList& args)>;
    using GetFn = std::function<QVariant()>;
    using PutFn = std::function<void(const QVariant& value)>;
    using IndexedGetFn = std::function<QVariant(int index)>;
    using IndexedPutFn = std::function<void(int index, const QVariant& value)>;

    explicit DispatchTable(const InterfaceInfo& iface) : m_iface(iface) {}

    void onMethod(int dispid, MethodFn fn);
    void onProperty(int dispid, GetFn get, PutFn put);
    void onIndexed(int dispid, IndexedGetFn get, IndexedPutFn put);

    InvokeResult invoke(int dispid, InvokeKind kind, QVariantList args) const;

private:
    struct Handlers {
        MethodFn method;
        GetFn get;
        PutFn put;
        IndexedGetFn indexedGet;
        IndexedPutFn indexedPut;
    };
    const InterfaceInfo& m_iface;
    std::map<int, Handlers> m_handlers;
};

// The sinks advised to one control; fires events by DISPID.
class EventSinks {
public:
    explicit EventSinks(const InterfaceInfo& events) : m_events(events) {}
    void advise(IEventSink* sink);
    void unadvise(IEventSink* sink);
    void fire(int dispid, const QVariantList& args = {}) const;
    // Fires an event with by-reference arguments to every sink in turn;
    // `args` holds what the sinks left in them.
    void fireByRef(int dispid, QVariantList& args) const;

private:
    bool isAdvised(IEventSink* sink) const;

    const InterfaceInfo& m_events;
    std::vector<IEventSink*> m_sinks;
};

} // namespace component
