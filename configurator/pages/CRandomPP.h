#pragma once

// The Random page: the random output on relay 4, a frequency 0..255 and the
// touch contacts TK1..TK4 that take part, all in the random word.
//
// The frequency is checked at every keystroke: while the box holds no whole
// number from 0 to 255 the user is told so at once, the word keeps its last
// valid value, and the page cannot be left.

#include "pages/ConfigPage.h"

#include <array>

class QCheckBox;
class QLineEdit;

class CRandomPP : public CConfigPage {
    Q_OBJECT
public:
    static constexpr int kDialogId = 141;
    static constexpr int kFrequencyId = 1219;
    static constexpr int kFirstTouchContactId = 1221;  // 1221..1224: TK1..TK4

    explicit CRandomPP(CRK40TKPropPage& reader1, QWidget* parent = nullptr);

    void LoadFields() override;
    // Refused (after telling the user) while the frequency is invalid.
    bool OnKillActive() override;
    // Writes the random word from the page; does nothing more than tell the
    // user when the frequency is invalid.
    void StoreRandom();

    enum class FrequencyCheck { Valid, NotAnInteger, OutOfRange };
    // Checks a frequency text; `value` gets the number when it is valid.
    static FrequencyCheck checkFrequency(const QString& text, int* value);

private:
    // Reads the frequency box; tells the user and returns false when it does
    // not hold a valid frequency.
    bool pullFrequency(int* value);

    QLineEdit* m_frequency = nullptr;
    std::array<QCheckBox*, 4> m_touch{};
};
