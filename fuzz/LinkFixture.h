#pragma once

// One TerminalLink for the whole run, open on the in-memory line.

#include "MemoryLine.h"
#include "control/link/TerminalLink.h"

#include <algorithm>

namespace fuzzsupport {

inline rk40::TerminalLink& link()
{
    static rk40::TerminalLink* l = [] {
        auto* made = new rk40::TerminalLink;
        made->open(QStringLiteral("memory"), 9600);
        return made;
    }();
    return *l;
}

// The frame buffer cleared, so that what an exchange leaves there is its own.
inline void clearFrame()
{
    auto frame = link().frame();
    std::fill(frame.begin(), frame.end(), std::uint8_t{0xEE});
}

} // namespace fuzzsupport
