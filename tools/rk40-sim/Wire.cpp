// Plain byte helpers of the simulator: checksum, on-line block bodies and
// the names of the faults. No I/O here.

#include "rk40sim/Terminal.h"

#include <array>
#include <utility>

namespace rk40sim {

std::uint8_t checksum(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < size; ++i)
        x ^= data[i];
    return static_cast<std::uint8_t>(x | 0x20);
}

std::uint8_t checksum(const std::string& text)
{
    return checksum(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

namespace {

// Bytes the PC drops from a block's data; they are not checksummed.
constexpr std::array<std::uint8_t, 3> kHighNoise{0x80, 0xA5, 0xFF};
constexpr std::array<std::uint8_t, 6> kControlNoise{0x01, 0x02, 0x04, 0x06, 0x0A, 0x0C};
// Noise goes in after this many characters of a record.
constexpr std::size_t kNoisePosition = 5;

bool isBlockData(std::uint8_t b) { return b >= 0x0E && b <= 0x7F; }

}  // namespace

std::vector<std::uint8_t> onlineBlockBody(const std::vector<std::string>& records, const BlockOptions& options)
{
    std::vector<std::uint8_t> data;
    std::uint8_t x = 0;
    auto putData = [&](std::uint8_t b) {
        data.push_back(b);
        if (isBlockData(b))
            x ^= b;
    };
    for (const std::string& record : records) {
        for (std::size_t i = 0; i < record.size(); ++i) {
            if (i == kNoisePosition) {
                if (options.highBytes)
                    data.insert(data.end(), kHighNoise.begin(), kHighNoise.end());
                if (options.controlBytes)
                    data.insert(data.end(), kControlNoise.begin(), kControlNoise.end());
            }
            putData(static_cast<std::uint8_t>(record[i]));
        }
        data.push_back(CR);
    }
    for (int i = 0; i < options.extraData; ++i)
        putData(static_cast<std::uint8_t>('0' + i % 10));

    data.push_back(ETX);
    std::uint8_t sum = static_cast<std::uint8_t>(x | 0x20);
    if (options.badChecksum)
        sum ^= 0x01;
    data.push_back(sum);
    if (options.stopAfter >= 0 && static_cast<std::size_t>(options.stopAfter) < data.size())
        data.resize(static_cast<std::size_t>(options.stopAfter));  // the PC meets silence

    if (!options.omitStx)
        data.insert(data.begin(), STX);
    return data;
}

std::vector<std::uint8_t> applyLineNoise(const LineNoise& noise, std::mt19937_64& random, LineNoiseCounts& counts,
                                         const std::uint8_t* data, std::size_t size)
{
    std::uniform_int_distribution<int> chance(0, 999'999);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> flip(1, 255);
    auto hit = [&](int ppm) { return ppm > 0 && chance(random) < ppm; };
    std::vector<std::uint8_t> out;
    out.reserve(size + 4);
    for (std::size_t i = 0; i < size; ++i) {
        std::uint8_t b = data[i];
        ++counts.bytes;
        if (hit(noise.insertPpm)) {
            out.push_back(static_cast<std::uint8_t>(anyByte(random)));
            ++counts.inserted;
        }
        if (hit(noise.dropPpm)) {
            ++counts.dropped;
            continue;
        }
        if (hit(noise.corruptPpm)) {
            b = static_cast<std::uint8_t>(b ^ flip(random));
            ++counts.corrupted;
        }
        out.push_back(b);
        if (hit(noise.duplicatePpm)) {
            out.push_back(b);
            ++counts.duplicated;
        }
    }
    return out;
}

namespace {

constexpr std::array<std::pair<Fault::Kind, const char*>, 13> kFaultNames{{
    {Fault::SilenceOnOpen, "silence-open"},
    {Fault::NakOnOpen, "nak-open"},
    {Fault::Silence, "silence"},
    {Fault::Nak, "nak"},
    {Fault::OtherByte, "other"},
    {Fault::BadChecksum, "bad-checksum"},
    {Fault::ResultOne, "result-1"},
    {Fault::ResultOther, "result-other"},
    {Fault::NoResult, "no-result"},
    {Fault::Truncate, "truncate"},
    {Fault::Garbage, "garbage"},
    {Fault::Pause, "pause"},
    {Fault::Disconnect, "disconnect"},
}};

}  // namespace

const char* faultName(Fault::Kind kind)
{
    for (const auto& [k, name] : kFaultNames)
        if (k == kind)
            return name;
    return "?";
}

std::optional<Fault::Kind> faultFromName(const std::string& name)
{
    for (const auto& [k, text] : kFaultNames)
        if (name == text)
            return k;
    return std::nullopt;
}

}  // namespace rk40sim
