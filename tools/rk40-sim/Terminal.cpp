// The terminal simulator: one service thread owns the master side of a
// pseudo-terminal, waits for an SOH (or for an on-line block to send when the
// line is idle) and plays the terminal's side of one exchange at a time.

#include "rk40sim/Terminal.h"

#include "platform/posix/UniqueFd.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace rk40sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Longest gap the terminal accepts between two bytes of one PC frame
// (the PC writes each frame in one go, so this only ends abandoned frames).
constexpr auto kFrameByteTimeout = 1000ms;
// How long the terminal waits for the PC's ACK or NAK after an upload; the
// PC answers a broken upload only after its own silence budget.
constexpr auto kUploadAnswerTimeout = 5000ms;
// Longest day/week-type text taken before the frame is refused.
constexpr std::size_t kMaxTextFrame = 8192;
// How long a write may wait for room in the pseudo-terminal's queue.
constexpr int kWriteRoomTimeoutMs = 2000;
// How long a disconnect waits for the PC to read the bytes sent before it.
constexpr auto kDrainBeforeDisconnect = 1000ms;

constexpr const char* kGarbage = "#?~%&@!*";

constexpr int kTimeout = -1;
constexpr int kStopped = -2;
constexpr int kWoken = -3;

// Sleeps until `deadline`. The service thread runs with a timer slack of a
// microsecond, so this is accurate to the scheduler's wake-up latency; the
// callers chain absolute deadlines, so that latency never adds up.
void sleepUntil(Clock::time_point deadline)
{
    std::this_thread::sleep_until(deadline);
}

bool isHexDigit(std::uint8_t b) { return std::isxdigit(b) != 0; }

int hexValue(std::uint8_t b)
{
    if (b >= '0' && b <= '9')
        return b - '0';
    if (b >= 'A' && b <= 'F')
        return b - 'A' + 10;
    if (b >= 'a' && b <= 'f')
        return b - 'a' + 10;
    return -1;
}

// Value of `count` hexadecimal digits at `p`, or -1 if one is not a digit.
long hexNumber(const std::uint8_t* p, std::size_t count)
{
    long v = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int d = hexValue(p[i]);
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

std::string hex(unsigned value, int digits, bool lower)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, lower ? "%0*x" : "%0*X", digits, value);
    return buf;
}

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void append(std::vector<std::uint8_t>& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void setRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
}

// How the answer of one command is to be spoilt.
struct Plan {
    bool silence = false;
    std::optional<std::uint8_t> replace;
    bool badChecksum = false;
    std::optional<std::uint8_t> result;
    bool noResult = false;
    int truncate = -1;
    int garbage = 0;
    int pauseMs = 0;
    std::optional<int> disconnectAfter;  // -1: half of the answer
};

}  // namespace

struct Terminal::Impl {
    struct Armed {
        Fault fault;
        int times;
    };
    struct Block {
        char kind;
        std::uint8_t header;
        std::vector<std::uint8_t> body;
        BlockOptions options;
        std::vector<std::string> records;
    };

    // --- shared state, under `mutex` ---
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::array<std::uint16_t, 256> words{};
    bool lowerHex = false;
    std::string firmware = "RK40 V6.29";
    std::string clock = "08.01.03307:09";
    std::string inBuffer = "0000";
    std::string lastClock;
    std::string idtNum = "0001";
    std::vector<IdElement> ids;
    std::size_t idCursor = 0;
    int sequenceBase = 1;
    std::vector<std::string> dayTypesIn, weekTypesIn;
    std::deque<std::string> dayQueue, weekQueue;
    std::uint8_t uploadAnswer = 0;
    std::string message;
    char messageLetter = 0;
    std::vector<std::uint8_t> rx, tx;
    std::array<int, 256> counts{};
    int openings = 0;
    std::vector<Armed> faults;
    std::deque<Block> blocks;
    bool blockRunning = false;
    BlockAnswer blockAnswer = BlockAnswer::Pending;
    std::uint8_t blockAnswerByte = 0;
    int blocksSent = 0;
    std::vector<Terminal::SentBlock> history;
    std::optional<LineNoise> noise;
    std::mt19937_64 noiseRng;
    LineNoiseCounts noiseCounts;
    std::optional<Flood> flood;
    std::mt19937_64 floodRng;
    Clock::time_point nextFloodAt{};

