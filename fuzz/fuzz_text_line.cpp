// The text line of TakeIDTNum: bytes up to CR, control and high bytes
// skipped, no answer sent. Checked against a model of the rule.
//
// Input: the bytes the terminal sends after the "j" opening.

#include "FuzzSupport.h"
#include "LinkFixture.h"

using namespace rk40;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::Input in(data, size);
    const auto bytes = in.rest();
    fuzzline::feed(bytes);
    fuzzsupport::clearFrame();

    std::string line = "untouched";
    const int r = fuzzsupport::link().ReceiveTextLine(&line);
    FUZZ_CHECK(fuzzline::written().empty());

    // The model: silence (a zero byte or the end) fails, CR ends the line,
    // bytes 0x0E..0x7F are kept as long as the buffer has room for them and
    // the terminating zero, at most kMaxBytesPerExchange + 1 bytes are read.
    int expected = result::kLineSilence;
    std::string model;
    for (std::size_t seen = 0; seen <= TerminalLink::kMaxBytesPerExchange; ++seen) {
        const std::uint8_t b = seen < bytes.size() ? bytes[seen] : 0;
        if (b == 0)
            break;
        if (b == protocol::CR) {
            expected = result::kOk;
            break;
        }
        if (protocol::isTextLineByte(b) && model.size() + 1 < TerminalLink::kFrameBufferSize)
            model += static_cast<char>(b);
    }
    FUZZ_CHECK(r == expected);
    if (r == result::kOk)
        FUZZ_CHECK(line == model);
    else
        FUZZ_CHECK(line == "untouched");
    return 0;
}
