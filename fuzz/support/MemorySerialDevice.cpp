// A stand-in for the POSIX serial device, linked into the fuzz harnesses in
// place of platform/serial/SerialDevice.cpp: same class, same header, but
// reads come from fuzzline::feed() and writes are recorded.

#include "MemoryLine.h"
#include "platform/serial/SerialDevice.h"

#include <fcntl.h>


namespace fuzzline {
namespace {
struct Line {
    std::vector<std::uint8_t> input;
    std::size_t pos = 0;
    std::vector<std::uint8_t> output;
    std::size_t attempts = 0;
};
Line& line()
{
    static Line l;
    return l;
}
} // namespace

void feed(std::span<const std::uint8_t> bytes)
{
    Line& l = line();
    l.input.assign(bytes.begin(), bytes.end());
    l.pos = 0;
    l.output.clear();
    l.attempts = 0;
}

const std::vector<std::uint8_t>& written() { return line().output; }
std::size_t remaining() { return line().input.size() - line().pos; }
std::size_t attempts() { return line().attempts; }

} // namespace fuzzline

namespace serial {

SerialDevice::~SerialDevice() { close(); }

OpenResult SerialDevice::open(const QString& path, int)
{
    // Any real descriptor marks the device open; it is never read.
    m_fd.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    m_failed = false;
    m_path = path;
    return OpenResult::Ok;
}

bool SerialDevice::close()
{
    const bool wasOpen = bool(m_fd);
    m_fd.reset();
    return wasOpen;
}

int SerialDevice::readByte(std::chrono::milliseconds)
{
    auto& l = fuzzline::line();
    ++l.attempts;
    if (!m_fd || l.pos >= l.input.size())
        return -1;
    return l.input[l.pos++];
}

std::size_t SerialDevice::write(const std::uint8_t* data, std::size_t size)
{
    if (!m_fd)
        return 0;
    auto& l = fuzzline::line();
    l.output.insert(l.output.end(), data, data + size);
    return size;
}

} // namespace serial
