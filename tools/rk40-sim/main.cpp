// rk40-sim: an RK-40 terminal on a pseudo-terminal, driven by commands on
// standard input (or left alone with --serve). See README.md.

#include "rk40sim/Terminal.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using rk40sim::BlockAnswer;
using rk40sim::BlockOptions;
using rk40sim::Fault;
using rk40sim::Terminal;

const char* const kUsage =
    "usage: rk40-sim [--link PATH] [--wire-timing BAUD] [--keys KEYS.csv] [--script FILE] [--serve]\n"
    "\n"
    "Simulates an RK-40 terminal on a pseudo-terminal. The first line on standard\n"
    "output is the device to open. Without --serve, commands are read from standard\n"
    "input, one a line, until end of input or \"quit\"; each command answers with\n"
    "its data lines and then \"ok\" or \"error: ...\".\n"
    "\n"
    "  --link PATH         make PATH a symbolic link to the device (replaces a link)\n"
    "  --wire-timing BAUD  pace the line as a real one at BAUD (8N1)\n"
    "  --keys KEYS.csv     start with the keys of a key file (id,access,name)\n"
    "  --script FILE       run the commands of FILE before announcing the device\n"
    "  --serve             read no commands; run until SIGTERM or SIGINT (SIGUSR1\n"
    "                      prints the key table)\n"
    "  --help              this text\n"
    "\n"
    "Commands: word ADDR VALUE, get ADDR, dump, status FIRMWARE CLOCK INBUFFER,\n"
    "firmware TEXT, clock TEXT, inbuffer TEXT, idnum TEXT, id-add WIREID ACCESS,\n"
    "id-clear, ids, keys, daytype RECORD, weektype RECORD, fault NAME [PARAM] [TIMES|always]\n"
    "[letter=L], clear-faults, online [OPTIONS] S|V RECORD..., flood [SEED] [MAX] [GAPMS],\n"
    "stop-flood, wire-timing BAUD,\n"
    "show, counts, received, clear-received, help, quit. See README.md.\n";

int g_signalPipe[2] = {-1, -1};

// 1: end the program; 2: print the key table.
extern "C" void onSignal(int signal)
{
    const char c = signal == SIGUSR1 ? 2 : 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// The identification table as a key file: the header, then one line per
// key, id in the order a container writes it, access in decimal.
std::string keyFile(const Terminal& terminal)
{
    std::string out = "id,access,name\n";
    for (const auto& e : terminal.idTable())
        out += Terminal::reverseIdBytes(e.wireId) + "," + std::to_string(e.access) + ",\n";
    return out;
}

bool isHex(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// Loads a key file (id,access[,name]; the header line and blank lines are
// skipped). Returns the fault, or "" when every key was taken.
std::string loadKeys(Terminal& terminal, const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        return "cannot read " + path;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.rfind("id,", 0) == 0)
            continue;
        const auto comma = line.find(',');
        const auto end = line.find(',', comma == std::string::npos ? comma : comma + 1);
        const std::string id = line.substr(0, comma);
        const std::string access = comma == std::string::npos ? std::string() : line.substr(comma + 1, end - comma - 1);
        const auto value = access.empty() ? std::nullopt : std::optional<long>(std::strtol(access.c_str(), nullptr, 10));
        if (id.size() != 14 || !isHex(id) || access.find_first_not_of("0123456789") != std::string::npos || !value
            || *value > 255)
            return path + ":" + std::to_string(number) + ": not a key line (id of 14 hexadecimal digits, access 0..255)";
        std::string upper = id;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        terminal.addIdElement(Terminal::reverseIdBytes(upper), static_cast<std::uint8_t>(*value));
    }
    return {};
}

// Splits a line into words; "double quotes" keep blanks inside one word.
std::vector<std::string> tokens(const std::string& line)
{
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    bool have = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            have = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
            if (have)
                out.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        out.push_back(cur);
    return out;
}

std::optional<long> number(const std::string& text, int base)
{
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return v;
}

// Everything after the command word, as written.
std::string rest(const std::string& line)
{
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos)
        return {};
    const auto gap = line.find_first_of(" \t", start);
    if (gap == std::string::npos)
        return {};
    const auto text = line.find_first_not_of(" \t", gap);
    return text == std::string::npos ? std::string() : line.substr(text);
}

std::string hex4(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
    return buf;
}

const char* answerName(BlockAnswer a)
{
    switch (a) {
    case BlockAnswer::Pending: return "pending";
    case BlockAnswer::Ack: return "ACK";
    case BlockAnswer::Nak: return "NAK";
    case BlockAnswer::None: return "none";
    case BlockAnswer::Other: return "other";
    }
    return "?";
}

class Shell {
public:
    explicit Shell(Terminal& terminal) : m_terminal(terminal) {}

