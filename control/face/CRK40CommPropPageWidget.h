#pragma once

// The widget of the control's property page (dialog 100): caption "General"
// and one placeholder text. The control has no property a user sets here,
// so the page has no fields and no state.

#include <QWidget>

namespace rk40::face {

class CRK40CommPropPageWidget final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CRK40CommPropPageWidget)

public:
    static constexpr int kDialogId = 100;
    static constexpr const char* kPlaceholderName = "placeholder";

    explicit CRK40CommPropPageWidget(QWidget* parent = nullptr);
    ~CRK40CommPropPageWidget() override;
};

} // namespace rk40::face