    // --- set once, or atomic ---
    std::string slave;
    std::atomic<int> baud{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> isConnected{true};
    std::atomic<bool> disconnectRequested{false};
    posix::UniqueFd wakeRead;
    posix::UniqueFd wakeWrite;
    std::thread thread;

    // --- service thread only (and the destructor after the join) ---
    // Declared in this order so that the master closes first.
    posix::UniqueFd keep;  // our own slave descriptor: keeps the line up and raw between PC sessions
    posix::UniqueFd master;
    std::deque<std::pair<std::uint8_t, Clock::time_point>> inbuf;
    std::optional<std::uint8_t> pushback;
    Clock::time_point rxWire{};
    Clock::time_point txWire{};
    Terminal::SentBlock running;  // the block being served

    Impl();
    ~Impl();

    void wake();
    void run();
    Clock::duration byteTime() const;

    // Reading from the PC.
    int readByte(Clock::time_point deadline, bool wakeReturns = false);
    bool fillInput(Clock::time_point deadline, bool wakeReturns, bool& woken);
    bool inputPending();
    bool readFrame(std::size_t n, std::vector<std::uint8_t>& out);
    void unread(std::uint8_t b) { pushback = b; }

    // Writing to the PC.
    bool writeRaw(const std::uint8_t* p, std::size_t n);
    bool writeWire(const std::uint8_t* p, std::size_t n);
    std::vector<std::uint8_t> damage(const std::uint8_t* p, std::size_t n, bool toPc);
    bool disconnectIfAsked();
    bool send(const std::vector<std::uint8_t>& bytes);
    bool deliver(const Plan& plan, std::vector<std::uint8_t> answer);
    void disconnect();
    bool interruptibleSleep(std::chrono::milliseconds ms);

    // Exchanges.
    std::optional<Fault::Kind> takeOpeningFault();
    Plan takeFaults(char letter);
    void serveCommand();
    void readRegister(const Plan& plan);
    void writeRegister(const Plan& plan);
    void acknowledgedText(const Plan& plan, std::size_t length, char letter);
    void idFrame(const Plan& plan, char letter);
    void textFrame(const Plan& plan, char letter);
    void upload(const Plan& plan, char letter);
    std::vector<std::uint8_t> confirmation(const Plan& plan, bool done) const;

    void serveBlock(Block block);
    void finishBlock(BlockAnswer answer, std::uint8_t byte);
    void failQueuedBlocks();
    Block makeFloodBlockLocked();

    std::vector<std::uint8_t> statusBlockLocked() const;
};

// ---------------------------------------------------------------------------
// Set-up and tear-down

Terminal::Impl::Impl()
{
    master.reset(posix_openpt(O_RDWR | O_NOCTTY));
    if (!master)
        throw std::runtime_error(std::string("rk40-sim: no pseudo-terminal: ") + std::strerror(errno));
    // The descriptors taken so far close as the members unwind.
    auto fail = [](const char* what) {
        const int err = errno;
        throw std::runtime_error(std::string("rk40-sim: ") + what + ": " + std::strerror(err));
    };
    if (fcntl(master.get(), F_SETFD, FD_CLOEXEC) != 0 || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0)
        fail("cannot unlock the pseudo-terminal");
    char name[256];
    if (ptsname_r(master.get(), name, sizeof name) != 0)
        fail("no slave name");
    slave = name;
    keep.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!keep)
        fail("cannot open the slave side");
    setRaw(keep.get());
    setRaw(master.get());
    if (fcntl(master.get(), F_SETFL, fcntl(master.get(), F_GETFL) | O_NONBLOCK) != 0)
        fail("cannot make the master non-blocking");
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        fail("no wake pipe");
    wakeRead.reset(pipeFds[0]);
    wakeWrite.reset(pipeFds[1]);
    for (int fd : pipeFds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    thread = std::thread([this] { run(); });
}

Terminal::Impl::~Impl()
{
    stop = true;
    wake();
    if (thread.joinable())
        thread.join();
}

void Terminal::Impl::wake()
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeWrite.get(), &c, 1);  // a full pipe is awake enough
}

Clock::duration Terminal::Impl::byteTime() const
{
    const int b = baud.load();
    if (b <= 0)
        return Clock::duration::zero();
    // 10 bits per byte: start, 8 data, stop.
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / b));
}

void Terminal::Impl::run()
{
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);  // wire pacing wants sub-millisecond sleeps
#endif
    while (!stop) {
        disconnectIfAsked();
        std::optional<Clock::time_point> floodAt;
        if (!master) {
            failQueuedBlocks();
        } else if (!pushback && inbuf.empty() && !inputPending()) {
            std::optional<Block> next;
            {
                std::lock_guard lock(mutex);
                if (!blocks.empty()) {
                    next = std::move(blocks.front());
                    blocks.pop_front();
                    blockRunning = true;
                } else if (flood && Clock::now() >= nextFloodAt) {
                    next = makeFloodBlockLocked();
                    blockRunning = true;
                    blockAnswer = BlockAnswer::Pending;
                } else if (flood) {
                    floodAt = nextFloodAt;
                }
            }
            if (next) {
                serveBlock(std::move(*next));
                std::lock_guard lock(mutex);
                if (flood)
                    nextFloodAt = Clock::now() + flood->gap;
                continue;
            }
        }
        auto deadline = Clock::now() + 1s;
        if (floodAt)
            deadline = std::min(deadline, *floodAt);
        const int b = readByte(deadline, true);
        if (b == SOH)
            serveCommand();
        // Anything else between exchanges is ignored (it is in received()).
    }
}

// ---------------------------------------------------------------------------
// Reading

