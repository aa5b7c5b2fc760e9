#pragma once

// The control's About box (dialog 1): the icon, the name and version of the
// control and one line about what it does, with an OK button.

#include <QDialog>

namespace rk40::face {

class CRK40CommAboutBox final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CRK40CommAboutBox)

public:
    static constexpr int kDialogId = 1;
    // Object names of the parts, for tests and language tools.
    static constexpr const char* kIconName = "icon";
    static constexpr const char* kTitleName = "title";
    static constexpr const char* kSecondLineName = "secondLine";
    static constexpr const char* kOkName = "IDOK";

    explicit CRK40CommAboutBox(QWidget* parent = nullptr);
    ~CRK40CommAboutBox() override;

};

} // namespace rk40::face
