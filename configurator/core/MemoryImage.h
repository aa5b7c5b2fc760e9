#pragma once

// A register image held in memory: termset-cli's commands that need no
// terminal (show, diff) and its remote requests, which reach the terminal
// through the gateway rather than through the control; tests, fuzzers and
// benchmarks.

#include "core/RegisterImage.h"

#include <QString>

#include <array>

namespace image {

class MemoryImage final : public IRegisterImage {
public:
    // Every word starts empty; clear() makes the cleared configuration.
    MemoryImage() = default;

    QString word(int address) const override
    {
        if (address >= 0 && address < kSize)
            return m_words[static_cast<std::size_t>(address)];
        ++m_outOfRange;
        return {};
    }
    void setWord(int address, const QString& text) override
    {
        ++m_stores;
        if (address >= 0 && address < kSize)
            m_words[static_cast<std::size_t>(address)] = text;
        else
            ++m_outOfRange;
    }
    // Words 10..39 set to text.
    void fill(const QString& text)
    {
        for (int a = kFirstWord; a <= kLastWord; ++a)
            setWord(a, text);
    }
    // setWord calls so far, and calls of either kind past the 256 entries.
    int stores() const { return m_stores; }
    int outOfRange() const { return m_outOfRange; }

    // Words 10..39 set to "0000".
    void clear() { fill(QStringLiteral("0000")); }

    bool operator==(const MemoryImage& other) const { return m_words == other.m_words; }

    // Copies words 10..39 from another image.
    void copyFrom(const image::IRegisterImage& other)
    {
        for (int a = kFirstWord; a <= kLastWord; ++a)
            setWord(a, other.word(a));
    }

private:
    static constexpr int kSize = 256;
    std::array<QString, kSize> m_words;
    int m_stores = 0;
    mutable int m_outOfRange = 0;
};

} // namespace image