bool Terminal::Impl::inputPending()
{
    pollfd p{master.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// Waits for bytes from the PC until `deadline`; true when some were added to
// the input buffer. Sets `woken` when the wake pipe fired.
bool Terminal::Impl::fillInput(Clock::time_point deadline, bool wakeReturns, bool& woken)
{
    for (;;) {
        if (stop)
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        const int timeoutMs = static_cast<int>(std::min<long long>(left, 200));
        pollfd p[2] = {{wakeRead.get(), POLLIN, 0}, {master.get(), POLLIN, 0}};
        const nfds_t count = master ? 2 : 1;
        const int r = ::poll(p, count, timeoutMs);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (p[0].revents & POLLIN) {
            char drain[64];
            while (::read(wakeRead.get(), drain, sizeof drain) > 0) {
            }
            if (disconnectIfAsked())
                return false;
            if (wakeReturns || stop) {
                woken = true;
                return false;
            }
        }
        if (count == 2 && (p[1].revents & POLLIN)) {
            std::uint8_t buf[512];
            const ssize_t n = ::read(master.get(), buf, sizeof buf);
            if (n > 0) {
                const auto at = Clock::now();
                {
                    std::lock_guard lock(mutex);
                    rx.insert(rx.end(), buf, buf + n);
                }
                // What the line lets through of it.
                for (std::uint8_t b : damage(buf, static_cast<std::size_t>(n), false))
                    inbuf.emplace_back(b, at);
                if (!inbuf.empty())
                    return true;
                continue;  // all of it lost on the way: keep waiting
            }
        } else if (count == 2 && (p[1].revents & (POLLHUP | POLLERR))) {
            // Nobody holds the slave side (cannot happen while `keep` is open);
            // do not spin.
            std::this_thread::sleep_for(5ms);
        }
    }
}

// The next byte from the PC, or kTimeout, kStopped, kWoken. With wire
// timing a byte is handed out no earlier than it would have arrived on a
// real line.
int Terminal::Impl::readByte(Clock::time_point deadline, bool wakeReturns)
{
    if (pushback) {
        const std::uint8_t b = *pushback;
        pushback.reset();
        return b;
    }
    if (inbuf.empty()) {
        bool woken = false;
        if (!fillInput(deadline, wakeReturns, woken))
            return stop ? kStopped : woken ? kWoken : kTimeout;
    }
    const auto [b, at] = inbuf.front();
    inbuf.pop_front();
    const auto t = byteTime();
    if (t != Clock::duration::zero()) {
        // The byte has arrived when its stop bit is through, and no earlier
        // than one byte time after the one before it.
        rxWire = std::max(at, rxWire) + t;
        sleepUntil(rxWire);
    }
    return b;
}

// Reads the `n` bytes of a PC frame. False when the PC stopped sending or a
// new command (SOH) broke in; the SOH is kept for the main loop.
bool Terminal::Impl::readFrame(std::size_t n, std::vector<std::uint8_t>& out)
{
    out.clear();
    while (out.size() < n) {
        const int b = readByte(Clock::now() + kFrameByteTimeout);
        if (b < 0)
            return false;
        if (b == SOH) {
            unread(SOH);
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(b));
    }
    return true;
}

// ---------------------------------------------------------------------------
// Writing

// Sends bytes over the line, which may damage them on the way.
bool Terminal::Impl::writeRaw(const std::uint8_t* p, std::size_t n)
{
    if (disconnectIfAsked())
        return false;
    const std::vector<std::uint8_t> wire = damage(p, n, true);
    return writeWire(wire.data(), wire.size());
}

std::vector<std::uint8_t> Terminal::Impl::damage(const std::uint8_t* p, std::size_t n, bool toPc)
{
    std::lock_guard lock(mutex);
    if (!noise || !(toPc ? noise->toPc : noise->fromPc))
        return std::vector<std::uint8_t>(p, p + n);
    return applyLineNoise(*noise, noiseRng, noiseCounts, p, n);
}

bool Terminal::Impl::disconnectIfAsked()
{
    if (!disconnectRequested.exchange(false))
        return false;
    if (master)
        disconnect();
    return true;
}

bool Terminal::Impl::writeWire(const std::uint8_t* p, std::size_t n)
{
    std::size_t done = 0;
    while (done < n && master) {
        const ssize_t w = ::write(master.get(), p + done, n - done);
        if (w > 0) {
            {
                std::lock_guard lock(mutex);
                tx.insert(tx.end(), p + done, p + done + w);
            }
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The PC is not reading; wait for room, but not past a stop.
            const auto until = Clock::now() + std::chrono::milliseconds(kWriteRoomTimeoutMs);
            bool room = false;
            while (!stop && !room && Clock::now() < until) {
                pollfd pf{master.get(), POLLOUT, 0};
                room = ::poll(&pf, 1, 50) > 0 && (pf.revents & POLLOUT);
            }
            if (room)
                continue;
        }
        return false;  // the PC does not take bytes: drop the rest
    }
    return done == n;
}

bool Terminal::Impl::send(const std::vector<std::uint8_t>& bytes)
{
    const auto t = byteTime();
    if (t == Clock::duration::zero())
        return writeRaw(bytes.data(), bytes.size());
    // The line becomes free for us when our last byte and the PC's last
    // byte are through, on the simulated clock. Late wake-ups of this thread
    // are not added to it; only a line idle for longer than a byte time
    // starts from the real clock again.
    auto at = std::max(txWire, rxWire);
    const auto now = Clock::now();
    if (now - at > t)
        at = now;
    for (std::uint8_t b : bytes) {
        // A byte reaches the PC when its stop bit is through.
        at += t;
        sleepUntil(at);
        if (stop || !writeRaw(&b, 1))
            return false;
        txWire = at;
    }
    return true;
}

bool Terminal::Impl::interruptibleSleep(std::chrono::milliseconds ms)
{
    const auto until = Clock::now() + ms;
    while (!stop) {
        const auto now = Clock::now();
        if (now >= until)
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now, 20ms));
    }
    return false;
}

