#include "control/protocol/Protocol.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace rk40::protocol {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Seven two-digit pairs in reverse order; the pairs themselves unchanged.
std::string reversePairs(std::string_view digits)
{
    std::string out;
    out.reserve(digits.size());
    for (std::size_t end = digits.size(); end >= 2; end -= 2)
        out.append(digits.substr(end - 2, 2));
    if (digits.size() % 2)
        out.insert(out.begin(), digits.front());
    return out;
}

} // namespace

std::uint8_t checksum(std::span<const std::uint8_t> bytes)
{
    std::uint8_t x = 0;
    for (std::uint8_t b : bytes)
        x ^= b;
    return finishChecksum(x);
}

std::uint8_t checksum(std::string_view text)
{
    std::uint8_t x = 0;
    for (char c : text)
        x ^= static_cast<std::uint8_t>(c);
    return finishChecksum(x);
}

std::string hexDigits(unsigned value, int digits)
{
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kHex[value & 0xF];
        value >>= 4;
    }
    return out;
}

std::optional<std::array<std::uint8_t, 3>> registerReadRequest(int address)
{
    if (address < 0 || address > 0xFF)
        return std::nullopt;
    const std::string digits = hexDigits(static_cast<unsigned>(address), 2);
    return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(digits[0]), static_cast<std::uint8_t>(digits[1]),
                                       checksum(digits)};
}

std::optional<std::array<std::uint8_t, 7>> registerWriteRequest(int address, long value)
{
    if (address < 0 || address > 0xFF || value < 0 || value > 0xFFFF)
        return std::nullopt;
    const std::string digits =
        hexDigits(static_cast<unsigned>(address), 2) + hexDigits(static_cast<unsigned>(value), 4);
    std::array<std::uint8_t, 7> out{};
    for (std::size_t i = 0; i < 6; ++i)
        out[i] = static_cast<std::uint8_t>(digits[i]);
    out[6] = checksum(digits);
    return out;
}

std::optional<std::string> decodeRegisterAnswer(std::span<const std::uint8_t, kRegisterAnswerLength> answer)
{
    const auto word = answer.subspan<1, 4>();
    if (checksum(word) != answer[5])
        return std::nullopt;
    // The one-byte checksum misses a frame shifted by a lost or added byte
    // often enough (the lead byte or the checksum then stands among the
    // characters): a word is four hexadecimal digits or not a word at all.
    if (!std::all_of(word.begin(), word.end(), [](std::uint8_t b) { return isHexDigit(static_cast<char>(b)); }))
        return std::nullopt;
    return std::string(word.begin(), word.end());
}

WriteAnswer classifyWriteAnswer(std::uint8_t byte)
{
    if (byte == ACK)
        return WriteAnswer::Written;
    if (byte == NAK)
        return WriteAnswer::Refused;
    return WriteAnswer::Other;
}

RecordByte classifyRecordByte(RecordKind kind, std::uint8_t byte)
{
    if (byte == EOT)
        return RecordByte::NothingToSend;
    if (byte == ETX)
        return RecordByte::End;
    if (kind == RecordKind::Identification && (byte < 0x21 || byte > 0x7F))
        return RecordByte::Skipped;
    return RecordByte::Data;
}

std::optional<std::int16_t> recordSequenceNumber(RecordKind kind, std::string_view record)
{
    if (kind == RecordKind::Plain) {
        if (record.empty())
            return std::nullopt;
        return static_cast<std::int16_t>(static_cast<unsigned char>(record.front()) - '0');
    }
    const std::size_t slash = record.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    // The decimal number in front of the slash, read as far as it goes.
    std::string_view number = record.substr(0, slash);
    bool negative = false;
    if (!number.empty() && (number.front() == '-' || number.front() == '+')) {
        negative = number.front() == '-';
        number.remove_prefix(1);
    }
    long value = 0;
    for (char c : number) {
        if (!isDigit(c))
            break;
        value = std::min<long>(value * 10 + (c - '0'), 1L << 20);
    }
    if (negative)
        value = -value;
    value = std::clamp<long>(value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max());
    return static_cast<std::int16_t>(value);
}

BlockByte classifyBlockByte(std::uint8_t byte)
{
    if (byte == CR)
        return BlockByte::RecordEnd;
    if (byte == ETX)
        return BlockByte::End;
    if (byte >= 0x0E && byte <= 0x7F)
        return BlockByte::Data;
    return BlockByte::Skipped;
}

std::optional<std::string> reverseIdentifier(std::string_view identifier)
{
    if (identifier.size() != kIdentifierDigits || !std::all_of(identifier.begin(), identifier.end(), isHexDigit))
        return std::nullopt;
    return reversePairs(identifier);
}

