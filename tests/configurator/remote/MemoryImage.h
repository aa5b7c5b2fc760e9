#pragma once

#include "RegisterImage.h"

#include <QString>

#include <array>

// A register image in memory for the remote tests. It holds the 256 entries
// an image can be addressed by and counts every attempt to go past them.
class MemoryImage : public image::IRegisterImage {
public:
    QString word(int address) const override
    {
        if (address < 0 || address > 255) {
            ++outOfRange;
            return {};
        }
        return words[static_cast<std::size_t>(address)];
    }
    void setWord(int address, const QString& text) override
    {
        ++writes;
        if (address < 0 || address > 255) {
            ++outOfRange;
            return;
        }
        words[static_cast<std::size_t>(address)] = text;
    }
    bool operator==(const MemoryImage& other) const { return words == other.words; }

    std::array<QString, 256> words;
    int writes = 0;
    mutable int outOfRange = 0;
};