void Terminal::Impl::disconnect()
{
    // Let the PC take what was already sent: closing the master drops the
    // slave's unread input, while a real line would have delivered it.
    if (keep) {
        std::this_thread::sleep_for(20ms);
        const auto until = Clock::now() + kDrainBeforeDisconnect;
        int pending = 0;
        while (!stop && Clock::now() < until && ::ioctl(keep.get(), TIOCINQ, &pending) == 0 && pending > 0)
            std::this_thread::sleep_for(5ms);
    }
    // Not connected from before the PC can see the port go.
    isConnected = false;
    master.reset();
    keep.reset();
    inbuf.clear();
    pushback.reset();
    changed.notify_all();
}

// Sends a command's answer, spoilt as `plan` says. False when nothing more
// should follow (silence or disconnect).
bool Terminal::Impl::deliver(const Plan& plan, std::vector<std::uint8_t> answer)
{
    if (plan.silence)
        return false;
    if (plan.replace)
        answer.assign(1, *plan.replace);
    if (plan.truncate >= 0 && static_cast<std::size_t>(plan.truncate) < answer.size())
        answer.resize(static_cast<std::size_t>(plan.truncate));
    if (plan.garbage > 0) {
        std::vector<std::uint8_t> noise;
        for (std::size_t i = 0; i < static_cast<std::size_t>(plan.garbage); ++i)
            noise.push_back(static_cast<std::uint8_t>(kGarbage[i % std::strlen(kGarbage)]));
        answer.insert(answer.begin(), noise.begin(), noise.end());
    }
    const std::size_t half = answer.size() / 2;
    std::size_t cut = answer.size() + 1;  // no disconnect
    if (plan.disconnectAfter)
        cut = *plan.disconnectAfter < 0 ? half : std::min<std::size_t>(static_cast<std::size_t>(*plan.disconnectAfter), answer.size());
    const std::size_t pauseAt = plan.pauseMs > 0 ? half : answer.size() + 1;

    std::size_t pos = 0;
    auto sendUpTo = [&](std::size_t end) {
        if (end > pos) {
            std::vector<std::uint8_t> part(answer.begin() + static_cast<std::ptrdiff_t>(pos),
                                           answer.begin() + static_cast<std::ptrdiff_t>(end));
            pos = end;
            return send(part);
        }
        return true;
    };
    if (pauseAt < cut && pauseAt <= answer.size()) {
        if (!sendUpTo(pauseAt) || !interruptibleSleep(std::chrono::milliseconds(plan.pauseMs)))
            return false;
    }
    if (cut <= answer.size()) {
        sendUpTo(cut);
        if (pauseAt == cut)
            interruptibleSleep(std::chrono::milliseconds(plan.pauseMs));
        disconnect();
        return false;
    }
    return sendUpTo(answer.size());
}

// ---------------------------------------------------------------------------
// Faults

std::optional<Fault::Kind> Terminal::Impl::takeOpeningFault()
{
    std::lock_guard lock(mutex);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        const Fault::Kind kind = it->fault.kind;
        if (kind != Fault::SilenceOnOpen && kind != Fault::NakOnOpen)
            continue;
        if (it->times > 0 && --it->times == 0)
            faults.erase(it);
        return kind;
    }
    return std::nullopt;
}

Plan Terminal::Impl::takeFaults(char letter)
{
    Plan plan;
    std::lock_guard lock(mutex);
    for (auto it = faults.begin(); it != faults.end();) {
        const Fault& f = it->fault;
        if (f.kind == Fault::SilenceOnOpen || f.kind == Fault::NakOnOpen || (f.letter != 0 && f.letter != letter)) {
            ++it;
            continue;
        }
        switch (f.kind) {
        case Fault::Silence: plan.silence = true; break;
        case Fault::Nak: plan.replace = NAK; break;
        case Fault::OtherByte: plan.replace = static_cast<std::uint8_t>(f.param < 0 ? 'X' : f.param & 0xFF); break;
        case Fault::BadChecksum: plan.badChecksum = true; break;
        case Fault::ResultOne: plan.result = '1'; break;
        case Fault::ResultOther: plan.result = static_cast<std::uint8_t>(f.param < 0 ? '7' : f.param & 0xFF); break;
        case Fault::NoResult: plan.noResult = true; break;
        case Fault::Truncate: plan.truncate = std::max(0, f.param); break;
        case Fault::Garbage: plan.garbage = f.param < 0 ? 3 : f.param; break;
        case Fault::Pause: plan.pauseMs = f.param < 0 ? 500 : f.param; break;
        case Fault::Disconnect: plan.disconnectAfter = f.param; break;
        case Fault::SilenceOnOpen:
        case Fault::NakOnOpen: break;
        }
        if (it->times > 0 && --it->times == 0)
            it = faults.erase(it);
        else
            ++it;
    }
    return plan;
}

