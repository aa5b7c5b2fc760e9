#pragma once

// The component layer: what a container and a control module agree on.
// A control exposes a dispatch interface (members called by DISPID with
// type-checked arguments), fires events to sinks, persists its properties
// through a property bag and may offer a widget (its face) for hosting.

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <cstdint>
#include <vector>

class QWidget;

namespace component {

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200u);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);

inline bool succeeded(HRESULT hr) { return hr >= 0; }

// Words for a result of this layer, for messages to a person.
QString describeResult(HRESULT hr);

// The automation types the interfaces use. Values travel in QVariant as
// qint16 (I2), qint32 (I4), bool (Bool) and QString (BStr).
enum class VarType { Empty, I2, I4, Bool, BStr };
QString typeName(VarType t);

enum class InvokeKind { Method, PropertyGet, PropertyPut };

struct InvokeResult {
    HRESULT hr = S_OK;
    QVariant value;  // the result of a method or a property get
    QString error;   // why the call failed, for a person
    bool ok() const { return succeeded(hr); }
};

class IEventSink {
public:
    virtual ~IEventSink() = default;
    virtual void onEvent(int dispid, const QString& name, const QVariantList& args) = 0;
    // An event with arguments passed by reference (the stock Error's
    // CancelDisplay): the sink may change `args`; the next sink and the
    // control see the change. A sink that does not override it gets the
    // event through onEvent.
    virtual void onEventByRef(int dispid, const QString& name, QVariantList& args) { onEvent(dispid, name, args); }
};

class PropertyBag;
struct TypeLibInfo;

class IDispatchControl;

// Every object a class factory makes derives from this. The accessors stand
// in for interface queries, so no cast has to cross the module boundary.
class IComponent {
public:
    virtual ~IComponent() = default;
    virtual IDispatchControl* asDispatchControl() { return nullptr; }
    // A property page object: its widget, parented to the container's.
    virtual QWidget* createPageWidget(QWidget* /*parent*/) { return nullptr; }
};

class IDispatchControl : public IComponent {
public:
    IDispatchControl* asDispatchControl() override { return this; }

    virtual const TypeLibInfo& typeLibrary() const = 0;

    // Calls a member. Arguments are checked against the member's declared
    // types before the control sees them; a wrong type or count is refused
    // with DISP_E_TYPEMISMATCH / DISP_E_BADPARAMCOUNT, an unknown DISPID with
    // DISP_E_MEMBERNOTFOUND, an index outside the table with DISP_E_BADINDEX.
    virtual InvokeResult invoke(int dispid, InvokeKind kind, const QVariantList& args = {}) = 0;

    virtual void advise(IEventSink* sink) = 0;
    virtual void unadvise(IEventSink* sink) = 0;

    // Persistence: initNew resets every persistent property to its default.
    virtual void initNew() = 0;
    virtual HRESULT load(const PropertyBag& bag) = 0;
    virtual HRESULT save(PropertyBag& bag) const = 0;
    virtual bool isDirty() const = 0;

    // The control's face, parented to the container's widget; the control
    // keeps painting it for as long as it lives. May return nullptr.
    virtual QWidget* createFace(QWidget* parent) = 0;

    // Why the control's device failed, in words (a C++ accessor beside the
    // dispatch interface, which it leaves unchanged); empty when it did not.
    virtual QString failureReason() const { return {}; }

    // The device the next connection opens instead of the one its port
    // number maps to, so that a container can reach a device by path without
    // changing the process's port mapping (empty: the mapping again). Shall
    // return false when the control has no such choice.
    virtual bool setDevicePath(const QString& /*path*/) { return false; }
};

class IClassFactory {
public:
    virtual ~IClassFactory() = default;
    // Makes a new object; the caller owns it.
    virtual HRESULT createInstance(IComponent** out) = 0;
    virtual HRESULT lockServer(bool lock) = 0;
};

} // namespace component

// The entry points every component module exports.
extern "C" {
using DllRegisterServerFn = component::HRESULT (*)();
using DllUnregisterServerFn = component::HRESULT (*)();
using DllGetClassObjectFn = component::HRESULT (*)(const char* clsid, component::IClassFactory** out);
using DllCanUnloadNowFn = component::HRESULT (*)();
}
