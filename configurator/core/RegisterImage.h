#pragma once

#include <QString>

#include <array>
#include <optional>

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
    // The same, or nothing when the image could not give the word (a
    // control that refused the call); tells no one. whyNot() says why.
    virtual std::optional<QString> readWord(int address) const { return word(address); }
    virtual QString whyNot() const { return {}; }
};

// The value of a word text: optional ASCII blanks, then at most the first
// four hexadecimal digits of either case. Nothing when the text does not
// begin with a digit (an entry nothing has set is empty); every reader of
// the image (files, pages, the serial and the remote write) takes such a
// word as 0.
std::optional<quint16> scanWord(const QString& text);
// The value of one hexadecimal digit of either case, or -1.
int hexDigit(char16_t c);
// A blank of the word texts and .act lines: space, tab, line feed, vertical
// tab, form feed or carriage return.
bool isBlank(char16_t c);
// Four upper-case hexadecimal digits, as the image keeps a word.
QString formatWord(quint16 value);

// The words 10..39 as the image holds them, index 0 being word 10; nothing
// when a word could not be read, with *failedAddress naming it. A transfer
// takes them all before it sends anything.
using Words = std::array<QString, kWordCount>;
inline std::optional<Words> readAllWords(const IRegisterImage& image, int* failedAddress = nullptr)
{
    Words words;
    for (int a = kFirstWord; a <= kLastWord; ++a) {
        std::optional<QString> w = image.readWord(a);
        if (!w) {
            if (failedAddress)
                *failedAddress = a;
            return std::nullopt;
        }
        words[static_cast<std::size_t>(a - kFirstWord)] = std::move(*w);
    }
    return words;
}

} // namespace image