// ---------------------------------------------------------------------------
// Command exchanges

void Terminal::Impl::serveCommand()
{
    {
        std::lock_guard lock(mutex);
        ++openings;
    }
    if (const auto opening = takeOpeningFault()) {
        if (*opening == Fault::NakOnOpen)
            send({NAK});
        return;
    }
    if (!send({ACK}))
        return;
    const int first = readByte(Clock::now() + kFrameByteTimeout);
    if (first < 0)
        return;
    if (first == SOH) {
        unread(SOH);
        return;
    }
    const int second = readByte(Clock::now() + kFrameByteTimeout);
    if (second < 0)
        return;
    if (second == SOH) {
        unread(SOH);
        return;
    }
    if (first != second)
        return;  // not a command: the letter always comes twice
    const char letter = static_cast<char>(first);
    {
        std::lock_guard lock(mutex);
        ++counts[static_cast<std::uint8_t>(first)];
    }
    changed.notify_all();
    const Plan plan = takeFaults(letter);

    switch (letter) {
    case 'a': readRegister(plan); break;
    case 'b': writeRegister(plan); break;
    case 'D': acknowledgedText(plan, 14, letter); break;
    case 'e':
    case 'i': idFrame(plan, letter); break;
    case 'j': {
        std::vector<std::uint8_t> line;
        {
            std::lock_guard lock(mutex);
            append(line, idtNum);
        }
        line.push_back(CR);
        deliver(plan, line);
        break;
    }
    case 'k':
    case 'M':
    case 'P':
    case 'r':
    case 'T': {
        {
            std::lock_guard lock(mutex);
            if (letter == 'k') {
                ids.clear();
                idCursor = 0;
            } else if (letter == 'r') {
                idCursor = 0;
            } else if (letter == 'M') {
                message.clear();
            }
        }
        deliver(plan, {});  // opening only; a disconnect still applies
        break;
    }
    case 's':
    case 'v':
    case 'w': upload(plan, letter); break;
    case 'S': {
        std::vector<std::uint8_t> block;
        {
            std::lock_guard lock(mutex);
            block = statusBlockLocked();
        }
        deliver(plan, block);
        break;
    }
    case 't':
    case 'u': textFrame(plan, letter); break;
    default: acknowledgedText(plan, 24, letter); break;
    }
}

void Terminal::Impl::readRegister(const Plan& plan)
{
    std::vector<std::uint8_t> req;
    if (!readFrame(3, req))
        return;
    const long address = hexNumber(req.data(), 2);
    if (address < 0 || checksum(req.data(), 2) != req[2]) {
        deliver(plan, {NAK});
        return;
    }
    std::string digits;
    {
        std::lock_guard lock(mutex);
        digits = hex(words[static_cast<std::size_t>(address)], 4, lowerHex);
    }
    std::vector<std::uint8_t> answer{ACK};  // lead byte
    append(answer, digits);
    std::uint8_t sum = checksum(digits);
    if (plan.badChecksum)
        sum ^= 0x01;
    answer.push_back(sum);
    deliver(plan, answer);
}

void Terminal::Impl::writeRegister(const Plan& plan)
{
    std::vector<std::uint8_t> req;
    if (!readFrame(7, req))
        return;
    const long address = hexNumber(req.data(), 2);
    const long value = hexNumber(req.data() + 2, 4);
    if (address < 0 || value < 0 || checksum(req.data(), 6) != req[6]) {
        deliver(plan, {NAK});
        return;
    }
    {
        std::lock_guard lock(mutex);
        words[static_cast<std::size_t>(address)] = static_cast<std::uint16_t>(value);
    }
    deliver(plan, {ACK});
}

// "D" (the clock) and text messages: `length` characters and a checksum,
// answered by ACK, or NAK when the checksum is wrong.
void Terminal::Impl::acknowledgedText(const Plan& plan, std::size_t length, char letter)
{
    std::vector<std::uint8_t> req;
    if (!readFrame(length + 1, req))
        return;
    if (checksum(req.data(), length) != req[length]) {
        deliver(plan, {NAK});
        return;
    }
    const std::string text(req.begin(), req.begin() + static_cast<std::ptrdiff_t>(length));
    {
        std::lock_guard lock(mutex);
        if (letter == 'D') {
            lastClock = text;
            clock = text;
        } else {
            message = text;
            messageLetter = letter;
        }
    }
    deliver(plan, {ACK});
}

// ACK and the result character of a confirmed frame.
std::vector<std::uint8_t> Terminal::Impl::confirmation(const Plan& plan, bool done) const
{
    std::vector<std::uint8_t> answer{ACK};
    if (!plan.noResult)
        answer.push_back(plan.result.value_or(done ? '0' : '1'));
    return answer;
}

