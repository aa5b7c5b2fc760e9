// The answer to a register read: the link reads six bytes after the request,
// the decoder checks the checksum and hands out the four characters that
// ReadEEPR stores as the word's text.
//
// Input: the address asked for, then the bytes the terminal sends.

#include "FuzzSupport.h"
#include "LinkFixture.h"

#include <algorithm>
#include <array>
#include <cctype>

using namespace rk40;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::Input in(data, size);
    const int address = in.byte(10);
    fuzzline::feed(in.rest());
    fuzzsupport::clearFrame();

    const int r = fuzzsupport::link().RegisterRead(address);
    FUZZ_CHECK(r == result::kOk || r == result::kRegisterSilence);

    // The request went out whole and nothing else did.
    const auto request = protocol::registerReadRequest(address);
    FUZZ_CHECK(request);
    FUZZ_CHECK(fuzzline::written() == std::vector<std::uint8_t>(request->begin(), request->end()));
    if (r != result::kOk)
        return 0;

    std::array<std::uint8_t, protocol::kRegisterAnswerLength> answer{};
    std::copy_n(fuzzsupport::link().frame().begin(), answer.size(), answer.begin());
    FUZZ_CHECK(std::none_of(answer.begin(), answer.end(), [](std::uint8_t b) { return b == 0; }));

    const auto word = protocol::decodeRegisterAnswer(answer);
    // Accepted exactly when the checksum over the four characters matches
    // and they are hexadecimal digits.
    std::uint8_t x = 0;
    bool hex = true;
    for (std::size_t i = 1; i <= 4; ++i) {
        x ^= answer[i];
        hex = hex && std::isxdigit(answer[i]) != 0;
    }
    FUZZ_CHECK(word.has_value() == (protocol::finishChecksum(x) == answer[5] && hex));
    if (word) {
        FUZZ_CHECK(word->size() == 4);
        FUZZ_CHECK(std::equal(word->begin(), word->end(), answer.begin() + 1,
                              [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }));
    }
    return 0;
}
