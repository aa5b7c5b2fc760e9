#include "GatewaySimulator.h"

#include <QDateTime>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gatewaysim {

namespace {

constexpr int kMaxRequest = 8192;
constexpr auto kRequestIdle = std::chrono::seconds(5);
// However it trickles in, a request is complete within this time.
constexpr auto kRequestDeadline = std::chrono::seconds(30);

bool isDigits(QByteArrayView text)
{
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return !text.isEmpty();
}

int number(QByteArrayView digits)
{
    int value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

// False when the client is gone (the rest of a reply is then not worth
// waiting for).
bool sendAll(int fd, const char* data, qsizetype length)
{
    while (length > 0) {
        const ssize_t sent = ::send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (sent <= 0) {
            if (sent < 0 && errno == EINTR)
                continue;
            return false;
        }
        data += sent;
        length -= sent;
    }
    return true;
}

// Whether the client has closed its side (or reset the connection).
bool clientGone(int fd)
{
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 0) <= 0)
        return false;
    if (entry.revents & (POLLHUP | POLLERR))
        return true;
    char byte;
    return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

// Closes with a reset instead of an orderly end: unsent and unread bytes are
// dropped and the peer's next receive fails with ECONNRESET.
void resetConnection(int fd)
{
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

// The reply grown to `size` bytes: its data repeated before the final full
// stop (or zeros when it has no data).
QByteArray oversized(const QByteArray& reply, int size)
{
    if (size <= reply.size())
        return reply;
    QByteArray head = reply.left(32);
    QByteArray data = reply.mid(32);
    const bool stop = data.endsWith('.');
    if (stop)
        data.chop(1);
    if (data.isEmpty())
        data = "0";
    QByteArray out = head;
    while (out.size() < size - 1)
        out += data;
    out.truncate(size - 1);
    out += stop ? '.' : data.at(0);
    return out;
}

} // namespace

ParsedRequest parseRequest(QByteArrayView text)
{
    // "VeTr 1 NNNNNNN plok C CMND" is 26 characters, then "." or " body."
    ParsedRequest parsed;
    if (text.size() < 27 || !text.startsWith("VeTr 1 ") || text.back() != '.')
        return parsed;
    const QByteArrayView length = text.sliced(7, 7);
    if (!isDigits(length) || text[14] != ' ' || text[19] != ' ' || text[21] != ' ')
        return parsed;
    parsed.length = number(length);
    parsed.access = text.sliced(15, 4).toByteArray();
    parsed.portChar = text[20];
    parsed.serialPort = static_cast<quint8>(parsed.portChar) - '0';
    parsed.command = text.sliced(22, 4).toByteArray();
    const QByteArrayView rest = text.sliced(26, text.size() - 27);   // between command and full stop
    if (!rest.isEmpty()) {
        if (rest[0] != ' ')
            return parsed;
        parsed.body = rest.sliced(1).toByteArray();
    }
    parsed.ok = true;
    return parsed;
}

QByteArray makeReply(char portChar, int code, QByteArrayView command, QByteArrayView data)
{
    char head[64];
    std::snprintf(head, sizeof head, "VeTr 1 %07d plok %c %04d ", static_cast<int>(data.size()) % 10'000'000,
                  portChar, code % 10'000);
    QByteArray reply(head);
    QByteArray word = command.toByteArray().leftJustified(4, ' ', true);
    reply += word;
    reply += ' ';
    reply += data;
    return reply;
}

GatewaySimulator::GatewaySimulator() = default;

GatewaySimulator::~GatewaySimulator()
{
    stop();
}

bool GatewaySimulator::start(quint16 port, QString* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
        stop();
        return false;
    };
    if (m_thread.joinable())
        return true;
    m_stopping = false;
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        return fail("pipe");
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        return fail("socket");
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return fail("bind");
    if (::listen(m_listener, 8) != 0)
        return fail("listen");
    socklen_t length = sizeof address;
    if (::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return fail("getsockname");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
    return true;
}

void GatewaySimulator::stop()
{
    m_stopping = true;
    if (m_wake[1] >= 0) {
        const char byte = 'x';
        [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &byte, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    // The wake-up byte stays unread, so every client thread sees it too.
    joinClients(true);
    for (int* fd : {&m_listener, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void GatewaySimulator::setSerialPorts(const std::vector<int>& ports)
{
    std::lock_guard lock(m_mutex);
    m_serialPorts = ports;
}

std::vector<int> GatewaySimulator::serialPorts() const
{
    std::lock_guard lock(m_mutex);
    return m_serialPorts;
}

SimTerminal& GatewaySimulator::terminalLocked(int serialPort)
{
    return m_terminals[serialPort];
}

SimTerminal GatewaySimulator::terminal(int serialPort) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_terminals.find(serialPort);
    return found == m_terminals.end() ? SimTerminal{} : found->second;
}

void GatewaySimulator::setTerminal(int serialPort, const SimTerminal& terminal)
{
    std::lock_guard lock(m_mutex);
    m_terminals[serialPort] = terminal;
}

void GatewaySimulator::setDefaultBehaviour(const Behaviour& behaviour)
{
    std::lock_guard lock(m_mutex);
    m_default = behaviour;
}

void GatewaySimulator::pushBehaviour(const Behaviour& behaviour)
{
    std::lock_guard lock(m_mutex);
    m_queue.push_back(behaviour);
}

QList<QByteArray> GatewaySimulator::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void GatewaySimulator::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

QByteArray GatewaySimulator::answer(QByteArrayView requestText)
{
    const ParsedRequest request = parseRequest(requestText);
    if (!request.ok)
        return makeReply('0', kMalformed, "????", {});
    const QByteArray& command = request.command;
    auto reply = [&](int code, QByteArrayView data = {}) {
        return makeReply(request.portChar, code, command, data);
    };
    if (request.access != "plok")
        return reply(kAccessDenied);

    std::lock_guard lock(m_mutex);
    if (command == "TEST") {
        QByteArray data = QByteArray::number(static_cast<qsizetype>(m_serialPorts.size()));
        for (int port : m_serialPorts)
            data += ',' + QByteArray::number(port);
        return reply(kOk, data + '.');
    }
    if (command != "gEPT" && command != "sEPT" && command != "STAT")
        return reply(kUnknownCommand);
    if (std::find(m_serialPorts.begin(), m_serialPorts.end(), request.serialPort) == m_serialPorts.end())
        return reply(kNoTerminal);
    SimTerminal& terminal = terminalLocked(request.serialPort);

    if (command == "gEPT") {
        QByteArray data;
        for (std::size_t address = 10; address <= 39; ++address) {
            char item[16];
            std::snprintf(item, sizeof item, "%04zu,%05d;", address, static_cast<int>(terminal.eeprom[address]));
            data += item;
        }
        return reply(kOk, data + '.');
    }

    if (command == "sEPT") {
        const QByteArray& body = request.body;
        if (request.length != body.size() + 1 || body.isEmpty() || body.size() % 11 != 0)
            return reply(kBadBody);
        std::vector<std::pair<int, int>> words;
        for (qsizetype at = 0; at < body.size(); at += 11) {
            const QByteArrayView item(body.constData() + at, 11);
            if (!isDigits(item.first(4)) || item[4] != ',' || !isDigits(item.sliced(5, 5)) || item[10] != ';')
                return reply(kBadBody);
            const int address = number(item.first(4));
            const int value = number(item.sliced(5, 5));
            if (address > 255 || value > 65535)
                return reply(kBadBody);
            words.emplace_back(address, value);
        }
        for (const auto& [address, value] : words)
            terminal.eeprom[static_cast<std::size_t>(address)] = static_cast<quint16>(value);
        return reply(kOk, ".");
    }

    // STAT: fixed columns, one blank between them.
    const QDateTime now = QDateTime::currentDateTime();
    const QString time = terminal.time.isEmpty() ? now.toString(QStringLiteral("HH:mm")) : terminal.time;
    const QString date = terminal.date.isEmpty() ? now.toString(QStringLiteral("dd.MM.yy")) : terminal.date;
    const int day = terminal.dayOfWeek >= 0 ? terminal.dayOfWeek : now.date().dayOfWeek() - 1;
    char data[128];
    std::snprintf(data, sizeof data, "%-5.5s %-8.8s %1d %04d %-5.5s %05d %05d %05d.",
                  time.toLatin1().constData(), date.toLatin1().constData(), day % 10, terminal.buffered % 10000,
                  terminal.version.toLatin1().constData(), terminal.resetCount % 100000,
                  terminal.fatalResets % 100000, terminal.dipSwitch % 100000);
    return reply(kOk, data);
}

bool GatewaySimulator::pause(std::chrono::milliseconds duration) const
{
    if (duration.count() <= 0)
        return !m_stopping;
    pollfd wake{m_wake[0], POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(std::min<qint64>(duration.count(), 3'600'000)));
    return !m_stopping;
}

void GatewaySimulator::waitForClose(int connection) const
{
    char sink[256];
    while (!m_stopping) {
        pollfd entries[2] = {{connection, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0 && errno != EINTR)
            return;
        if (entries[1].revents)
            return;
        if (entries[0].revents) {
            const ssize_t got = ::recv(connection, sink, sizeof sink, 0);
            if (got <= 0)
                return;
        }
    }
}

void GatewaySimulator::serve()
{
    while (!m_stopping) {
        pollfd entries[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (entries[1].revents || m_stopping)
            return;
        if (entries[0].revents) {
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0)
                startClient(connection);
        }
    }
}

void GatewaySimulator::startClient(int connection)
{
    joinClients(false);
    if (static_cast<int>(m_clients.size()) >= kMaxClients) {
        ::close(connection);
        return;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, connection, done] {
        handle(connection);
        ::close(connection);
        *done = true;
    });
    m_clients.push_back({std::move(thread), std::move(done)});
}

void GatewaySimulator::joinClients(bool all)
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (all || *it->done) {
            it->thread.join();
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

void GatewaySimulator::recordLocked(const QByteArray& request)
{
    m_requests.append(request);
    if (m_requests.size() > kRequestHistory)
        m_requests.remove(0, m_requests.size() - kRequestHistory);
}

void GatewaySimulator::handle(int connection)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_queue.empty() && m_queue.front().mode == Mode::ResetOnAccept) {
            m_queue.pop_front();
            recordLocked(QByteArray());
            resetConnection(connection);
            return;
        }
        if (m_queue.empty() && m_default.mode == Mode::ResetOnAccept) {
            recordLocked(QByteArray());
            resetConnection(connection);
            return;
        }
    }
    // Read the request up to its full stop.
    QByteArray text;
    char buffer[1024];
    const auto deadline = std::chrono::steady_clock::now() + kRequestDeadline;
    while (!text.contains('.') && text.size() < kMaxRequest && !m_stopping) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd entries[2] = {{connection, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(entries, 2, static_cast<int>(std::min<qint64>(
                                                 left.count(), std::chrono::milliseconds(kRequestIdle).count())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || entries[1].revents)
            break;
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        text.append(buffer, got);
    }
    if (m_stopping)
        return;
    const qsizetype stop = text.indexOf('.');
    if (stop >= 0)
        text.truncate(stop + 1);

    Behaviour behaviour;
    {
        std::lock_guard lock(m_mutex);
        recordLocked(text);
        if (!m_queue.empty()) {
            behaviour = m_queue.front();
            m_queue.pop_front();
        } else {
            behaviour = m_default;
        }
    }

    QByteArray reply;
    if (behaviour.mode == Mode::Raw) {
        reply = behaviour.raw;
    } else if (behaviour.resultCode != 0) {
        const ParsedRequest request = parseRequest(text);
        reply = makeReply(request.ok ? request.portChar : '0', behaviour.resultCode,
                          request.ok ? QByteArrayView(request.command) : QByteArrayView("????"), {});
    } else {
        reply = answer(text);
    }

    if (behaviour.oversize > 0)
        reply = oversized(reply, behaviour.oversize);
    if (behaviour.noFullStop && reply.endsWith('.'))
        reply.chop(1);

    const int cut = std::max(behaviour.cut, 1);
    switch (behaviour.mode) {
    case Mode::Normal:
    case Mode::Raw:
        sendAll(connection, reply.constData(), reply.size());
        break;
    case Mode::Short:
        sendAll(connection, reply.constData(), std::min<qsizetype>(cut, reply.size()));
        return;   // closed at once
    case Mode::Split:
        for (qsizetype at = 0; at < reply.size(); at += cut) {
            if (at > 0 && (!pause(behaviour.delay) || clientGone(connection)))
                return;
            if (!sendAll(connection, reply.constData() + at, std::min<qsizetype>(cut, reply.size() - at)))
                return;
        }
        break;
    case Mode::Slow:
        if (!pause(behaviour.delay))
            return;
        sendAll(connection, reply.constData(), reply.size());
        break;
    case Mode::Empty:
        return;
    case Mode::Silent:
        waitForClose(connection);
        return;
    case Mode::Reset:
        sendAll(connection, reply.constData(), std::clamp<qsizetype>(behaviour.cut, 0, reply.size()));
        // Let the bytes leave before the reset drops whatever is still queued.
        if (behaviour.cut > 0 && !pause(std::chrono::milliseconds(50)))
            return;
        resetConnection(connection);
        return;
    case Mode::ResetOnAccept:
        resetConnection(connection);
        return;
    case Mode::HalfClose:
        sendAll(connection, reply.constData(),
                behaviour.cut < 0 ? reply.size() : std::min<qsizetype>(behaviour.cut, reply.size()));
        ::shutdown(connection, SHUT_WR);
        waitForClose(connection);
        return;
    case Mode::Dribble: {
        const int on = 1;
        ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        for (qsizetype at = 0; at < reply.size(); ++at) {
            if (at > 0 && (!pause(behaviour.delay) || clientGone(connection)))
                return;
            if (!sendAll(connection, reply.constData() + at, 1))
                return;
        }
        break;
    }
    }
    if (behaviour.keepOpen)
        waitForClose(connection);
}

} // namespace gatewaysim