// "i" adds, "e" deletes one identification element: 14 digits, 2 digits of
// the access byte, ETX, checksum.
void Terminal::Impl::idFrame(const Plan& plan, char letter)
{
    std::vector<std::uint8_t> req;
    if (!readFrame(18, req))
        return;
    if (req[16] != ETX || checksum(req.data(), 17) != req[17]) {
        deliver(plan, {NAK});
        return;
    }
    const bool wellFormed = std::all_of(req.begin(), req.begin() + 16, isHexDigit);
    if (wellFormed) {
        const std::string id = upper(std::string(req.begin(), req.begin() + 14));
        const auto access = static_cast<std::uint8_t>(hexNumber(req.data() + 14, 2));
        std::lock_guard lock(mutex);
        auto it = std::find_if(ids.begin(), ids.end(), [&](const IdElement& e) { return e.wireId == id; });
        if (letter == 'i') {
            if (it != ids.end())
                it->access = access;
            else
                ids.push_back({id, access});
        } else if (it != ids.end()) {
            const auto index = static_cast<std::size_t>(it - ids.begin());
            ids.erase(it);
            if (idCursor > index)
                --idCursor;
        }
    }
    deliver(plan, confirmation(plan, wellFormed));
}

// "t" and "u": a text of any length, ETX, checksum over both.
void Terminal::Impl::textFrame(const Plan& plan, char letter)
{
    std::vector<std::uint8_t> req;
    for (;;) {
        const int b = readByte(Clock::now() + kFrameByteTimeout);
        if (b < 0)
            return;
        if (b == SOH) {
            unread(SOH);
            return;
        }
        req.push_back(static_cast<std::uint8_t>(b));
        if (b == ETX)
            break;
        if (req.size() > kMaxTextFrame) {
            deliver(plan, {NAK});
            return;
        }
    }
    const int sum = readByte(Clock::now() + kFrameByteTimeout);
    if (sum < 0)
        return;
    if (checksum(req.data(), req.size()) != sum) {
        deliver(plan, {NAK});
        return;
    }
    {
        std::lock_guard lock(mutex);
        std::string text(req.begin(), req.end() - 1);
        (letter == 't' ? dayTypesIn : weekTypesIn).push_back(std::move(text));
    }
    deliver(plan, confirmation(plan, true));
}

// "s", "v", "w": one record (or EOT), then the PC's ACK or NAK; only ACK
// moves on to the next record.
void Terminal::Impl::upload(const Plan& plan, char letter)
{
    std::vector<std::uint8_t> answer;
    bool hasRecord = false;
    {
        std::lock_guard lock(mutex);
        std::string text;
        if (letter == 's' && idCursor < ids.size()) {
            const IdElement& e = ids[idCursor];
            text = std::to_string(sequenceBase + static_cast<int>(idCursor)) + "/" + e.wireId + hex(e.access, 2, false);
            hasRecord = true;
        } else if (letter != 's') {
            const auto& queue = letter == 'v' ? dayQueue : weekQueue;
            if (!queue.empty()) {
                text = queue.front();
                hasRecord = true;
            }
        }
        if (hasRecord) {
            append(answer, text);
            answer.push_back(ETX);
            std::uint8_t sum = checksum(text);
            if (plan.badChecksum)
                sum ^= 0x01;
            answer.push_back(sum);
        } else {
            answer.push_back(EOT);
        }
        uploadAnswer = 0;
    }
    if (!deliver(plan, answer))
        return;
    int reply = readByte(Clock::now() + kUploadAnswerTimeout);
    if (reply == SOH) {
        unread(SOH);
        reply = 0;
    }
    std::lock_guard lock(mutex);
    uploadAnswer = reply > 0 ? static_cast<std::uint8_t>(reply) : 0;
    if (reply == ACK && hasRecord) {
        if (letter == 's')
            ++idCursor;
        else
            (letter == 'v' ? dayQueue : weekQueue).pop_front();
    }
    changed.notify_all();
}

std::vector<std::uint8_t> Terminal::Impl::statusBlockLocked() const
{
    std::vector<std::uint8_t> b;
    append(b, "FW:");
    append(b, firmware);
    b.push_back(CR);
    append(b, "CL:");
    append(b, clock);
    b.push_back(CR);
    append(b, "IB:");
    append(b, inBuffer);
    b.push_back(CR);
    b.resize(46, ' ');
    return b;
}

// ---------------------------------------------------------------------------
// On-line blocks

void Terminal::Impl::finishBlock(BlockAnswer answer, std::uint8_t byte)
{
    {
        std::lock_guard lock(mutex);
        running.answer = answer;
        history.push_back(std::move(running));
        running = {};
        blockAnswer = answer;
        blockAnswerByte = byte;
        blockRunning = false;
        ++blocksSent;
    }
    changed.notify_all();
}

void Terminal::Impl::failQueuedBlocks()
{
    std::lock_guard lock(mutex);
    flood.reset();  // nobody to send to any more
    if (blocks.empty())
        return;
    blocks.clear();
    blockAnswer = BlockAnswer::None;
    blockAnswerByte = 0;
    changed.notify_all();
}

