#pragma once

// A stand-in for the communication control in page tests: it serves the
// EepromLoc table (DISPID 41, 256 entries), WorkOnLine (15) and
// DestroyTerminal (19), and records every put so tests can see exactly
// which words a page wrote.

#include "StubControl.h"

#include <QString>
#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace testpages {

struct FakeState {
    std::array<QString, 256> eeprom;
    bool workOnLine = true;
    std::vector<std::pair<int, QString>> puts;  // every EepromLoc put, in order
    bool refuseEeprom = false;   // EepromLoc gets and puts fail
};

class FakeControl : public testsupport::StubControl {
public:
    explicit FakeControl(std::shared_ptr<FakeState> state = std::make_shared<FakeState>()) : m_state(std::move(state)) {}

    component::InvokeResult invoke(int dispid, component::InvokeKind kind, const QVariantList& args) override
    {
        using component::InvokeKind;
        if (dispid == 41) {
            if (m_state->refuseEeprom)
                return {component::E_FAIL, {}, QStringLiteral("refused by the fake")};
            if (args.isEmpty())
                return {component::DISP_E_BADPARAMCOUNT, {}, QStringLiteral("index missing")};
            const int index = args[0].toInt();
            if (index < 0 || index > 255)
                return {component::DISP_E_BADINDEX, {}, QStringLiteral("index out of range")};
            if (kind == InvokeKind::PropertyGet)
                return {component::S_OK, m_state->eeprom[static_cast<std::size_t>(index)], {}};
            if (kind == InvokeKind::PropertyPut && args.size() == 2) {
                m_state->eeprom[static_cast<std::size_t>(index)] = args[1].toString();
                m_state->puts.emplace_back(index, args[1].toString());
                return {};
            }
        }
        if (dispid == 15 && kind == InvokeKind::PropertyPut && args.size() == 1) {
            m_state->workOnLine = args[0].toBool();
            return {};
        }
        if (dispid == 15 && kind == InvokeKind::PropertyGet)
            return {component::S_OK, m_state->workOnLine, {}};
        if (dispid == 19 && kind == InvokeKind::Method)
            return {};
        return {component::DISP_E_MEMBERNOTFOUND, {}, QStringLiteral("not served by the fake")};
    }

private:
    std::shared_ptr<FakeState> m_state;
};

} // namespace testpages
