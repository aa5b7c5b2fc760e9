// The on-line block the terminal starts: header, STX, CR-ended event
// records, ETX, checksum. The link takes it into the frame buffer; an
// accepted block is then cut into its records and each is decoded the way
// the control fills its record arrays. Checked against a model of the rule.
//
// Input: one byte for the PC clock's year, then the bytes after the SOH.

#include "FuzzSupport.h"
#include "LinkFixture.h"

#include <algorithm>

using namespace rk40;
namespace res = rk40::result;

namespace {

struct Model {
    int code = res::kBlockSilence;
    int records = 0;
    std::string data;
    bool ackFirst = false;
};

// What the block should give, worked out from the rule itself.
Model model(std::span<const std::uint8_t> bytes)
{
    Model m;
    std::size_t pos = 0;
    auto next = [&]() -> std::uint8_t { return pos < bytes.size() ? bytes[pos++] : 0; };
    const std::uint8_t header = next();
    if (header != 'S' && header != 'V') {
        m.code = res::kBlockBadHeader;
        return m;
    }
    m.ackFirst = header == 'V';
    if (next() != protocol::STX) {
        m.code = res::kBlockNoStx;
        return m;
    }
    std::uint8_t x = 0;
    for (std::size_t seen = 0;; ++seen) {
        if (seen > TerminalLink::kMaxBytesPerExchange) {
            m.code = res::kBlockTooLong;
            return m;
        }
        const std::uint8_t b = next();
        if (b == 0) {
            m.code = res::kBlockSilence;
            return m;
        }
        if (b == protocol::ETX)
            break;
        const bool cr = b == protocol::CR;
        const bool dataByte = b >= 0x0E && b <= 0x7F;
        if (!cr && !dataByte)
            continue;
        if (m.data.size() >= TerminalLink::kMaxBlockPositions) {
            m.code = res::kBlockTooLong;
            return m;
        }
        if (cr) {
            m.data += '\n';
            ++m.records;
        } else {
            m.data += static_cast<char>(b);
            x ^= b;
        }
    }
    m.code = next() == protocol::finishChecksum(x) ? res::kOk : res::kBlockBadChecksum;
    return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::Input in(data, size);
    const int year = 1990 + in.byte() % 60;
    const auto bytes = in.rest();
    fuzzline::feed(bytes);
    fuzzsupport::clearFrame();

    int records = -1;
    const int r = fuzzsupport::link().ReceiveOnlineBlock(&records);
    const Model m = model(bytes);
    FUZZ_CHECK(r == m.code);
    // A "V" header is acknowledged at once; the link sends nothing else (the
    // handler answers the block).
    const auto& out = fuzzline::written();
    if (m.ackFirst)
        FUZZ_CHECK(out.size() == 1 && out[0] == protocol::ACK);
    else
        FUZZ_CHECK(out.empty());
    if (r == res::kBlockBadHeader || r == res::kBlockNoStx) {
        FUZZ_CHECK(records == -1);   // not reached: Total stays
        return 0;
    }
    FUZZ_CHECK(records == m.records);
    if (r != res::kOk)
        return 0;

    // The accepted data: exactly the model's, within the buffer, one LF per
    // record.
    const std::string_view text = fuzzsupport::link().frameText(0);
    FUZZ_CHECK(text == m.data);
    FUZZ_CHECK(text.size() <= TerminalLink::kMaxBlockPositions);
    FUZZ_CHECK(std::count(text.begin(), text.end(), '\n') == records);

    // Each LF-ended record decodes into the five array entries.
    std::size_t pos = 0;
    for (int i = 0; i < records; ++i) {
        const std::size_t lf = text.find('\n', pos);
        FUZZ_CHECK(lf != std::string_view::npos);
        const std::string_view line = text.substr(pos, std::min(lf - pos, protocol::kEventRecordLength));
        const protocol::EventRecord e = protocol::decodeEventRecord(line, year);
        FUZZ_CHECK(e.card.size() <= 8);
        FUZZ_CHECK(e.time.size() <= 5);
        FUZZ_CHECK(e.date.size() <= 8);
        FUZZ_CHECK(!e.action.empty() && e.action.size() <= 3);
        if (line.size() >= 19) {
            FUZZ_CHECK(e.card == line.substr(10, 8));
            FUZZ_CHECK(e.terminalNumber.size() >= 2);
        }
        if (e.date.size() == 8) {
            // The year is the latest one ending in the digit that is not
            // after the PC clock's year.
            const int yy = (e.date[6] - '0') * 10 + (e.date[7] - '0');
            const int digit = line[4] - '0';
            FUZZ_CHECK(yy % 10 == digit);
            const int current = year % 100;
            const int back = ((current - yy) % 100 + 100) % 100;
            FUZZ_CHECK(back <= 9);
        }
        pos = lf + 1;
    }
    return 0;
}