std::optional<std::string> idElementFrame(std::string_view identifier, int accessByte)
{
    if (accessByte < 0 || accessByte > 0xFF)
        return std::nullopt;
    auto wire = reverseIdentifier(identifier);
    if (!wire)
        return std::nullopt;
    return *wire + hexDigits(static_cast<unsigned>(accessByte), 2) + static_cast<char>(ETX);
}

std::optional<IdElement> decodeIdElement(std::string_view record)
{
    const std::size_t slash = record.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view body = record.substr(slash + 1);
    IdElement e;
    e.identifier = reversePairs(body.substr(0, kIdentifierDigits));
    const std::string_view access = body.size() > kIdentifierDigits ? body.substr(kIdentifierDigits, 2) : std::string_view{};
    for (char c : access) {
        const int v = hexValue(c);
        if (v < 0)
            break;
        e.accessByte = e.accessByte * 16 + v;
    }
    return e;
}

StatusTexts splitStatusBlock(std::span<const std::uint8_t> block)
{
    const std::string_view bytes(reinterpret_cast<const char*>(block.data()), block.size());
    StatusTexts out;
    std::string* fields[] = {&out.firmware, &out.clock, &out.inBuffer};
    std::size_t pos = 3;
    for (std::string* field : fields) {
        if (pos >= bytes.size())
            break;
        const std::size_t cr = bytes.find(static_cast<char>(CR), pos);
        const std::string_view text = bytes.substr(pos, cr == std::string_view::npos ? std::string_view::npos : cr - pos);
        *field = std::string(text.substr(0, text.find('\0')));
        if (cr == std::string_view::npos)
            break;
        pos = cr + 4;
    }
    return out;
}

int weekdayStringId(std::string_view clock)
{
    if (clock.size() <= 8)
        return 108;
    const char c = clock[8];
    if (c == '0')
        return 107;
    if (c >= '1' && c <= '6')
        return 101 + (c - '1');
    return 108;
}

std::string clockWithoutWeekday(std::string_view clock)
{
    std::string out(clock);
    if (out.size() > 8)
        out[8] = ' ';
    return out;
}

std::string clockText(const LocalTime& t)
{
    auto two = [](int v) {
        v = ((v % 100) + 100) % 100;
        return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
    };
    const char weekday = static_cast<char>('0' + std::clamp(t.dayOfWeek, 0, 6));
    return two(t.day) + '.' + two(t.month) + '.' + two(t.year) + weekday + two(t.hour) + ':' + two(t.minute);
}

std::string messageText(std::string_view text)
{
    std::string out(text.substr(0, kMessageLength));
    out.resize(kMessageLength, ' ');
    return out;
}

std::string_view eventSourceName(int source)
{
    static constexpr std::string_view names[16] = {"T1",  "T2",  "T3",  "T4",  "S1O", "S1Z", "S2O", "S2Z",
                                                   "S3O", "S3Z", "S4O", "S4Z", "E1",  "E2",  "E3",  "E4"};
    if (source < 0 || source > 15)
        return {};
    return names[source];
}

std::optional<std::string> actionName(std::string_view value)
{
    long number = 0;
    for (char c : value) {
        const int v = hexValue(c);
        if (v < 0)
            break;
        number = number * 16 + v;
        if (number > 15)
            return std::nullopt;
    }
    return std::string(eventSourceName(static_cast<int>(number)));
}

std::string timeText(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < 4 && i < value.size() && value[i] != '\0'; ++i) {
        if (i == 2)
            out += ':';
        out += value[i];
    }
    return out;
}

std::string dateText(std::string_view value, int currentYear)
{
    std::string out;
    for (std::size_t i = 0; i < 4 && i < value.size() && value[i] != '\0'; ++i) {
        if (i == 2)
            out += '.';
        out += value[i];
    }
    if (out.size() < 5)
        return out;
    out += '.';
    if (value.size() < 5 || !isDigit(value[4]))
        return out;
    const int y = value[4] - '0';
    const int year = ((currentYear % 100) + 100) % 100;
    int tens = year / 10;
    if (year % 10 < y)
        tens = (tens + 9) % 10;
    out += static_cast<char>('0' + tens);
    out += static_cast<char>('0' + y);
    return out;
}

std::string terminalNumberText(char c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", static_cast<int>(static_cast<unsigned char>(c)) - '0');
    return buf;
}

EventRecord decodeEventRecord(std::string_view record, int currentYear)
{
    EventRecord r;
    auto part = [&](std::size_t pos, std::size_t len) {
        return pos < record.size() ? record.substr(pos, len) : std::string_view{};
    };
    r.card = std::string(part(10, 8));
    const std::string_view source = part(9, 1);
    r.action = std::string(eventSourceName(source.empty() ? 0 : std::max(hexValue(source[0]), 0)));
    r.time = timeText(part(5, 4));
    r.date = dateText(part(0, 5), currentYear);
    r.terminalNumber = record.size() > 18 ? terminalNumberText(record[18]) : std::string{};
    return r;
}

} // namespace rk40::protocol
