#pragma once

// A register image held in memory, for the commands that need no terminal
// (show, diff) and for the remote requests, which reach the terminal
// through the gateway rather than through the control.

#include "RegisterImage.h"

#include <QString>

#include <array>

namespace termsetcli {

class MemoryImage final : public image::IRegisterImage {
public:
    // Every word starts empty; clear() makes the cleared configuration.
    MemoryImage() = default;

    QString word(int address) const override
    {
        return address >= 0 && address < kSize ? m_words[static_cast<std::size_t>(address)] : QString();
    }
    void setWord(int address, const QString& text) override
    {
        if (address >= 0 && address < kSize)
            m_words[static_cast<std::size_t>(address)] = text;
    }

    // Words 10..39 set to "0000".
    void clear()
    {
        for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
            setWord(a, QStringLiteral("0000"));
    }

    // Copies words 10..39 from another image.
    void copyFrom(const image::IRegisterImage& other)
    {
        for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
            setWord(a, other.word(a));
    }

private:
    static constexpr int kSize = 256;
    std::array<QString, kSize> m_words;
};

} // namespace termsetcli