    // Output goes to `out` from now on (nullptr: discarded).
    void setOutput(std::ostream* out) { m_out = out; }
    std::string lastError() const { return m_lastError; }

    // Runs one command line; false for "quit".
    bool execute(const std::string& line)
    {
        m_lastError.clear();
        const std::vector<std::string> w = tokens(line);
        if (w.empty() || w[0][0] == '#')
            return true;
        std::string error;
        bool quit = false;
        try {
            error = dispatch(w, line, quit);
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (quit)
            return false;
        m_lastError = error;
        out() << (error.empty() ? std::string("ok") : "error: " + error) << std::endl;
        return true;
    }

private:
    std::string dispatch(const std::vector<std::string>& w, const std::string& line, bool& quit)
    {
        const std::string& cmd = w[0];
        const std::size_t args = w.size() - 1;
        if (cmd == "quit" || cmd == "exit") {
            quit = true;
            return {};
        }
        if (cmd == "help") {
            out() << kUsage;
            return {};
        }
        if (cmd == "word") {
            if (args != 2)
                return "usage: word ADDR VALUE (ADDR decimal or 0x.., VALUE hexadecimal)";
            const auto addr = number(w[1], 0);
            const auto value = number(w[2], 16);
            if (!addr || *addr < 0 || *addr > 255)
                return "address must be 0..255";
            if (!value || *value < 0 || *value > 0xFFFF)
                return "value must be 0..FFFF";
            m_terminal.setWord(static_cast<int>(*addr), static_cast<std::uint16_t>(*value));
            return {};
        }
        if (cmd == "get") {
            const auto addr = args == 1 ? number(w[1], 0) : std::nullopt;
            if (!addr || *addr < 0 || *addr > 255)
                return "usage: get ADDR (0..255)";
            out() << *addr << ' ' << hex4(m_terminal.word(static_cast<int>(*addr))) << '\n';
            return {};
        }
        if (cmd == "dump") {
            for (int a = 10; a <= 39; ++a)
                out() << a << ' ' << hex4(m_terminal.word(a)) << '\n';
            return {};
        }
        if (cmd == "status") {
            if (args != 3)
                return "usage: status FIRMWARE CLOCK INBUFFER (quote texts with blanks)";
            m_terminal.setStatus(w[1], w[2], w[3]);
            return {};
        }
        if (cmd == "firmware") {
            m_terminal.setFirmware(rest(line));
            return {};
        }
        if (cmd == "clock") {
            m_terminal.setClock(rest(line));
            return {};
        }
        if (cmd == "inbuffer") {
            m_terminal.setInBuffer(rest(line));
            return {};
        }
        if (cmd == "idnum") {
            m_terminal.setIdtNumText(rest(line));
            return {};
        }
        if (cmd == "id-add") {
            const auto access = args == 2 ? number(w[2], 16) : std::nullopt;
            if (args != 2 || w[1].size() != 14 || !number(w[1].substr(0, 7), 16) || !number(w[1].substr(7), 16))
                return "usage: id-add WIREID ACCESS (14 hexadecimal digits in wire order, access in hexadecimal)";
            if (!access || *access < 0 || *access > 255)
                return "access must be 00..FF";
            m_terminal.addIdElement(w[1], static_cast<std::uint8_t>(*access));
            return {};
        }
        if (cmd == "id-clear") {
            m_terminal.clearIdTable();
            return {};
        }
        if (cmd == "ids") {
            for (const auto& e : m_terminal.idTable()) {
                char acc[4];
                std::snprintf(acc, sizeof acc, "%02X", e.access);
                out() << e.wireId << ' ' << acc << '\n';
            }
            return {};
        }
        if (cmd == "keys") {
            out() << keyFile(m_terminal);
            return {};
        }
        if (cmd == "daytype" || cmd == "weektype") {
            const std::string record = rest(line);
            if (record.empty())
                return "usage: " + cmd + " RECORD";
            if (cmd == "daytype")
                m_terminal.queueDayTypeRecord(record);
            else
                m_terminal.queueWeekTypeRecord(record);
            return {};
        }
        if (cmd == "fault")
            return fault(w);
        if (cmd == "clear-faults") {
            m_terminal.clearFaults();
            return {};
        }
        if (cmd == "online")
            return online(w);
        if (cmd == "flood") {
            // flood [SEED] [MAXRECORDS] [GAPMS]: blocks of random event records, back to back.
            rk40sim::Flood flood;
            const auto seed = args >= 1 ? number(w[1], 10) : std::optional<long>(1);
            const auto most = args >= 2 ? number(w[2], 10) : std::optional<long>(32);
            const auto gap = args >= 3 ? number(w[3], 10) : std::optional<long>(0);
            if (args > 3 || !seed || !most || *most < 1 || *most > 50 || !gap || *gap < 0)
                return "usage: flood [SEED] [MAXRECORDS 1..50] [GAPMS]";
            flood.seed = static_cast<std::uint64_t>(*seed);
            flood.maxRecords = static_cast<int>(*most);
            flood.gap = std::chrono::milliseconds(*gap);
            m_terminal.startFlood(flood);
            return {};
        }
        if (cmd == "stop-flood") {
            m_terminal.stopFlood();
            return {};
        }
        if (cmd == "wire-timing") {
            const auto baud = args == 1 ? number(w[1], 10) : std::nullopt;
            if (!baud || *baud < 0 || *baud > 4'000'000)
                return "usage: wire-timing BAUD (0: off)";
            m_terminal.setWireTiming(static_cast<int>(*baud));
            return {};
        }
        if (cmd == "show") {
            out() << "clock " << m_terminal.lastClockText() << '\n';
            const char letter = m_terminal.lastMessageLetter();
            out() << "message " << (letter ? std::string(1, letter) : std::string("-")) << " \""
                      << m_terminal.lastMessage() << "\"\n";
            for (const auto& t : m_terminal.receivedDayTypes())
                out() << "daytype " << t << '\n';
            for (const auto& t : m_terminal.receivedWeekTypes())
                out() << "weektype " << t << '\n';
            return {};
        }
        if (cmd == "counts") {
            out() << "openings " << m_terminal.openingCount() << '\n';
            for (int c = 1; c < 256; ++c) {
                const int n = m_terminal.commandCount(static_cast<char>(c));
                if (n > 0) {
                    if (c > 0x20 && c < 0x7F)
                        out() << static_cast<char>(c) << ' ' << n << '\n';
                    else
                        out() << "0x" << std::hex << c << std::dec << ' ' << n << '\n';
                }
            }
            return {};
        }
        if (cmd == "received") {
            const auto bytes = m_terminal.received();
            std::string dump;
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                char b[4];
                std::snprintf(b, sizeof b, "%02X", bytes[i]);
                dump += b;
                dump += (i % 16 == 15 || i + 1 == bytes.size()) ? '\n' : ' ';
            }
            out() << dump;
            return {};
        }
        if (cmd == "clear-received") {
            m_terminal.clearReceived();
            return {};
        }
        return "unknown command \"" + cmd + "\" (try help)";
    }

