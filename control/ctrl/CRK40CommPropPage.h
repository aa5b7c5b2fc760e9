#pragma once

// The control's property page: one "General" page with a placeholder text.
// It has no state and edits no property.

#include "platform/component/Dispatch.h"

namespace rk40 {

class CRK40CommPropPage final : public component::IComponent {
public:
    static constexpr int kDialogId = 100;

    CRK40CommPropPage();
    ~CRK40CommPropPage() override;
    CRK40CommPropPage(const CRK40CommPropPage&) = delete;
    CRK40CommPropPage& operator=(const CRK40CommPropPage&) = delete;

    // The page's widget: caption "General", objectName "100".
    QWidget* createPageWidget(QWidget* parent) override;

    static int liveObjects();
};

} // namespace rk40
