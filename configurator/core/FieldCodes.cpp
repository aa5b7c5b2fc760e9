#include "core/FieldCodes.h"

#include "platform/resources/Resources.h"

namespace fields {

namespace {

QStringList load(const std::array<int, 4>& ids)
{
    QStringList out;
    out.reserve(4);
    for (int id : ids)
        out << resources::loadString(id);
    return out;
}

struct BitField {
    int shift;
    int width;
};

// Bits each selector takes; selectors outside the table take the whole word.
constexpr std::array<BitField, 20> kSelectorBits{{
    {0, 2}, {2, 2}, {4, 2}, {6, 2},   // relay actions 1..4
    {8, 1},                           // registration
    {9, 2}, {12, 2},                  // conditions of relays 1 and 2
    {14, 2}, {12, 2}, {10, 2}, {8, 2}, {6, 2}, {4, 2}, {2, 2}, {0, 2},  // LED lights
    {8, 8},                           // frequency
    {0, 1}, {1, 1}, {2, 1}, {3, 1},   // touch contacts
}};

} // namespace

QStringList actionTexts() { return load(kActionStrings); }
QStringList conditionTexts(int relay) { return load(relay == 1 ? kRelay1ConditionStrings : kRelay2ConditionStrings); }
QStringList ledTexts() { return load(kLedStrings); }

QString DecodeField(std::uint16_t word, int selector)
{
    if (selector < 0 || selector >= static_cast<int>(kSelectorBits.size()))
        return QString::number(word);
    const BitField f = kSelectorBits[static_cast<std::size_t>(selector)];
    const int value = (word >> f.shift) & ((1 << f.width) - 1);
    const auto code = static_cast<qsizetype>(value);
    if (selector <= kRelay4Action)
        return actionTexts().value(code);
    if (selector == kRegistration)
        return value ? kTrue : kFalse;
    if (selector == kRelay1Condition)
        return conditionTexts(1).value(code);
    if (selector == kRelay2Condition)
        return conditionTexts(2).value(code);
    if (selector <= kLed4Red)
        return ledTexts().value(code);
    return QString::number(value);
}

QString GetRegisterField(const image::IRegisterImage& image, int address, int selector)
{
    return DecodeField(image::scanWord(image.word(address)).value_or(0), selector);
}

int FieldTextToCode(const QString& text)
{
    for (const QStringList& list : {actionTexts(), conditionTexts(1), conditionTexts(2), ledTexts()}) {
        const qsizetype i = list.indexOf(text);
        if (i >= 0)
            return static_cast<int>(i);
    }
    return 0;
}

std::uint16_t EncodeRow(const RowFields& row)
{
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k)
        v |= (static_cast<unsigned>(row.actions[k]) & 3u) << (2 * k);
    v |= (row.registration ? 1u : 0u) << 8;
    v |= (static_cast<unsigned>(row.conditions[0]) & 3u) << 9;
    v |= (static_cast<unsigned>(row.conditions[1]) & 3u) << 12;
    return static_cast<std::uint16_t>(v);
}

std::uint16_t EncodeLed(const LedFields& led)
{
    unsigned v = 0;
    for (std::size_t n = 0; n < 4; ++n) {
        // LED 1 sits in the top four bits, LED 4 in the bottom four; red
        // below green.
        const unsigned shift = static_cast<unsigned>(12 - 4 * n);
        v |= (static_cast<unsigned>(led.red[n]) & 3u) << shift;
        v |= (static_cast<unsigned>(led.green[n]) & 3u) << (shift + 2);
    }
    return static_cast<std::uint16_t>(v);
}

std::uint16_t EncodeRandom(const RandomFields& random)
{
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k)
        v |= (random.touchContacts[k] ? 1u : 0u) << k;
    v |= (static_cast<unsigned>(random.frequency) & 0xFFu) << 8;
    return static_cast<std::uint16_t>(v);
}

} // namespace fields
