#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A remote gateway on loopback for tests and the demo. It serves each
// connection in a thread of its own (up to kMaxClients at once, so a slow
// client holds up no other): reads one request text ("VeTr 1 ... ."),
// answers it from simulated terminals on its serial ports and closes the
// connection.
//
// Reply layout: "VeTr 1 <length:7> plok <port char> <code:4> <command> <data>"
// so that the result code sits in bytes 22..25 and the data starts at 32.
//
// Result codes of its own, when a request cannot be served:
//   1 malformed request, 2 wrong access word, 3 no terminal on that serial
//   port, 4 unknown command, 5 malformed write body.
namespace gatewaysim {

inline constexpr quint16 kDefaultPort = 15027;
// Connections served at the same time; one more is closed at once.
inline constexpr int kMaxClients = 16;
// Requests kept for requests(): the latest ones.
inline constexpr int kRequestHistory = 256;

enum ResultCode {
    kOk = 0,
    kMalformed = 1,
    kAccessDenied = 2,
    kNoTerminal = 3,
    kUnknownCommand = 4,
    kBadBody = 5,
};

// The state of one simulated terminal.
struct SimTerminal {
    std::array<quint16, 256> eeprom{};
    QString time;            // "HH:MM"; empty: the simulator's clock
    QString date;            // "DD.MM.YY"; empty: the simulator's clock
    int dayOfWeek = -1;      // 0 = Monday; -1: from the simulator's clock
    int buffered = 0;
    QString version = QStringLiteral("06.29");
    int resetCount = 0;
    int fatalResets = 0;
    int dipSwitch = 0;
};

// How the next reply is delivered.
enum class Mode {
    Normal,  // the whole reply in one piece
    Short,   // only the first `cut` bytes of the reply, then close
    Split,   // the reply in pieces of `cut` bytes, `delay` apart
    Slow,    // the whole reply after `delay`
    Empty,   // close without sending anything
    Silent,  // send nothing and keep the connection open
    Raw,     // send `raw` instead of the reply
    Reset,   // the first `cut` bytes of the reply (0: none), then a reset (RST)
    ResetOnAccept, // a reset at once, before the request is read
    HalfClose, // the first `cut` bytes (-1: all), then no more sending (FIN),
               // reading on until the client closes
    Dribble, // the reply one byte at a time, `delay` apart
};

struct Behaviour {
    Mode mode = Mode::Normal;
    int resultCode = 0;                  // not 0: reply with this code and no data
    int cut = 20;
    std::chrono::milliseconds delay{0};
    QByteArray raw;
    bool keepOpen = false;               // after replying, wait for the client to close
    bool noFullStop = false;             // the reply goes without the full stop that ends its data
    // Not 0: the reply is made this many bytes long by repeating its data
    // before the closing full stop (a reply larger than the client's buffer).
    int oversize = 0;
};

// A request text taken apart. ok is false when it does not have the shape
// "VeTr 1 NNNNNNN plok C CMND[ body]."
struct ParsedRequest {
    bool ok = false;
    int length = 0;
    QByteArray access;
    char portChar = '0';
    int serialPort = 0;
    QByteArray command;
    QByteArray body;          // the write body, without the full stop
};
ParsedRequest parseRequest(QByteArrayView text);

// A reply in the layout above.
QByteArray makeReply(char portChar, int code, QByteArrayView command, QByteArrayView data);

class GatewaySimulator {
public:
    GatewaySimulator();
    ~GatewaySimulator();
    GatewaySimulator(const GatewaySimulator&) = delete;
    GatewaySimulator& operator=(const GatewaySimulator&) = delete;

    // Listens on 127.0.0.1:port (0: an ephemeral port) and serves in a thread
    // of its own. Returns false with a message when it cannot listen.
    bool start(quint16 port = 0, QString* error = nullptr);
    void stop();
    quint16 port() const { return m_port; }

    // The gateway's serial ports; a terminal hangs on each. Default {1, 2}.
    void setSerialPorts(const std::vector<int>& ports);
    std::vector<int> serialPorts() const;
    SimTerminal terminal(int serialPort) const;
    void setTerminal(int serialPort, const SimTerminal& terminal);

    // The behaviour used when no queued one is left.
    void setDefaultBehaviour(const Behaviour& behaviour);
    // Queues a behaviour for one request; queued ones are used first.
    void pushBehaviour(const Behaviour& behaviour);

    // The last kRequestHistory request texts received, oldest first.
    QList<QByteArray> requests() const;
    void clearRequests();

    // The normal answer to a request text; a write changes the terminal.
    QByteArray answer(QByteArrayView requestText);

private:
    void serve();
    void handle(int connection);
    // Serves the connection in a thread of its own, or closes it when
    // kMaxClients are being served.
    void startClient(int connection);
    // Joins the client threads that have ended (all of them with `all`).
    void joinClients(bool all);
    void recordLocked(const QByteArray& request);
    // Sleeps, returning false early when the simulator is stopping.
    bool pause(std::chrono::milliseconds duration) const;
    void waitForClose(int connection) const;
    SimTerminal& terminalLocked(int serialPort);

    mutable std::mutex m_mutex;
    std::vector<int> m_serialPorts{1, 2};
    std::map<int, SimTerminal> m_terminals;
    Behaviour m_default;
    std::deque<Behaviour> m_queue;
    QList<QByteArray> m_requests;

    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;

    struct Client {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Client> m_clients;   // used by the serving thread only
};

} // namespace gatewaysim