// A block of well-formed event records: ddmmy hhmm source card terminal.
Terminal::Impl::Block Terminal::Impl::makeFloodBlockLocked()
{
    const Flood& f = *flood;
    const int low = std::clamp(f.minRecords, 1, 50);
    const int high = std::clamp(f.maxRecords, low, 50);
    const int count = std::uniform_int_distribution<int>(low, high)(floodRng);
    auto pick = [&](int from, int to) { return std::uniform_int_distribution<int>(from, to)(floodRng); };
    std::vector<std::string> records;
    for (int i = 0; i < count; ++i) {
        char r[32];
        std::snprintf(r, sizeof r, "%02d%02d%d%02d%02d%X%08X%d", pick(1, 28), pick(1, 12), pick(0, 9), pick(0, 23),
                      pick(0, 59), pick(0, 15), static_cast<unsigned>(floodRng() & 0xFFFFFFFFu), pick(0, 9));
        records.emplace_back(r);
    }
    const char kind = f.kind == 'S' || f.kind == 'V' ? f.kind : (pick(0, 1) ? 'V' : 'S');
    BlockOptions options;
    options.answerTimeout = f.answerTimeout;
    return Block{kind, static_cast<std::uint8_t>(kind), onlineBlockBody(records, options), options, records};
}

void Terminal::Impl::serveBlock(Block block)
{
    running = {};
    running.kind = block.kind;
    running.records = block.records;
    if (!send({SOH, block.header})) {
        finishBlock(BlockAnswer::None, 0);
        return;
    }
    auto waitAnswer = [&](Clock::time_point deadline) -> int {
        const int b = readByte(deadline);
        if (b == SOH)
            unread(SOH);  // the PC opens a command: it is not taking our block
        return b;
    };
    const auto deadline = [&] { return Clock::now() + block.options.answerTimeout; };
    if (block.kind == 'V' && !block.options.noAckWait) {
        const int b = waitAnswer(deadline());
        if (b != ACK) {
            finishBlock(b == NAK ? BlockAnswer::Nak : b >= 0 ? BlockAnswer::Other : BlockAnswer::None,
                        b >= 0 ? static_cast<std::uint8_t>(b) : 0);
            return;
        }
    }
    bool sent = true;
    if (block.options.byteGap.count() > 0) {
        for (std::size_t i = 0; sent && i < block.body.size(); ++i)
            sent = interruptibleSleep(block.options.byteGap) && send({block.body[i]});
    } else {
        sent = send(block.body);
    }
    if (!sent) {
        finishBlock(BlockAnswer::None, 0);
        return;
    }
    const int b = waitAnswer(deadline());
    if (b == ACK)
        finishBlock(BlockAnswer::Ack, ACK);
    else if (b == NAK)
        finishBlock(BlockAnswer::Nak, NAK);
    else if (b >= 0)
        finishBlock(BlockAnswer::Other, static_cast<std::uint8_t>(b));
    else
        finishBlock(BlockAnswer::None, 0);
}

// ---------------------------------------------------------------------------
// Public face

Terminal::Terminal() : d(std::make_unique<Impl>()) {}

Terminal::~Terminal() = default;

std::string Terminal::slavePath() const { return d->slave; }

bool Terminal::connected() const { return d->isConnected; }

void Terminal::setWireTiming(int baud) { d->baud = std::max(0, baud); }

void Terminal::setWord(int address, std::uint16_t value)
{
    std::lock_guard lock(d->mutex);
    d->words.at(static_cast<std::size_t>(address & 0xFF)) = value;
}

std::uint16_t Terminal::word(int address) const
{
    std::lock_guard lock(d->mutex);
    return d->words.at(static_cast<std::size_t>(address & 0xFF));
}

void Terminal::setLowerCaseHex(bool lower)
{
    std::lock_guard lock(d->mutex);
    d->lowerHex = lower;
}

void Terminal::setStatus(const std::string& firmware, const std::string& clock, const std::string& inBuffer)
{
    std::lock_guard lock(d->mutex);
    d->firmware = firmware;
    d->clock = clock;
    d->inBuffer = inBuffer;
}

void Terminal::setFirmware(const std::string& text)
{
    std::lock_guard lock(d->mutex);
    d->firmware = text;
}

void Terminal::setClock(const std::string& text)
{
    std::lock_guard lock(d->mutex);
    d->clock = text;
}

void Terminal::setInBuffer(const std::string& text)
{
    std::lock_guard lock(d->mutex);
    d->inBuffer = text;
}

std::vector<std::uint8_t> Terminal::statusBlock() const
{
    std::lock_guard lock(d->mutex);
    return d->statusBlockLocked();
}

std::string Terminal::lastClockText() const
{
    std::lock_guard lock(d->mutex);
    return d->lastClock;
}

void Terminal::setIdtNumText(const std::string& text)
{
    std::lock_guard lock(d->mutex);
    d->idtNum = text;
}

std::vector<IdElement> Terminal::idTable() const
{
    std::lock_guard lock(d->mutex);
    return d->ids;
}

void Terminal::addIdElement(const std::string& wireId, std::uint8_t access)
{
    const std::string id = upper(wireId);
    std::lock_guard lock(d->mutex);
    auto it = std::find_if(d->ids.begin(), d->ids.end(), [&](const IdElement& e) { return e.wireId == id; });
    if (it != d->ids.end())
        it->access = access;
    else
        d->ids.push_back({id, access});
}

void Terminal::clearIdTable()
{
    std::lock_guard lock(d->mutex);
    d->ids.clear();
    d->idCursor = 0;
}

void Terminal::setSequenceBase(int base)
{
    std::lock_guard lock(d->mutex);
    d->sequenceBase = base;
}

