#pragma once

#include <QString>

// The register image: the thirty configuration words at EEPROM addresses
// 10..39, each kept as text (normally four upper-case hexadecimal digits).
// The image lives in the communication control (its EepromLoc property);
// files, transfers and pages reach it through this interface so that they
// can be tested without a control.
namespace image {

constexpr int kFirstWord = 10;
constexpr int kLastWord = 39;
constexpr int kWordCount = kLastWord - kFirstWord + 1;
constexpr int kLastRowWord = 37;
constexpr int kLedWord = 38;
constexpr int kRandomWord = 39;

class IRegisterImage {
public:
    virtual ~IRegisterImage() = default;
    // The text held for an address (0..255); empty when nothing was stored.
    virtual QString word(int address) const = 0;
    virtual void setWord(int address, const QString& text) = 0;
};

} // namespace image
