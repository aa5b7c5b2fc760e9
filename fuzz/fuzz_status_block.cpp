// The status block: up to 46 bytes kept as they come, then split into
// firmware, clock and event-buffer texts the way GetStatus does, and the
// splitter on its own over blocks of any length.
//
// Input: the bytes the terminal sends after the "S" opening.

#include "FuzzSupport.h"
#include "LinkFixture.h"

#include <algorithm>
#include <array>

using namespace rk40;

namespace {

void checkTexts(const protocol::StatusTexts& texts, std::size_t limit)
{
    for (const std::string* t : {&texts.firmware, &texts.clock, &texts.inBuffer}) {
        FUZZ_CHECK(t->find(static_cast<char>(protocol::CR)) == std::string::npos);
        FUZZ_CHECK(t->find('\0') == std::string::npos);
        FUZZ_CHECK(t->size() <= limit);
    }
    const int weekday = protocol::weekdayStringId(texts.clock);
    FUZZ_CHECK(weekday >= 101 && weekday <= 108);
    const std::string rtc = protocol::clockWithoutWeekday(texts.clock);
    FUZZ_CHECK(rtc.size() == texts.clock.size());
    if (rtc.size() > 8)
        FUZZ_CHECK(rtc[8] == ' ');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::Input in(data, size);
    const auto bytes = in.rest();

    // Any span: the splitter reads only what it is given.
    checkTexts(protocol::splitStatusBlock(bytes), bytes.size());

    fuzzline::feed(bytes);
    fuzzsupport::clearFrame();
    const int received = fuzzsupport::link().ReceiveStatusBlock();
    FUZZ_CHECK(received >= 0 && received <= static_cast<int>(protocol::kStatusBlockLength));
    FUZZ_CHECK(fuzzline::written().empty());

    std::array<std::uint8_t, protocol::kStatusBlockLength> block{};
    std::copy_n(fuzzsupport::link().frame().begin(), block.size(), block.begin());
    // At most 46 bytes are taken, whatever follows them, each as it came
    // (a zero byte too).
    const std::size_t taken = std::min(bytes.size(), protocol::kStatusBlockLength);
    FUZZ_CHECK(fuzzline::remaining() == bytes.size() - taken);
    FUZZ_CHECK(received == static_cast<int>(taken));
    FUZZ_CHECK(std::equal(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(taken), bytes.begin()));

    checkTexts(protocol::splitStatusBlock(std::span<const std::uint8_t>(block.data(), std::size_t(received))),
               protocol::kStatusBlockLength);
    return 0;
}
