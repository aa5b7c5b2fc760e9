#pragma once

// Field codes of the register image and the conversions every page shares.
//
// Each relay action, relay condition and LED light is a 2-bit code 0..3 that
// the pages show as one of four texts of the string table. The texts are
// looked up afresh at every use, so a language library that replaces the
// table changes what is shown and what is recognised alike.
//
// Word layouts (bit 0 least significant):
//   row word (10..37): bits 0-1, 2-3, 4-5, 6-7 actions of relays 1..4,
//     bit 8 registration, bits 9-10 relay 1 condition, bits 12-13 relay 2
//     condition; bits 11, 14 and 15 belong to no field.
//   LED word (38): two bits per light, from bit 0 up: LED 4 red, LED 4
//     green, LED 3 red, LED 3 green, ..., LED 1 green in bits 14-15.
//   random word (39): bits 0..3 touch contacts TK1..TK4, bits 8-15 the
//     frequency.

#include "core/RegisterImage.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

namespace fields {

// String identifiers of the field texts, in code order 0..3.
constexpr std::array<int, 4> kActionStrings{114, 115, 116, 117};
constexpr std::array<int, 4> kRelay1ConditionStrings{118, 122, 123, 124};
constexpr std::array<int, 4> kRelay2ConditionStrings{118, 119, 120, 121};
constexpr std::array<int, 4> kLedStrings{136, 133, 135, 134};

// Field selectors of GetRegisterField.
enum Selector : int {
    kRelay1Action = 0,
    kRelay2Action = 1,
    kRelay3Action = 2,
    kRelay4Action = 3,
    kRegistration = 4,
    kRelay1Condition = 5,
    kRelay2Condition = 6,
    kLed1Green = 7,
    kLed1Red = 8,
    kLed2Green = 9,
    kLed2Red = 10,
    kLed3Green = 11,
    kLed3Red = 12,
    kLed4Green = 13,
    kLed4Red = 14,
    kFrequency = 15,
    kTouchContact1 = 16,
    kTouchContact2 = 17,
    kTouchContact3 = 18,
    kTouchContact4 = 19,
};

// The registration flag is shown as one of these fixed (untranslated) texts.
inline const QString kTrue = QStringLiteral("TRUE");
inline const QString kFalse = QStringLiteral("FALSE");

// The four texts of each kind, freshly loaded, in code order.
QStringList actionTexts();
// relay 1 or 2; any other relay gets the relay 2 list.
QStringList conditionTexts(int relay);
QStringList ledTexts();


// The text of one field of a word: an action, condition or LED text for the
// selectors that name such a field, "TRUE"/"FALSE" for the registration
// flag, and a decimal number for the frequency, the touch contacts and for
// any selector outside 0..19 (the whole word).
QString DecodeField(std::uint16_t word, int selector);

// Reads the word at `address` from the image and decodes one field.
QString GetRegisterField(const image::IRegisterImage& image, int address, int selector);

// The code 0..3 of any field text (action, either relay's condition, LED
// pattern), compared exactly against the texts now in effect; 0 for any
// other text.
int FieldTextToCode(const QString& text);

struct RowFields {
    std::array<int, 4> actions{};  // relays 1..4
    bool registration = false;
    std::array<int, 2> conditions{};  // relays 1 and 2
};
struct LedFields {
    std::array<int, 4> red{};    // LEDs 1..4
    std::array<int, 4> green{};  // LEDs 1..4
};
struct RandomFields {
    std::array<bool, 4> touchContacts{};  // TK1..TK4
    int frequency = 0;                    // only the low 8 bits are kept
};

// Codes are taken modulo 4 so that a stray value cannot spill into the
// neighbouring field.
std::uint16_t EncodeRow(const RowFields& row);
std::uint16_t EncodeLed(const LedFields& led);
std::uint16_t EncodeRandom(const RandomFields& random);

} // namespace fields