std::string Terminal::reverseIdBytes(const std::string& digits)
{
    std::string out;
    for (std::size_t i = digits.size() / 2; i > 0; --i)
        out += digits.substr(2 * (i - 1), 2);
    return out;
}

std::vector<std::string> Terminal::receivedDayTypes() const
{
    std::lock_guard lock(d->mutex);
    return d->dayTypesIn;
}

std::vector<std::string> Terminal::receivedWeekTypes() const
{
    std::lock_guard lock(d->mutex);
    return d->weekTypesIn;
}

void Terminal::queueDayTypeRecord(const std::string& record)
{
    std::lock_guard lock(d->mutex);
    d->dayQueue.push_back(record);
}

void Terminal::queueWeekTypeRecord(const std::string& record)
{
    std::lock_guard lock(d->mutex);
    d->weekQueue.push_back(record);
}

std::uint8_t Terminal::lastUploadAnswer() const
{
    std::lock_guard lock(d->mutex);
    return d->uploadAnswer;
}

std::string Terminal::lastMessage() const
{
    std::lock_guard lock(d->mutex);
    return d->message;
}

char Terminal::lastMessageLetter() const
{
    std::lock_guard lock(d->mutex);
    return d->messageLetter;
}

std::vector<std::uint8_t> Terminal::received() const
{
    std::lock_guard lock(d->mutex);
    return d->rx;
}

void Terminal::clearReceived()
{
    std::lock_guard lock(d->mutex);
    d->rx.clear();
}

std::vector<std::uint8_t> Terminal::transmitted() const
{
    std::lock_guard lock(d->mutex);
    return d->tx;
}

void Terminal::clearTransmitted()
{
    std::lock_guard lock(d->mutex);
    d->tx.clear();
}

int Terminal::commandCount(char letter) const
{
    std::lock_guard lock(d->mutex);
    return d->counts[static_cast<std::uint8_t>(letter)];
}

int Terminal::openingCount() const
{
    std::lock_guard lock(d->mutex);
    return d->openings;
}

bool Terminal::waitForCommand(char letter, int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, timeout, [&] { return d->counts[static_cast<std::uint8_t>(letter)] >= count; });
}

void Terminal::injectFault(Fault fault, int times)
{
    if (times == 0)
        return;
    std::lock_guard lock(d->mutex);
    d->faults.push_back({fault, times < 0 ? kPersistent : times});
}

void Terminal::clearFaults()
{
    std::lock_guard lock(d->mutex);
    d->faults.clear();
}

void Terminal::sendOnlineBlock(char kind, const std::vector<std::string>& records, BlockOptions options)
{
    Impl::Block block{kind, options.kindByte.value_or(static_cast<std::uint8_t>(kind)),
                      onlineBlockBody(records, options), options, records};
    {
        std::lock_guard lock(d->mutex);
        d->blocks.push_back(std::move(block));
        d->blockAnswer = BlockAnswer::Pending;
        d->blockAnswerByte = 0;
    }
    d->wake();
}

BlockAnswer Terminal::lastBlockAnswer() const
{
    std::lock_guard lock(d->mutex);
    return d->blocks.empty() && !d->blockRunning ? d->blockAnswer : BlockAnswer::Pending;
}

std::uint8_t Terminal::lastBlockAnswerByte() const
{
    std::lock_guard lock(d->mutex);
    return d->blockAnswerByte;
}

bool Terminal::waitBlockDone(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, timeout, [&] { return d->blocks.empty() && !d->blockRunning; });
}

int Terminal::blocksSent() const
{
    std::lock_guard lock(d->mutex);
    return d->blocksSent;
}

std::vector<Terminal::SentBlock> Terminal::blockHistory() const
{
    std::lock_guard lock(d->mutex);
    return d->history;
}

void Terminal::clearBlockHistory()
{
    std::lock_guard lock(d->mutex);
    d->history.clear();
}

std::vector<Terminal::SentBlock> Terminal::takeBlockHistory()
{
    std::lock_guard lock(d->mutex);
    return std::exchange(d->history, {});
}

void Terminal::setLineNoise(const LineNoise& noise)
{
    std::lock_guard lock(d->mutex);
    d->noise = noise;
    d->noiseRng.seed(noise.seed);
    d->noiseCounts = {};
}

void Terminal::clearLineNoise()
{
    std::lock_guard lock(d->mutex);
    d->noise.reset();
}

LineNoiseCounts Terminal::lineNoiseCounts() const
{
    std::lock_guard lock(d->mutex);
    return d->noiseCounts;
}

void Terminal::startFlood(const Flood& flood)
{
    {
        std::lock_guard lock(d->mutex);
        d->flood = flood;
        d->floodRng.seed(flood.seed);
        d->nextFloodAt = Clock::now();
    }
    d->wake();
}

void Terminal::stopFlood()
{
    std::lock_guard lock(d->mutex);
    d->flood.reset();
}

bool Terminal::flooding() const
{
    std::lock_guard lock(d->mutex);
    return d->flood.has_value();
}

void Terminal::disconnectNow()
{
    d->disconnectRequested = true;
    d->wake();
}

}  // namespace rk40sim
