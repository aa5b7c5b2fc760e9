// The blocking socket layer over loopback.

#include "BlockingSocket.h"
#include "TestNetwork.h"

#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace remote;
using testsupport::unusedPort;

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A listening socket on an ephemeral loopback port.
class Listener {
public:
    Listener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(m_fd, 4) != 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            qFatal("cannot listen on loopback: %s", std::strerror(errno));
        m_port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    quint16 port() const { return m_port; }
    int accept() const { return ::accept(m_fd, nullptr, nullptr); }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

} // namespace

class TestBlockingSocket : public QObject {
    Q_OBJECT

private slots:
    void closeInAnyState();
    void classNames();
    void messages_data();
    void messages();
    void messageIntoSmallBuffer();
    void connectRefused();
    void connectWithLimitRefused();
    void sendAndReceive();
    void receiveAfterPeerClosed();
    void receiveTimeout();
    void errorNumberTakenAtConstruction();
};

void TestBlockingSocket::closeInAnyState()
{
    CBlockingSocket never;
    never.Close();
    never.Close();
    QCOMPARE(never.handle(), CBlockingSocket::kNoSocket);

    CBlockingSocket socket;
    socket.Create(SOCK_STREAM);
    QVERIFY(socket.handle() >= 0);
    socket.Close();
    QCOMPARE(socket.handle(), CBlockingSocket::kNoSocket);
    socket.Close();
}

void TestBlockingSocket::classNames()
{
    CBlockingSocket socket;
    QCOMPARE(socket.GetRuntimeClassName(), "CBlockingSocket");
    QCOMPARE(CBlockingSocketException(op::kSend, 0).GetRuntimeClassName(), "CBlockingSocketException");
}

void TestBlockingSocket::messages_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("with code") << "Receive" << 104 << "SOCKET ERROR function 'Receive()' Error code: 104";
    QTest::newRow("connect") << "Connect" << 111 << "SOCKET ERROR function 'Connect()' Error code: 111";
    QTest::newRow("without code") << "Receive timeout" << 0 << "SOCKET ERROR Receive timeout error";
    QTest::newRow("negative code") << "Send" << -5 << "SOCKET ERROR function 'Send()' Error code: -5";
}

void TestBlockingSocket::messages()
{
    QFETCH(QString, operation);
    QFETCH(int, code);
    const QByteArray name = operation.toLatin1();
    const CBlockingSocketException error(name.constData(), code);
    QCOMPARE(error.operation(), name.constData());
    QCOMPARE(error.errorCode(), code);
    QTEST(error.errorMessage(), "message");
    char buffer[200];
    QVERIFY(error.GetErrorMessage(buffer, sizeof buffer));
    QTEST(QString::fromLatin1(buffer), "message");
}

void TestBlockingSocket::messageIntoSmallBuffer()
{
    const CBlockingSocketException error(op::kReceive, 104);
    char buffer[12];
    std::memset(buffer, '#', sizeof buffer);
    unsigned help = 77;
    QVERIFY(error.GetErrorMessage(buffer, 10, &help));
    QCOMPARE(QByteArray(buffer), QByteArray("SOCKET ER"));
    QCOMPARE(buffer[10], '#');
    QCOMPARE(help, 77u);
    QVERIFY(error.GetErrorMessage(buffer, 0));   // nothing written
    QCOMPARE(buffer[0], 'S');
    QVERIFY(error.GetErrorMessage(buffer, 1));
    QCOMPARE(buffer[0], '\0');
}

void TestBlockingSocket::connectRefused()
{
    CBlockingSocket socket;
    socket.Create(SOCK_STREAM);
    try {
        socket.Connect(loopback(unusedPort()));
        QFAIL("connected to a port without a listener");
    } catch (const CBlockingSocketException& error) {
        QCOMPARE(error.operation(), op::kConnect);
        QCOMPARE(error.errorCode(), ECONNREFUSED);
        QCOMPARE(error.errorMessage(), QStringLiteral("SOCKET ERROR function 'Connect()' Error code: %1").arg(ECONNREFUSED));
    }
    socket.Close();
}

void TestBlockingSocket::connectWithLimitRefused()
{
    CBlockingSocket socket;
    socket.Create(SOCK_STREAM);
    try {
        socket.Connect(loopback(unusedPort()), 5);
        QFAIL("connected to a port without a listener");
    } catch (const CBlockingSocketException& error) {
        QCOMPARE(error.operation(), op::kConnect);
        QCOMPARE(error.errorCode(), ECONNREFUSED);
    }
}

void TestBlockingSocket::sendAndReceive()
{
    Listener listener;
    CBlockingSocket socket;
    socket.Create(SOCK_STREAM);
    socket.Connect(loopback(listener.port()), 5);
    const int peer = listener.accept();
    QVERIFY(peer >= 0);

    QCOMPARE(socket.Send("hello", 5, 5), 5);
    char buffer[16] = {};
    QCOMPARE(::recv(peer, buffer, sizeof buffer, 0), ssize_t(5));
    QCOMPARE(QByteArray(buffer), QByteArray("hello"));

    QCOMPARE(::send(peer, "world!", 6, 0), ssize_t(6));
    // One call, at most the capacity.
    QCOMPARE(socket.Receive(buffer, 4, 5), 4);
    QCOMPARE(QByteArray(buffer, 4), QByteArray("worl"));
    QCOMPARE(socket.Receive(buffer, 16, 0), 2);
    ::close(peer);
    socket.Close();
}

void TestBlockingSocket::receiveAfterPeerClosed()
{
    Listener listener;
    CBlockingSocket socket;
    socket.Create(SOCK_STREAM);
    socket.Connect(loopback(listener.port()));
    ::close(listener.accept());
    char buffer[8];
    QCOMPARE(socket.Receive(buffer, sizeof buffer, 0), 0);
    socket.Close();
}

void TestBlockingSocket::receiveTimeout()
{
    Listener listener;
    CBlockingSocket socket;
    socket.Create(SOCK_STREAM);
    socket.Connect(loopback(listener.port()));
    const int peer = listener.accept();   // says nothing
    char buffer[8];
    errno = EINVAL;   // left over from something earlier
    try {
        socket.Receive(buffer, sizeof buffer, 1);
        QFAIL("received from a silent peer");
    } catch (const CBlockingSocketException& error) {
        QCOMPARE(error.operation(), op::kReceiveTimeout);
        QCOMPARE(error.errorCode(), 0);
        QCOMPARE(error.errorMessage(), QStringLiteral("SOCKET ERROR Receive timeout error"));
    }
    ::close(peer);
    socket.Close();
}

void TestBlockingSocket::errorNumberTakenAtConstruction()
{
    errno = EPIPE;
    const CBlockingSocketException error(op::kSend);
    errno = 0;
    QCOMPARE(error.errorCode(), EPIPE);

    CBlockingSocket closed;   // no socket: the call itself fails
    char buffer[4];
    try {
        closed.Receive(buffer, sizeof buffer, 0);
        QFAIL("received without a socket");
    } catch (const CBlockingSocketException& failure) {
        QCOMPARE(failure.operation(), op::kReceive);
        QCOMPARE(failure.errorCode(), EBADF);
    }
}

QTEST_APPLESS_MAIN(TestBlockingSocket)
#include "tst_blocking_socket.moc"
