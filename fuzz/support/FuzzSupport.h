#pragma once

// Small helpers shared by the harnesses: an invariant check that stops the
// run with a message (libFuzzer then keeps the input as a crash), a reader
// over the input bytes, and a register image held in memory.

#include "core/RegisterImage.h"

#include <QString>

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

// A register image of 256 entries, each preset to a text nothing else
// produces, so that a harness can see exactly which entries changed.
class MemoryImage final : public image::IRegisterImage {
public:
    // The marker texts are made once; copies share them.
    static const QString& untouched(int address)
    {
        static const std::array<QString, 256> markers = [] {
            std::array<QString, 256> m;
            for (int a = 0; a < 256; ++a)
                m[static_cast<std::size_t>(a)] = QStringLiteral("untouched-%1").arg(a);
            return m;
        }();
        return markers[static_cast<std::size_t>(address)];
    }
    MemoryImage()
    {
        for (int a = 0; a < 256; ++a)
            m_words[static_cast<std::size_t>(a)] = untouched(a);
    }
    QString word(int address) const override
    {
        if (address < 0 || address > 255)
            fail("word() with an address outside 0..255", __FILE__, __LINE__);
        return m_words[static_cast<std::size_t>(address)];
    }
    void setWord(int address, const QString& text) override
    {
        if (address < 0 || address > 255)
            fail("setWord() with an address outside 0..255", __FILE__, __LINE__);
        m_words[static_cast<std::size_t>(address)] = text;
    }
    bool changed(int address) const
    {
        const QString& w = m_words[static_cast<std::size_t>(address)];
        return !w.isSharedWith(untouched(address)) && w != untouched(address);
    }

private:
    std::array<QString, 256> m_words;
};

} // namespace fuzzsupport

#define FUZZ_CHECK(cond)                                                                                              \
    do {                                                                                                              \
        if (!(cond))                                                                                                  \
            ::fuzzsupport::fail(#cond, __FILE__, __LINE__);                                                           \
    } while (0)
