#pragma once

// Small helpers shared by the harnesses: an invariant check that stops the
// run with a message (libFuzzer then keeps the input as a crash), a reader
// over the input bytes, and marked register images.

#include "core/MemoryImage.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace fuzzsupport {

[[noreturn]] inline void fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", what, file, line);
    std::abort();
}

// Takes bytes off the front of the input.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(data ? size : 0) {}
    std::size_t left() const { return m_size - m_pos; }
    // The next byte, or `otherwise` when the input is used up.
    std::uint8_t byte(std::uint8_t otherwise = 0) { return m_pos < m_size ? m_data[m_pos++] : otherwise; }
    std::span<const std::uint8_t> rest()
    {
        const std::span<const std::uint8_t> r(m_data + m_pos, m_size - m_pos);
        m_pos = m_size;
        return r;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A text nothing else produces, one per register address: an image whose
// entries all start as these shows exactly which entries changed.
inline const QString& untouched(int address)
{
    static const std::array<QString, 256> markers = [] {
        std::array<QString, 256> m;
        for (int a = 0; a < 256; ++a)
            m[static_cast<std::size_t>(a)] = QStringLiteral("untouched-%1").arg(a);
        return m;
    }();
    return markers[static_cast<std::size_t>(address)];
}
inline void mark(image::MemoryImage& image)
{
    for (int a = 0; a < 256; ++a)
        image.setWord(a, untouched(a));
}
inline bool changed(const image::MemoryImage& image, int address)
{
    const QString w = image.word(address);
    return !w.isSharedWith(untouched(address)) && w != untouched(address);
}

// Four upper-case hexadecimal digits: a word as the image stores it.
inline bool isUpperHexWord(const QString& t)
{
    return t.size() == 4 && std::all_of(t.begin(), t.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
           });
}

} // namespace fuzzsupport

#define FUZZ_CHECK(cond)                                                                                              \
    do {                                                                                                              \
        if (!(cond))                                                                                                  \
            ::fuzzsupport::fail(#cond, __FILE__, __LINE__);                                                           \
    } while (0)