    std::string fault(const std::vector<std::string>& w)
    {
        if (w.size() < 2)
            return "usage: fault NAME [PARAM] [TIMES|always] [letter=L]";
        const auto kind = rk40sim::faultFromName(w[1]);
        if (!kind)
            return "unknown fault \"" + w[1] +
                   "\" (silence-open, nak-open, silence, nak, other, bad-checksum, result-1, "
                   "result-other, no-result, truncate, garbage, pause, disconnect)";
        Fault f{*kind, -1, 0};
        int times = 1;
        std::vector<std::string> positional;
        for (std::size_t i = 2; i < w.size(); ++i) {
            if (w[i].rfind("letter=", 0) == 0) {
                if (w[i].size() != 8)
                    return "letter= takes one character";
                f.letter = w[i][7];
            } else {
                positional.push_back(w[i]);
            }
        }
        if (positional.size() > 2)
            return "too many arguments";
        if (!positional.empty()) {
            // A single character stands for its byte (fault other X).
            const std::string& p = positional[0];
            const auto v = number(p, 0);
            if (v)
                f.param = static_cast<int>(*v);
            else if (p.size() == 1)
                f.param = static_cast<unsigned char>(p[0]);
            else
                return "bad parameter \"" + p + "\"";
        }
        if (positional.size() == 2) {
            if (positional[1] == "always") {
                times = rk40sim::kPersistent;
            } else {
                const auto v = number(positional[1], 10);
                if (!v || *v < 1 || *v > 1'000'000)
                    return "TIMES must be a positive number or \"always\"";
                times = static_cast<int>(*v);
            }
        }
        m_terminal.injectFault(f, times);
        return {};
    }

