#pragma once

// The members of the control's dispatch interface a stand-in does not need:
// no events, no persistence, no face. Stand-ins derive from it and answer
// invoke() alone.

#include "platform/component/Dispatch.h"
#include "platform/component/TypeInfo.h"

namespace testsupport {

class StubControl : public component::IDispatchControl {
public:
    const component::TypeLibInfo& typeLibrary() const override
    {
        static const component::TypeLibInfo lib;
        return lib;
    }
    void advise(component::IEventSink*) override {}
    void unadvise(component::IEventSink*) override {}
    void initNew() override {}
    component::HRESULT load(const component::PropertyBag&) override { return component::S_OK; }
    component::HRESULT save(component::PropertyBag&) const override { return component::S_OK; }
    bool isDirty() const override { return false; }
    QWidget* createFace(QWidget*) override { return nullptr; }
};

} // namespace testsupport
