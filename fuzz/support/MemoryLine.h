#pragma once

// The far end of the serial line for the fuzz harnesses: the bytes the
// "terminal" sends come from the harness's input, and what the PC writes is
// recorded. It backs a stand-in implementation of serial::SerialDevice
// (MemorySerialDevice.cpp), so TerminalLink runs unchanged on top of it.
//
// A read attempt past the end of the input finds nothing, which the link
// treats as silence; so does a 0x00 byte, as on the real line. The pauses the
// link makes between empty attempts are skipped (NoSleep.cpp), so silence
// costs no time.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fuzzline {

// Replaces the bytes the next reads return and clears what was written.
void feed(std::span<const std::uint8_t> bytes);
// Everything the PC wrote since the last feed().
const std::vector<std::uint8_t>& written();
// Bytes of the input not read yet.
std::size_t remaining();
// Read attempts made since the last feed() (successful or not).
std::size_t attempts();

} // namespace fuzzline