    std::string online(const std::vector<std::string>& w)
    {
        BlockOptions options;
        std::size_t i = 1;
        for (; i < w.size() && w[i].rfind("--", 0) == 0; ++i) {
            const std::string& o = w[i];
            if (o == "--bad-checksum")
                options.badChecksum = true;
            else if (o == "--no-stx")
                options.omitStx = true;
            else if (o == "--high-bytes")
                options.highBytes = true;
            else if (o == "--control-bytes")
                options.controlBytes = true;
            else if (o == "--no-ack-wait")
                options.noAckWait = true;
            else if (o.rfind("--kind=", 0) == 0 && o.size() == 8)
                options.kindByte = static_cast<std::uint8_t>(o[7]);
            else if (o.rfind("--stop=", 0) == 0 && number(o.substr(7), 10))
                options.stopAfter = static_cast<int>(*number(o.substr(7), 10));
            else if (o.rfind("--extra=", 0) == 0 && number(o.substr(8), 10))
                options.extraData = static_cast<int>(*number(o.substr(8), 10));
            else if (o.rfind("--timeout=", 0) == 0 && number(o.substr(10), 10))
                options.answerTimeout = std::chrono::milliseconds(*number(o.substr(10), 10));
            else
                return "unknown option \"" + o + "\"";
        }
        if (i >= w.size() || (w[i] != "S" && w[i] != "V"))
            return "usage: online [--bad-checksum] [--no-stx] [--high-bytes] [--control-bytes] "
                   "[--no-ack-wait] [--kind=C] [--stop=N] [--extra=N] [--timeout=MS] S|V RECORD...";
        const char kind = w[i][0];
        const std::vector<std::string> records(w.begin() + static_cast<std::ptrdiff_t>(i) + 1, w.end());
        m_terminal.sendOnlineBlock(kind, records, options);
        m_terminal.waitBlockDone(options.answerTimeout * 3 + std::chrono::seconds(30));
        const BlockAnswer a = m_terminal.lastBlockAnswer();
        out() << "answer " << answerName(a);
        if (a == BlockAnswer::Other) {
            char b[8];
            std::snprintf(b, sizeof b, " 0x%02X", m_terminal.lastBlockAnswerByte());
            out() << b;
        }
        out() << '\n';
        return {};
    }

    std::ostream& out() { return m_out ? *m_out : m_discard; }

    Terminal& m_terminal;
    std::ostream* m_out = &std::cout;
    std::ostream m_discard{nullptr};
    std::string m_lastError;
};

bool makeLink(const std::string& link, const std::string& target)
{
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::cerr << "rk40-sim: " << link << " exists and is not a symbolic link\n";
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        std::cerr << "rk40-sim: cannot link " << link << ": " << std::strerror(errno) << '\n';
        return false;
    }
    return true;
}

// Removes the link if it still points to our device.
void removeLink(const std::string& link, const std::string& target)
{
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    std::string link;
    std::string script;
    std::string keys;
    int baud = 0;
    bool serve = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--serve") {
            serve = true;
        } else if (a == "--script" && i + 1 < argc) {
            script = argv[++i];
        } else if (a == "--keys" && i + 1 < argc) {
            keys = argv[++i];
        } else if (a == "--link" && i + 1 < argc) {
            link = argv[++i];
        } else if (a == "--wire-timing" && i + 1 < argc) {
            const auto v = number(argv[++i], 10);
            if (!v || *v < 0 || *v > 4'000'000) {
                std::cerr << "rk40-sim: bad baud rate \"" << argv[i] << "\"\n";
                return 2;
            }
            baud = static_cast<int>(*v);
        } else {
            std::cerr << "rk40-sim: unknown argument \"" << a << "\"\n" << kUsage;
            return 2;
        }
    }

    if (::pipe(g_signalPipe) != 0) {
        std::perror("rk40-sim: pipe");
        return 1;
    }
    for (int fd : g_signalPipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    ::sigaction(SIGUSR1, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::optional<Terminal> terminal;
    try {
        terminal.emplace();
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    terminal->setWireTiming(baud);
    const std::string device = terminal->slavePath();
    // The script runs before the device is announced, so that a reader of
    // the first line finds the terminal set up.
    if (!keys.empty()) {
        if (const std::string fault = loadKeys(*terminal, keys); !fault.empty()) {
            std::cerr << "rk40-sim: " << fault << '\n';
            return 1;
        }
    }
    Shell shell(*terminal);
    bool running = true;
    if (!script.empty()) {
        std::ifstream in(script);
        if (!in) {
            std::cerr << "rk40-sim: cannot read " << script << '\n';
            return 1;
        }
        shell.setOutput(nullptr);
        std::string line;
        for (int number = 1; running && std::getline(in, line); ++number) {
            running = shell.execute(line);
            if (!shell.lastError().empty())
                std::cerr << "rk40-sim: " << script << ':' << number << ": " << shell.lastError() << '\n';
        }
        shell.setOutput(&std::cout);
    }
    if (!link.empty() && !makeLink(link, device))
        return 1;
    std::cout << device << std::endl;
    std::string pending;
    while (running) {
        pollfd p[2] = {{g_signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int r = ::poll(p, serve ? 1 : 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (p[0].revents & POLLIN) {
            char what = 1;
            if (::read(g_signalPipe[0], &what, 1) == 1 && what == 2) {
                std::cout << keyFile(*terminal) << std::flush;
                continue;
            }
            break;
        }
        if (serve || !(p[1].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            if (!pending.empty())
                shell.execute(pending);
            break;
        }
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t nl;
        while (running && (nl = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            running = shell.execute(line);
        }
    }
    if (!link.empty())
        removeLink(link, device);
    return 0;
}
