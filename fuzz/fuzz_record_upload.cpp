// Record uploads of both kinds: day and week types (plain) and
// identification elements. The link takes the record byte by byte, answers
// ACK or NAK and keeps the sequence numbers; an identification element is
// then decoded into identifier and access byte as RxIDTElement does.
//
// Input: one byte choosing the kind, two bytes of the highest sequence
// number taken so far, then the bytes the terminal sends.

#include "FuzzSupport.h"
#include "LinkFixture.h"

#include <algorithm>
#include <cctype>
#include <string>

using namespace rk40;
namespace res = rk40::result;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::Input in(data, size);
    const auto kind = (in.byte() & 1) ? protocol::RecordKind::Identification : protocol::RecordKind::Plain;
    const std::uint8_t hi = in.byte(0xFF);
    const std::uint8_t lo = in.byte(0xFF);
    TerminalLink::Sequence sequence;
    sequence.previous = static_cast<std::int16_t>(static_cast<std::uint16_t>((hi << 8) | lo));
    sequence.current = 12345;
    const TerminalLink::Sequence before = sequence;

    fuzzline::feed(in.rest());
    fuzzsupport::clearFrame();
    const std::string untouched = "untouched";
    std::string record = untouched;
    const int r = fuzzsupport::link().ReceiveRecord(kind, sequence, &record);

    const bool known = r == res::kOk || r == res::kRecordAlreadyTaken || r == res::kRecordNothingToSend
                       || r == res::kRecordMalformed || r == res::kRecordBadChecksum || r == res::kRecordTooLong
                       || (r >= res::kRecordSilenceBase
                           && r < res::kRecordSilenceBase + static_cast<int>(protocol::kMaxRecordBytes));
    FUZZ_CHECK(known);

    // Exactly one answer: ACK for a record taken (new or repeated) and for
    // "nothing to send", NAK for every error.
    const auto& out = fuzzline::written();
    FUZZ_CHECK(out.size() == 1);
    const bool acknowledged = r == res::kOk || r == res::kRecordAlreadyTaken || r == res::kRecordNothingToSend;
    FUZZ_CHECK(out[0] == (acknowledged ? protocol::ACK : protocol::NAK));

    if (r != res::kOk)
        FUZZ_CHECK(record == untouched);
    if (r == res::kRecordAlreadyTaken) {
        FUZZ_CHECK(sequence.previous == before.previous);
        FUZZ_CHECK(sequence.current <= before.previous);
    }
    if (r != res::kOk && r != res::kRecordAlreadyTaken)
        FUZZ_CHECK(sequence.previous == before.previous);
    if (r != res::kOk)
        return 0;

    FUZZ_CHECK(sequence.previous == sequence.current);
    FUZZ_CHECK(sequence.current > before.previous);
    FUZZ_CHECK(!record.empty() && record.size() < protocol::kMaxRecordBytes);
    FUZZ_CHECK(record.find('\0') == std::string::npos);
    FUZZ_CHECK(fuzzsupport::link().frameText(0) == record);

    if (kind == protocol::RecordKind::Plain) {
        FUZZ_CHECK(record.size() >= protocol::kMinPlainRecordBytes);
        FUZZ_CHECK(sequence.current == static_cast<unsigned char>(record[0]) - '0');
        return 0;
    }

    // Identification: printable bytes only, with a slash.
    FUZZ_CHECK(std::all_of(record.begin(), record.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b >= 0x21 && b <= 0x7F;
    }));
    const std::size_t slash = record.find('/');
    FUZZ_CHECK(slash != std::string::npos);

    const auto element = protocol::decodeIdElement(record);
    if (!element)
        return 0;
    FUZZ_CHECK(element->accessByte >= 0 && element->accessByte <= 0xFF);
    const std::string body = record.substr(slash + 1);
    const bool wellFormed = body.size() >= 16 && std::all_of(body.begin(), body.begin() + 16, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
    if (wellFormed) {
        // The identifier goes back to the order the container writes, and
        // turns into the wire order again.
        FUZZ_CHECK(element->identifier.size() == protocol::kIdentifierDigits);
        const auto wire = protocol::reverseIdentifier(element->identifier);
        FUZZ_CHECK(wire && *wire == body.substr(0, protocol::kIdentifierDigits));
        FUZZ_CHECK(element->accessByte == std::stoi(body.substr(14, 2), nullptr, 16));
    }
    return 0;
}
