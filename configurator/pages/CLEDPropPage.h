#pragma once

// The LED page: the blink pattern of the red and the green light of each of
// the four LEDs, all in the LED word. The fields change by menu only.

#include "pages/ConfigPage.h"

#include <array>

class CLEDEdit;

class CLEDPropPage : public CConfigPage {
    Q_OBJECT
public:
    static constexpr int kDialogId = 212;
    explicit CLEDPropPage(CRK40TKPropPage& reader1, QWidget* parent = nullptr);

    void LoadFields() override;
    // Writes the LED word from the eight fields.
    void StoreLed();

private:
    std::array<CLEDEdit*, 4> m_red{};    // LEDs 1..4
    std::array<CLEDEdit*, 4> m_green{};  // LEDs 1..4
};
